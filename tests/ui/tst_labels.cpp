#include "core/LabelSheet.h"
#include "core/LabelSymbol.h"
#include "stock/LabelDlg.h"
#include "support/FormTest.h"
#include "support/TestSupport.h"
#include "ui/LabelPrint.h"
#include "ui/PrintReport.h"

#include <QComboBox>

#include <QDir>
#include <QFile>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace vok;

// Labels are checked as a scanner reads them: rendered, then decoded by
// zbarimg (zbar-tools).
class TestLabels : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void placesOnTheSheet();
    void codeDecodesFromEveryLabel_data();
    void codeDecodesFromEveryLabel();
    void aPrintedSheetDecodes();
    void chineseCodeHasQrOnly();
    void windowPrintsOnTheLabel();

private:
    // The texts zbarimg reads from a picture, sorted.
    QStringList decoded(const QString& file);
    QTemporaryDir m_dir;
};

namespace {

const QStringList kCodes = {"1", "A", "D001", "AB-12/3", "123456789", "a-b/c-d/e", "Z9/8-7X"};

} // namespace

void TestLabels::init()
{
    if (QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty()) {
        if (qEnvironmentVariableIsSet("CI"))
            QFAIL("zbarimg is not installed");
        QSKIP("zbarimg is not installed (Debian zbar-tools)");
    }
}

QStringList TestLabels::decoded(const QString& file)
{
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--raw"), QStringLiteral("-q"), file});
    zbar.waitForFinished(60000);
    QStringList lines = QString::fromUtf8(zbar.readAllStandardOutput())
                            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.sort();
    return lines;
}

void TestLabels::placesOnTheSheet()
{
    const LabelSheet& a4 = labelSheets::a4;
    QCOMPARE(a4.perPage(), 24);
    const QRectF page(QPointF(0, 0), a4.page);
    for (int i = 0; i < a4.perPage(); ++i) {
        const QRectF cell = a4.cell(i);
        QCOMPARE(cell.size(), QSizeF(70, 37));
        QVERIFY2(page.contains(cell), qPrintable(QString::number(i)));
        for (int j = 0; j < i; ++j)
            QVERIFY(!cell.intersected(a4.cell(j)).isValid() ||
                    cell.intersected(a4.cell(j)).isEmpty());
        // Every part of the label stays inside its cell.
        const LabelParts parts = labelParts(cell.size());
        for (const QRectF& part : {parts.qr, parts.codeText, parts.nameText, parts.code128})
            QVERIFY(QRectF(QPointF(0, 0), cell.size()).contains(part));
    }
    // A half-used sheet: the first label goes to the start position, the
    // rest follow onto the next page.
    QList<QPair<int, int>> places;
    for (int i = 0; i < 4; ++i) {
        const LabelPlace p = labelPlace(a4, 22, i);
        places << qMakePair(p.page, p.position);
    }
    QCOMPARE(places, (QList<QPair<int, int>>{{0, 22}, {0, 23}, {1, 0}, {1, 1}}));
    QCOMPARE(findLabelSheet(u"label"), &labelSheets::single);
    QCOMPARE(findLabelSheet(u"A5"), nullptr);
}

void TestLabels::codeDecodesFromEveryLabel_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QString>("code");
    for (const QString& code : kCodes) {
        QTest::addRow("a4 %s", qPrintable(code)) << "a4" << code;
        QTest::addRow("label %s", qPrintable(code)) << "label" << code;
    }
}

void TestLabels::codeDecodesFromEveryLabel()
{
    QFETCH(QString, sheet);
    QFETCH(QString, code);
    const QString file = m_dir.filePath(QStringLiteral("label.png"));
    // The longest name the catalogue holds still fits.
    const DeviceLabel label{code, QStringLiteral("多媒体投影仪（会议室三楼东侧备用）甲乙")};
    const QImage image = labelImage(*findLabelSheet(sheet), label, 600);
    QVERIFY(image.save(file));
    QCOMPARE(decoded(file), QStringList({code, code}));
    if (code == QLatin1String("AB-12/3") && qEnvironmentVariableIsSet("VOK_SHOT_DIR"))
        image.save(QDir(qEnvironmentVariable("VOK_SHOT_DIR")).filePath("label-" + sheet + ".png"));
}

void TestLabels::aPrintedSheetDecodes()
{
    QList<DeviceLabel> labels;
    for (const QString& code : kCodes)
        labels << DeviceLabel{code, QStringLiteral("投影仪")};
    const QString pdf = m_dir.filePath(QStringLiteral("sheet.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    setUpLabelPrinter(printer, labelSheets::a4);
    QVERIFY(printLabels(printer, labelSheets::a4, labels, 20));
    QCOMPARE(QProcess::execute(QStringLiteral("pdftoppm"),
                               {QStringLiteral("-r"), QStringLiteral("300"), QStringLiteral("-png"),
                                pdf, m_dir.filePath(QStringLiteral("page"))}),
             0);
    QStringList found;
    const QStringList pages =
        QDir(m_dir.path()).entryList({QStringLiteral("page*.png")}, QDir::Files, QDir::Name);
    QCOMPARE(pages.size(), 2);
    for (const QString& page : pages)
        found << decoded(m_dir.filePath(page));
    if (qEnvironmentVariableIsSet("VOK_SHOT_DIR"))
        QFile::copy(m_dir.filePath(pages.first()),
                    QDir(qEnvironmentVariable("VOK_SHOT_DIR")).filePath("label-sheet.png"));
    found.sort();
    QStringList expected = kCodes + kCodes;
    expected.sort();
    QCOMPARE(found, expected);
}

void TestLabels::chineseCodeHasQrOnly()
{
    QVERIFY(encodeSymbol(SymbolKind::Qr, QStringLiteral("设备1")).isValid());
    const LabelSymbol linear = encodeSymbol(SymbolKind::Code128, QStringLiteral("设备1"));
    QVERIFY(!linear.isValid());
    QCOMPARE(linear.problem,
             QStringLiteral("设备号“设备1”含有字母、数字和常用符号以外的字符，不能生成一维条码。"));
    const QString file = m_dir.filePath(QStringLiteral("chinese.png"));
    QVERIFY(labelImage(labelSheets::a4, {QStringLiteral("设备1"), QStringLiteral("投影仪")}, 600)
                .save(file));
    QCOMPARE(decoded(file), QStringList{QStringLiteral("设备1")});
}

// A printer chosen in the print dialog comes with its own paper (here US
// Letter); the label window prints on the label all the same.
void TestLabels::windowPrintsOnTheLabel()
{
    test::Sandbox sandbox;
    const QString pdf = m_dir.filePath(QStringLiteral("window.pdf"));
    test::printToPdf([&] { return pdf; }, true, nullptr,
                     [](QPrinter& printer) { printer.setPageSize(QPageSize(QPageSize::Letter)); });
    CLabelDlg dlg({DeviceLabel{QStringLiteral("BB100"), QStringLiteral("投影仪")}});
    auto* sheet = dlg.findChild<QComboBox*>(QStringLiteral("sheet"));
    sheet->setCurrentIndex(sheet->findData(QStringLiteral("label")));
    dlg.onPrint();
    PrintService::setChooser({});
    QProcess info;
    info.start(QStringLiteral("pdfinfo"), {pdf});
    QVERIFY(info.waitForFinished(60000));
    const QString out = QString::fromUtf8(info.readAllStandardOutput());
    // 50 × 30 mm in points.
    QVERIFY2(out.contains(QStringLiteral(" 142 x 85 pts")), qPrintable(out));
}

QTEST_MAIN(TestLabels)
#include "tst_labels.moc"
