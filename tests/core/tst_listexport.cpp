// Export of a list to a workbook or CSV, read back with openpyxl and
// Python's csv module; the preview of a browser's report.
#include "BenchSupport.h"
#include "core/ListExport.h"
#include "core/TableReport.h"
#include "core/ZipWriter.h"
#include "records/ViewInDlg.h"
#include "records/ViewWantBuyDlg.h"
#include "support/BrowserTest.h"
#include "ui/CommandTable.h"
#include "ui/FileDialogService.h"
#include "ui/MessageService.h"
#include "ui/PrintReport.h"
#include "ui/RecordListView.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <sys/resource.h>

#include <sys/stat.h>

using namespace vok;

namespace {

// Texts a file format can get wrong: Chinese, quotes, commas, line breaks,
// leading zeros, a lone quote, an empty field.
// The rows every test starts from.
void seedRows(Connection& c)
{
    test::seed(c, "DEVICE_IN",
               {{"0012", "2004-1-5 9:3:7", "O'Brien, \"Ltd\"", "010-1", 2.5, 9.9, "王"},
                {"投影仪-1", "2004-10-1 0:0:0", "北京海淀电子设备公司", "", 10000, 10000, "李"},
                {"D001", "2004-9-30 23:59:59", "第一行\n第二行", "\"", 1, 0.1, ""},
                {"a,b", "2004-9-30 23:59:59", "x\r\ny", "789", 0, 5, "张 三"},
                {" 边 ", "2004-9-30 23:59:59", "_x0041_ <a&b>", "\x07😀", 0.0078125, 3.4e38, ""}});
}

QJsonObject readBack(const QString& path)
{
    QProcess p;
    // Debian's Python, which has python3-openpyxl.
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(VOK_READ_EXPORT), path});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        qWarning("%s", p.readAllStandardError().constData());
        return {};
    }
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

QStringList folderEntries(const QString& dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

// A list of n generated rows, never read from a database.
ExportSource generated(int n)
{
    ExportSource s;
    s.rows = n;
    s.columns = 2;
    s.heading = [](int c) { return QStringLiteral("列%1").arg(c); };
    s.text = [](int r, int c) { return QStringLiteral("%1-%2").arg(r).arg(c); };
    s.numeric = [](int) { return false; };
    return s;
}

ReportCell generatedCells()
{
    return [](int r, int c) { return QStringLiteral("第%1行-%2").arg(r).arg(c); };
}

} // namespace

class TestListExport : public QObject, test::BrowserTest
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void writesWhatTheListShows_data();
    void writesWhatTheListShows();
    void figuresKeptAsTextAreNumbers();
    void csvFormulasOpenAsText_data();
    void csvFormulasOpenAsText();
    void cancelledDialogWritesNothing();
    void cancelledExportLeavesNoFile_data();
    void cancelledExportLeavesNoFile();
    void unwritableFileIsReported_data();
    void unwritableFileIsReported();
    void longListIsWrittenWhole();
    void tooManyRowsForAWorkbook();
    void filesFollowTheUserMask_data();
    void filesFollowTheUserMask();
    void fullDiskIsReported_data();
    void fullDiskIsReported();
    void fullDiskUnderExport_data();
    void fullDiskUnderExport();
    void previewShowsEveryPage();
    void longPreview_data();
    void longPreview();
    void previewGivesMemoryBack();

private:
    std::unique_ptr<CViewInDlg> open() { return openBrowser<CViewInDlg>(); }
    void triggerMenuItem(CViewInDlg& dlg, const QString& text);
};

void TestListExport::init()
{
    openDatabase(seedRows, QStringLiteral("管理员"));
}

void TestListExport::cleanup()
{
    closeDatabase();
}

void TestListExport::triggerMenuItem(CViewInDlg& dlg, const QString& text)
{
    std::unique_ptr<QMenu> menu(dlg.commands()->createMenu(nullptr));
    for (QAction* a : menu->actions())
        if (a->text().startsWith(text)) {
            a->trigger();
            QCoreApplication::processEvents();
            return;
        }
    QFAIL(qPrintable(QStringLiteral("no menu item ") + text));
}

void TestListExport::writesWhatTheListShows_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("written");
    QTest::newRow("workbook") << "列表.xlsx"
                              << "列表.xlsx";
    QTest::newRow("CSV") << "列表.csv"
                         << "列表.csv";
    QTest::newRow("no suffix: a workbook") << "列表"
                                           << "列表.xlsx";
}

