// The import preview as a storekeeper uses it: problems listed by row and
// column with nothing to confirm, a column matched again by hand and
// remembered for the next import, and a clean file written from the
// stock-in browser's "导入…", after which its list has the keyboard.
#include "core/TableImport.h"
#include "records/ViewInDlg.h"
#include "support/FormTest.h"
#include "support/TestSupport.h"
#include "ui/CommandTable.h"
#include "ui/FileDialogService.h"
#include "ui/ImportDlg.h"
#include "ui/MessageService.h"
#include "ui/RecordListView.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

using namespace vok;

namespace {

QString writeCsv(const QString& dir, const char* utf8)
{
    const QString path = dir + QStringLiteral("/import.csv");
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(utf8);
    return path;
}

QStringList items(const QListWidget& list)
{
    QStringList out;
    for (int i = 0; i < list.count(); ++i)
        out << list.item(i)->text();
    return out;
}

} // namespace

class TestImportDlg : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_sandbox = std::make_unique<test::Sandbox>();
        m_db = m_sandbox->open();
        test::seed(*m_db, "DEVICE_CODE", {{"A1", "扫描仪"}});
    }
    void cleanup()
    {
        m_db.reset();
        m_sandbox.reset();
    }

    void problemsListed()
    {
        const QString path =
            writeCsv(m_sandbox->dataDir(), "设备号,入库时间,数量,价格,供应商,备注\n"
                                           "A1,2024-1-5 9:30,2,12.5,甲公司,x\n"
                                           "Z9,2024-1-5,2,3,乙,x\n"
                                           "A1,2024-2-30,20000,3,丙,x\n"
                                           "A1,2024-1-6,1,3,供应商名称实在是太长了一些,x\n");
        TableImport import(tables::deviceIn);
        import.open(path);
        CImportDlg dialog(import, test::formContext(m_db, nullptr));
        dialog.show();
        QVERIFY(dialog.load());
        const auto* problems = test::control<QListWidget>(dialog, QStringLiteral("problems"));
        QVERIFY(problems);
        QCOMPARE(
            items(*problems),
            (QStringList{QStringLiteral("第3行，A列“设备号”：设备号“Z9”不在设备代码表中。"),
                         QStringLiteral("第4行，B列“入库时间”：“2024-2-30”不是有效的日期。"),
                         QStringLiteral("第4行，C列“数量”：“20000”不在1和10000之间。"),
                         QStringLiteral("第5行，E列“供应商”：“供应商名称实在是太长了一些”太长："
                                        "这一列最多20个字符（一个汉字算两个）。")}));
        QCOMPARE(test::control<QLabel>(dialog, QStringLiteral("ignored"))->text(),
                 QStringLiteral("这些列不导入：备注"));
        QCOMPARE(test::control<QLabel>(dialog, QStringLiteral("summary"))->text(),
                 QStringLiteral("发现4个问题，改正文件后再导入；不会写入任何记录。"));
        const auto* preview = test::control<QTableWidget>(dialog, QStringLiteral("preview"));
        QCOMPARE(preview->rowCount(), 1);
        QCOMPARE(preview->item(0, 1)->text(), QStringLiteral("2024-01-05 09:30:00"));
        QCOMPARE(preview->item(0, 5)->text(), QStringLiteral("12.500000"));
        QVERIFY(!test::control<QPushButton>(dialog, QStringLiteral("confirm"))->isEnabled());
        test::savePicture(dialog, QStringLiteral("import-preview-problems"));

        // The supplier taken from the remarks column instead: one problem
        // fewer, the remarks no longer ignored.
        auto* provider = test::control<QComboBox>(dialog, QStringLiteral("column2"));
        QVERIFY(provider);
        provider->setFocus();
        QTest::keyClick(provider, Qt::Key_End);
        QCOMPARE(provider->currentText(), QStringLiteral("F列 备注"));
        QCOMPARE(items(*problems).size(), 3);
        QCOMPARE(test::control<QLabel>(dialog, QStringLiteral("ignored"))->text(),
                 QStringLiteral("这些列不导入：供应商"));
    }

    // The stock's optional 单价 column is shown last in the preview, empty
    // where a row has none; a file without it shows no such column.
    void stockPreviewPrice_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("prices"); // the preview's 单价 column; none: absent
        const QByteArray head = "设备号,现存数量,最大数量,最小数量,总数";
        QTest::newRow("priced") << head + ",单价\nA1,7,10,1,9,12.5\nB2,3,10,1,3,\n"
                                << QStringList{QStringLiteral("12.500000"), QString()};
        QTest::newRow("no price") << head + "\nA1,7,10,1,9\nB2,3,10,1,3\n" << QStringList();
    }
    void stockPreviewPrice()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, prices);
        test::seed(*m_db, "DEVICE_CODE", {{"B2", "打印机"}});
        TableImport import(tables::device);
        import.open(writeCsv(m_sandbox->dataDir(), file.constData()));
        CImportDlg dialog(import, test::formContext(m_db, nullptr));
        dialog.show();
        QVERIFY(dialog.load());
        QCOMPARE(items(*test::control<QListWidget>(dialog, QStringLiteral("problems"))),
                 QStringList());
        QVERIFY(!test::control<QLabel>(dialog, QStringLiteral("ignored"))->isVisible());
        const auto* preview = test::control<QTableWidget>(dialog, QStringLiteral("preview"));
        QCOMPARE(preview->rowCount(), 2);
        const int last = preview->columnCount() - 1;
        QStringList headings, shown;
        for (int c = 0; c <= last; ++c)
            headings << preview->horizontalHeaderItem(c)->text();
        QCOMPARE(headings.contains(QStringLiteral("单价")), !prices.isEmpty());
        if (prices.isEmpty())
            return;
        QCOMPARE(headings.indexOf(QStringLiteral("单价")), last);
        for (int r = 0; r < preview->rowCount(); ++r)
            shown << preview->item(r, last)->text();
        QCOMPARE(shown, prices);
    }

    // "导入…": the file chosen, previewed and written.
    void importFromBrowser()
    {
        const QString path = writeCsv(m_sandbox->dataDir(), "设备号,入库时间,数量,价格\n"
                                                            "A1,2024-1-5 9:30,2,12.5\n"
                                                            "A1,2024-1-6,1,3\n");
        FileDialogs::queueAnswer(path);
        // The preview is checked first, then shown modally: confirm it then.
        confirmPreview();
        COperationLog log;
        log.attach(m_db, QStringLiteral("admin"));
        QVERIFY(importWithDialog(tables::deviceIn, test::formContext(m_db, &log), nullptr));
        QCOMPARE(Messages::shownTexts(), QStringList{QStringLiteral("已导入2行。")});
        // The file's last row first: its top row is listed at the top.
        QCOMPARE(test::table(*m_db, QStringLiteral("DEVICE_IN")),
                 (QList<QStringList>{{"A1", "2024-01-06 00:00:00", "", "", "1", "3", ""},
                                     {"A1", "2024-01-05 09:30:00", "", "", "2", "12.5", ""}}));
        QCOMPARE(test::logged(*m_db),
                 QStringList{QStringLiteral("从文件导入入库记录2行（DEVICE_IN）。")});
    }

    // A file that cannot be read, or rows the database refuses: told in one
    // box, nothing written.
    void failuresTold_data()
    {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<int>("classNumber");
        QTest::addColumn<QString>("told"); // %1: the file
        const QByteArray head = "设备号,入库时间,数量,价格\n";
        QTest::newRow("empty") << QByteArray() << 1
                               << QStringLiteral("无法导入：\r\n文件“%1”中没有数据。");
        QTest::newRow("row too wide")
            << head + QByteArray(40000, ',') << 1
            << QStringLiteral("无法导入：\r\n第2行多于16384列，不能导入。");
        QTest::newRow("read-only user")
            << head + "A1,2024-1-5,2,3\n"
            << 3
            << QStringLiteral("导入失败，没有写入任何记录：\r\n当前用户只能查看数据，不能更改数据。"
                              "请用有更改权限的用户重新登录。");
    }
    void failuresTold()
    {
        QFETCH(QByteArray, csv);
        QFETCH(int, classNumber);
        QFETCH(QString, told);
        const QString path = writeCsv(m_sandbox->dataDir(), csv.constData());
        FileDialogs::queueAnswer(path);
        QTimer* press = confirmPreview();
        QVERIFY(!importWithDialog(tables::deviceIn, test::formContext(m_db, nullptr, classNumber),
                                  nullptr));
        delete press;
        QCOMPARE(Messages::shownTexts(), QStringList{told.replace(QStringLiteral("%1"), path)});
        QCOMPARE(test::table(*m_db, QStringLiteral("DEVICE_IN")), QList<QStringList>());
    }

    // Columns matched by hand are kept for the next import into the table;
    // that one, from the browser's menu, shows them and gives the keyboard
    // back to the browser's list when done.
    void rememberedMatching()
    {
        const QString path = writeCsv(m_sandbox->dataDir(), "设备号,日期,件数,价格\n"
                                                            "A1,2024-1-5 9:30,2,12.5\n");
        {
            TableImport import(tables::deviceIn);
            import.open(path);
            CImportDlg dialog(import, test::formContext(m_db, nullptr));
            dialog.show();
            QVERIFY(dialog.load());
            QVERIFY(!dialog.findChild<QLabel*>(QStringLiteral("remembered")));
            // 入库时间 from B列 日期, 数量 from C列 件数, by the keyboard.
            for (const auto& [column, downs] : {std::pair{"column1", 2}, std::pair{"column4", 3}}) {
                auto* combo = test::control<QComboBox>(dialog, QString::fromLatin1(column));
                combo->setFocus();
                for (int i = 0; i < downs; ++i)
                    QTest::keyClick(combo, Qt::Key_Down);
            }
            QCOMPARE(items(*test::control<QListWidget>(dialog, QStringLiteral("problems"))),
                     QStringList());
        }
        QCOMPARE(TableImport::rememberedColumns(tables::deviceIn),
                 QStringLiteral("入库时间=日期,数量=件数"));
        QVERIFY(QFile::exists(m_sandbox->dataDir() + QStringLiteral("/vok.ini")));

        COperationLog log;
        log.attach(m_db, QStringLiteral("admin"));
        auto browser = test::openForm<CViewInDlg>(test::formContext(m_db, &log, 1));
        FileDialogs::queueAnswer(path);
        QString remembered;
        auto* press = new QTimer(this);
        connect(press, &QTimer::timeout, this, [press, &remembered] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog || dialog->objectName() != u"importPreview")
                return;
            press->stop();
            remembered = test::control<QLabel>(*dialog, QStringLiteral("remembered"))->text();
            dialog->grab().save(QStringLiteral("/tmp/h4-import-remembered.png"));
            test::savePicture(*dialog, QStringLiteral("import-remembered"));
            QVERIFY(test::press(*dialog, QStringLiteral("confirm")));
        });
        press->start(20);
        // The menu's "导入…" (run once the menu is gone).
        std::unique_ptr<QMenu> menu(browser->commands()->createMenu(nullptr));
        for (QAction* a : menu->actions())
            if (a->text() == u"导入…")
                a->trigger();
        QTRY_COMPARE(Messages::shownTexts(), QStringList{QStringLiteral("已导入1行。")});
        QCOMPARE(remembered, QStringLiteral("按上次的选择对应：入库时间=日期；数量=件数"));
        QCOMPARE(test::table(*m_db, QStringLiteral("DEVICE_IN")),
                 (QList<QStringList>{{"A1", "2024-01-05 09:30:00", "", "", "2", "12.5", ""}}));
        QTRY_COMPARE(QApplication::focusWidget(),
                     static_cast<QWidget*>(browser->findChild<RecordListView*>()));
    }

private:
    // Confirms the import's preview once it is shown modally (the preview
    // comes after the check), and closes it if it is still open; the timer
    // that waits for it.
    QTimer* confirmPreview()
    {
        auto* press = new QTimer(this);
        connect(press, &QTimer::timeout, this, [press] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog || dialog->objectName() != u"importPreview")
                return;
            press->stop();
            QVERIFY(test::press(*dialog, QStringLiteral("confirm")));
            if (dialog->isVisible())
                QVERIFY(test::press(*dialog, QStringLiteral("cancel")));
        });
        press->start(20);
        return press;
    }

    std::unique_ptr<test::Sandbox> m_sandbox;
    ConnectionPtr m_db;
};

QTEST_MAIN(TestImportDlg)
#include "tst_importdlg.moc"