void TestListExport::writesWhatTheListShows()
{
    QFETCH(QString, answer);
    QFETCH(QString, written);
    auto dlg = open();
    const QString path = m_sandbox->dataDir() + u'/' + written;
    FileDialogs::queueAnswer(m_sandbox->dataDir() + u'/' + answer);
    QTest::keyClick(dlg.get(), Qt::Key_E, Qt::ControlModifier);

    QCOMPARE(FileDialogs::asked().size(), 1);
    QVERIFY(FileDialogs::asked().first().suggested.endsWith(QStringLiteral("/入库信息表.xlsx")));
    QCOMPARE(Messages::shownTexts(), QStringList{QStringLiteral("已将5行导出到“%1”。").arg(path)});
    QVERIFY(!folderEntries(m_sandbox->dataDir()).join(u' ').contains(QStringLiteral(".列表")));

    const QJsonObject file = readBack(path);
    const QJsonArray rows = file.value(QStringLiteral("rows")).toArray();
    const RecordListModel& list = *dlg->list()->records();
    QCOMPARE(rows.size(), list.rowCount() + 1);
    const bool csv = written.endsWith(QStringLiteral(".csv"));
    for (int r = 0; r <= list.rowCount(); ++r) {
        const QJsonArray cells = rows[r].toArray();
        for (int c = 0; c < list.columnCount(); ++c) {
            const QString shown = r == 0 ? list.columns()[size_t(c)].heading : list.text(r - 1, c);
            const QJsonValue v = cells.at(c);
            if (v.isDouble()) {
                QVERIFY(!csv && list.columns()[size_t(c)].kind == ListColumn::Single);
                QCOMPARE(QString::asprintf("%f", v.toDouble()), shown);
            } else {
                QCOMPARE(v.isNull() ? QString() : v.toString(), shown);
            }
        }
    }
    if (csv) {
        QVERIFY(file.value(QStringLiteral("bom")).toBool());
        QVERIFY(file.value(QStringLiteral("crlf")).toBool());
        return;
    }
    QVERIFY(file.value(QStringLiteral("valid")).toBool());
    QVERIFY(file.value(QStringLiteral("bold")).toBool());
    QCOMPARE(file.value(QStringLiteral("frozen")).toString(), QStringLiteral("A2"));
    QCOMPARE(file.value(QStringLiteral("formats")).toArray(),
             QJsonArray{QStringLiteral("0.000000")});
    // Columns as wide as their texts, a Chinese character counting two:
    // the supplier column holds 北京海淀电子设备公司.
    const QJsonArray widths = file.value(QStringLiteral("widths")).toArray();
    QCOMPARE(widths.size(), 7);
    QVERIFY(widths[2].toDouble() >= 20);
    QVERIFY(widths[0].toDouble() >= 8 && widths[0].toDouble() < 20);
}

// A purchase plan keeps its quantities and price as text; the workbook
// holds them as numbers, as the stock-in workbook does, so that a sum
// works. A text that is no number stays text.
// A text a spreadsheet would run as a formula is written after a single
// quote; numbers, in a numeric column or as text, stay numbers.
void TestListExport::csvFormulasOpenAsText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("written");
    QTest::newRow("=") << "=1+1"
                       << "'=1+1";
    QTest::newRow("dde") << "=cmd|' /C calc'!A0"
                         << "'=cmd|' /C calc'!A0";
    QTest::newRow("+") << "+86 10 1234"
                       << "'+86 10 1234";
    QTest::newRow("-") << "-2+3"
                       << "'-2+3";
    QTest::newRow("@") << "@SUM(A1)"
                       << "'@SUM(A1)";
    QTest::newRow("tab") << "\t=1"
                         << "'\t=1";
    QTest::newRow("carriage return") << "\r=1"
                                     << "'\r=1";
    QTest::newRow("a quote before =") << "'=1"
                                      << "''=1";
    QTest::newRow("negative number as text") << "-5"
                                             << "-5";
    QTest::newRow("plain") << "a=1"
                           << "a=1";
}

void TestListExport::csvFormulasOpenAsText()
{
    QFETCH(QString, text);
    QFETCH(QString, written);
    ExportSource source = generated(1);
    source.text = [&](int, int c) { return c == 0 ? text : QStringLiteral("-5"); };
    source.numeric = [](int c) { return c == 1; };
    source.number = [](int, int) { return -5.0f; };
    const QString path = m_sandbox->dataDir() + "/f.csv";
    QVERIFY(exportList(source, path, ExportFormat::Csv));
    const QJsonArray rows = readBack(path).value(QStringLiteral("rows")).toArray();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[1].toArray(), (QJsonArray{written, "-5.000000"}));
}

void TestListExport::figuresKeptAsTextAreNumbers()
{
    test::seed(*m_c, "DEVICE_WANTBUY",
               {{"001", "5", "8", "10", "5", "华强", "1200.5", "2004-6-1 12:0:0"},
                {"002", "", "x", "10.000000", "5", "", "0", "2004-6-2 12:0:0"}});
    const auto dlg = test::openForm<CViewWantBuyDlg>(test::formContext(m_c, nullptr));
    QTRY_COMPARE(dlg->list()->records()->rowCount(), 2);
    const QString path = m_sandbox->dataDir() + "/plan.xlsx";
    QVERIFY(exportList(exportSourceOf(*dlg->list()->records()), path, ExportFormat::Xlsx));
    const QJsonArray rows = readBack(path).value(QStringLiteral("rows")).toArray();
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[1].toArray(),
             (QJsonArray{"002", QJsonValue(), "x", 10, 5, QJsonValue(), 0, "2004-06-02 12:00:00"}));
    QCOMPARE(rows[2].toArray(),
             (QJsonArray{"001", 5, 8, 10, 5, "华强", 1200.5, "2004-06-01 12:00:00"}));
}

void TestListExport::cancelledDialogWritesNothing()
{
    auto dlg = open();
    const QStringList before = folderEntries(m_sandbox->dataDir());
    triggerMenuItem(*dlg, QStringLiteral("导出…"));
    QCOMPARE(FileDialogs::asked().size(), 1);
    QCOMPARE(FileDialogs::asked().first().filters,
             (QStringList{QStringLiteral("Excel 工作簿 (*.xlsx)"),
                          QStringLiteral("CSV 文件（逗号分隔，UTF-8）(*.csv)")}));
    QVERIFY(Messages::shown().isEmpty());
    QCOMPARE(folderEntries(m_sandbox->dataDir()), before);
}

void TestListExport::cancelledExportLeavesNoFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("workbook") << "list.xlsx";
    QTest::newRow("CSV") << "list.csv";
}

void TestListExport::cancelledExportLeavesNoFile()
{
    QFETCH(QString, name);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    // An earlier file of the name stays as it was.
    QFile earlier(path);
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier");
    earlier.close();
    int calls = 0;
    QVERIFY(!exportList(generated(20000), path, exportFormatFor(path), [&](int) {
        ++calls;
        return calls < 2;
    }));
    QCOMPARE(calls, 2);
    QCOMPARE(folderEntries(dir.path()), QStringList{name});
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("earlier"));
}

void TestListExport::unwritableFileIsReported_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");
    QTest::newRow("workbook, no folder") << "missing/list.xlsx"
                                         << "文件夹“%1/missing”不存在。";
    QTest::newRow("CSV, no folder") << "missing/list.csv"
                                    << "文件夹“%1/missing”不存在。";
    QTest::newRow("folder is a file") << "vok1.db/list.xlsx"
                                      << "文件夹“%1/vok1.db”不存在。";
}

void TestListExport::unwritableFileIsReported()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    auto dlg = open();
    const QString dir = m_sandbox->dataDir();
    const QStringList before = folderEntries(dir);
    FileDialogs::queueAnswer(dir + u'/' + name);
    triggerMenuItem(*dlg, QStringLiteral("导出…"));
    QCOMPARE(Messages::shownTexts(),
             QStringList{
                 QStringLiteral("无法导出到“%1”：\r\n%2").arg(dir + u'/' + name, reason.arg(dir))});
    QCOMPARE(Messages::shown().first().icon, Messages::Icon::Exclamation);
    QCOMPARE(folderEntries(dir), before);
}

void TestListExport::longListIsWrittenWhole()
{
    // Many times the writer's buffer, and one cell longer than it.
    ExportSource source = generated(20000);
    const QString longText(100000, u'&');
    source.text = [&](int r, int c) {
        return r == 7 && c == 1 ? longText : QStringLiteral("%1-%2").arg(r).arg(c);
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("long.xlsx"));
    QVERIFY(exportList(source, path, ExportFormat::Xlsx));
    const QJsonObject file = readBack(path);
    QVERIFY(file.value(QStringLiteral("valid")).toBool());
    const QJsonArray rows = file.value(QStringLiteral("rows")).toArray();
    QCOMPARE(rows.size(), source.rows + 1);
    for (int r = 0; r < source.rows; ++r)
        for (int c = 0; c < source.columns; ++c)
            QCOMPARE(rows[r + 1].toArray().at(c).toString(), source.text(r, c));
}

void TestListExport::filesFollowTheUserMask_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("mask");
    QTest::addColumn<int>("mode");
    for (const char* name : {"list.xlsx", "list.csv"}) {
        QTest::addRow("%s, umask 022", name) << name << 022 << 0644;
        QTest::addRow("%s, umask 077", name) << name << 077 << 0600;
        QTest::addRow("%s, umask 002", name) << name << 002 << 0664;
    }
}

void TestListExport::filesFollowTheUserMask()
{
    QFETCH(QString, name);
    QFETCH(int, mask);
    QFETCH(int, mode);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    const mode_t before = ::umask(mode_t(mask));
    const bool written = exportList(generated(3), path, exportFormatFor(path));
    ::umask(before);
    QVERIFY(written);
    struct stat st = {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 0777), mode);
}

void TestListExport::tooManyRowsForAWorkbook()
{
    QTemporaryDir dir;
    const QString error = test::failureText([&] {
        exportList(generated(kMaxWorkbookRows + 1), dir.filePath(QStringLiteral("big.xlsx")),
                   ExportFormat::Xlsx);
    });
    QCOMPARE(error, QStringLiteral("列表有1048576行，超过了 Excel 工作表能容纳的1048575行，"
                                   "请导出为 CSV 文件。"));
    QVERIFY(folderEntries(dir.path()).isEmpty());
}

void TestListExport::fullDiskIsReported_data()
{
    QTest::addColumn<bool>("streamed");
    QTest::newRow("a part written whole") << false;
    QTest::newRow("the streamed sheet") << true;
}

void TestListExport::fullDiskIsReported()
{
    QFETCH(bool, streamed);
    QFile full(QStringLiteral("/dev/full"));
    if (!full.open(QIODevice::WriteOnly))
        QSKIP("no /dev/full");
    const QString error = test::failureText([&] {
        if (streamed) {
            SheetStream sheet(full.handle());
            char* p = sheet.reserve(3);
            sheet.commit(std::copy_n("<x>", 3, p));
            sheet.finish();
        } else {
            ZipWriter(full.handle()).add("a.xml", "<a/>");
        }
    });
    QVERIFY2(error.startsWith(QStringLiteral("写入文件时出错，磁盘可能已满（")), qPrintable(error));
}

// A CSV file that cannot be written whole is told and never put in place:
// a device that takes nothing, and a file that outgrows the size the
// process may write (a disk filling up).
void TestListExport::fullDiskUnderExport_data()
{
    QTest::addColumn<bool>("device");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("suffix");
    for (const char* suffix : {"csv", "xlsx"}) {
        QTest::addRow("%s, /dev/full", suffix)
            << true << QStringLiteral("No space left on device") << suffix;
        QTest::addRow("%s, file grows past the limit", suffix)
            << false << QStringLiteral("File too large") << suffix;
    }
}

void TestListExport::fullDiskUnderExport()
{
    QFETCH(bool, device);
    QFETCH(QString, reason);
    QFETCH(QString, suffix);
    if (device && !QFileInfo(QStringLiteral("/dev/full")).exists())
        QSKIP("no /dev/full");
    const QString dir = m_sandbox->dataDir();
    const QString path =
        device ? QStringLiteral("/dev/full") : dir + QStringLiteral("/列表.") + suffix;
    const QStringList before = folderEntries(dir);
    rlimit was{};
    getrlimit(RLIMIT_FSIZE, &was);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (!device) {
        rlimit small = was;
        small.rlim_cur = 4096;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    const QString error = test::failureText([&] {
        exportList(generated(5000), path,
                   suffix == QLatin1String("csv") ? ExportFormat::Csv : ExportFormat::Xlsx);
    });
    setrlimit(RLIMIT_FSIZE, &was);
    std::signal(SIGXFSZ, oldHandler);
    QCOMPARE(error, QStringLiteral("写入文件时出错，磁盘可能已满（%1）。").arg(reason));
    QCOMPARE(folderEntries(dir), before);
    QVERIFY(!QFileInfo(QStringLiteral("/dev/full")).isFile());
}

void TestListExport::previewShowsEveryPage()
{
    QList<QVariantList> rows;
    for (int i = 0; i < 100; ++i)
        rows << QVariantList{QStringLiteral("D%1").arg(i),
                             QStringLiteral("2005-1-1 0:0:%1").arg(i % 60),
                             "厂",
                             "1",
                             1,
                             1,
                             "张"};
    test::seed(*m_c, "DEVICE_IN", rows);
    auto dlg = open();
    int pages = -1;
    QString title;
    // The preview is modal: read it once it is up, then close it.
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto* preview = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
        if (!preview)
            return;
        poll.stop();
        title = preview->windowTitle();
        auto* w = preview->findChild<QPrintPreviewWidget*>();
        pages = w ? w->pageCount() : 0;
        preview->reject();
    });
    poll.start(20);
    triggerMenuItem(*dlg, QStringLiteral("打印预览…"));
    QTRY_VERIFY(pages != -1);
    QCOMPARE(title, QStringLiteral("打印预览 - 入库信息表"));
    QCOMPARE(pages, 2);
    QVERIFY(Messages::shown().isEmpty());
}

void TestListExport::longPreview_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("asked");
    QTest::addColumn<int>("print"); // 0 not asked, 1 print dialog cancelled, 2 to a PDF file
    QTest::addColumn<QString>("progress");
    const auto asks = [](int pages) {
        return QStringList{QStringLiteral("列表共有%1页，预览需要较长时间。\r\n"
                                          "是否改为打印或输出为 PDF 文件？（选“否”仍然预览。）")
                               .arg(pages)};
    };
    const int cancel = int(Messages::Answer::Cancel);
    // The stock-in report holds 61 rows a page.
    QTest::newRow("取消: nothing") << 200000 << cancel << asks(3279) << 0 << QString();
    QTest::newRow("是: the print dialog")
        << 200000 << int(Messages::Answer::Yes) << asks(3279) << 1 << QString();
    QTest::newRow("是: a PDF file, its progress cancelled")
        << 200000 << int(Messages::Answer::Yes) << asks(3279) << 2
        << QStringLiteral("正在打印第 N 页，共 3279 页…");
    QTest::newRow("否: the preview, its progress cancelled")
        << 200000 << int(Messages::Answer::No) << asks(3279) << 0
        << QStringLiteral("正在准备第 N 页，共 3279 页…");
    QTest::newRow("a page over the limit: asked")
        << 2000 * 61 + 1 << cancel << asks(2001) << 0 << QString();
    QTest::newRow("up to the limit: no question") << 2000 * 61 << cancel << QStringList() << 0
                                                  << QStringLiteral("正在准备第 N 页，共 2000 页…");
}

void TestListExport::longPreview()
{
    QFETCH(int, rows);
    QFETCH(int, answer);
    QFETCH(QStringList, asked);
    QFETCH(int, print);
    QFETCH(QString, progress);
    auto dlg = open();
    Messages::queueAnswer(Messages::Answer(answer));
    const QString pdf = m_sandbox->dataDir() + QStringLiteral("/long.pdf");
    int chosen = 0;
    test::printToPdf([&] { return pdf; }, print == 2, &chosen);
    // The progress box is cancelled as soon as it shows.
    QString label;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        for (auto* box : dlg->findChildren<QProgressDialog*>(QStringLiteral("reportProgress")))
            if (box->isVisible() && !box->wasCanceled()) {
                label = box->labelText();
                box->cancel();
            }
    });
    poll.start(20);
    previewTableReport(rows, generatedCells(), reports::stockIn, QStringLiteral("管理员"),
                       dlg.get());
    PrintService::setChooser({});
    QCOMPARE(Messages::shownTexts(), asked);
    QCOMPARE(chosen, print ? 1 : 0);
    QCOMPARE(label.replace(QRegularExpression(QStringLiteral("第 \\d+ 页，")),
                           QStringLiteral("第 N 页，")),
             progress);
    QVERIFY(!QFile::exists(pdf));
    for (QWidget* w : QApplication::topLevelWidgets())
        QVERIFY2(!qobject_cast<QPrintPreviewDialog*>(w) &&
                     !(qobject_cast<QProgressDialog*>(w) && w->isVisible()),
                 qPrintable(w->objectName()));
}

void TestListExport::previewGivesMemoryBack()
{
    auto dlg = open();
    const double before = bench::residentMb();
    double open = 0;
    int pages = 0;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto* preview = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
        if (!preview)
            return;
        poll.stop();
        open = bench::residentMb();
        pages = preview->findChild<QPrintPreviewWidget*>()->pageCount();
        preview->reject();
    });
    poll.start(20);
    previewTableReport(30000, generatedCells(), reports::stockIn, QStringLiteral("管理员"),
                       dlg.get());
    const double after = bench::residentMb();
    qInfo("resident: %.0f MB before, %.0f MB with %d pages, %.0f MB after", before, open, pages,
          after);
    QCOMPARE(pages, 492);
    QVERIFY(open - before > 40);
    QVERIFY(after - before < (open - before) / 4);
}

QTEST_MAIN(TestListExport)
#include "tst_listexport.moc"
