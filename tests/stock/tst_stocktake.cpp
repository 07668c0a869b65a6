// The stocktake form driven as a storekeeper drives it: the count sheet,
// counts typed and scanned, the confirmation with its adjustments, class 3,
// counts kept across a closed form, a stock-out from another workstation
// between listing and confirming, the printed sheet and its export.
#include "core/Clock.h"
#include "core/OperationLog.h"
#include "core/StockChange.h"
#include "core/Stocktake.h"
#include "db/DbError.h"
#include "stock/StocktakeDlg.h"
#include "support/FormTest.h"
#include "support/TestSupport.h"
#include "ui/CommandTable.h"
#include "ui/FileDialogService.h"
#include "ui/MessageService.h"
#include "ui/PrintReport.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPrinter>
#include <QTableView>
#include <QTest>

using namespace vok;
using Rows = QList<QStringList>;
using Answer = Messages::Answer;

namespace {
using test::u;
const QString kRefusal = u("你无权执行此项操作!\r\n请重新登录数据库!");
} // namespace

class TestStocktake : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void countsConfirmed();
    void typedEntries_data();
    void typedEntries();
    void classThreeLooksAndPrints();
    void countsSurviveClosing_data();
    void countsSurviveClosing();
    void stockOutMeanwhile_data();
    void stockOutMeanwhile();
    void sheetPrintsAndExports();

private:
    // 001 10, 002 5, 003 2.5, 004 0, 005 7; 006 has no name.
    void seed();
    std::unique_ptr<CStocktakeDlg> open(int classNumber = 1)
    {
        return test::openForm<CStocktakeDlg>(
            test::formContext(m_db, m_log.get(), classNumber, u("张三")));
    }
    // Types into the counted cell of a row as a user does: the cursor on the
    // row, the text, then the key.
    static void count(CStocktakeDlg& form, int row, const QString& text,
                      Qt::Key key = Qt::Key_Return)
    {
        QTableView* sheet = form.sheet();
        const QModelIndex cell = sheet->model()->index(row, StocktakeModel::Counted);
        sheet->setCurrentIndex(cell);
        if (text.isEmpty())
            sheet->edit(cell);
        else
            QTest::keyClick(sheet, text.at(0).toLatin1());
        QWidget* editor = sheet->indexWidget(cell);
        QVERIFY(editor);
        if (text.size() > 1)
            QTest::keyClicks(editor, text.mid(1));
        if (text.isEmpty())
            static_cast<QLineEdit*>(editor)->clear();
        QTest::keyClick(editor, key);
    }
    static QString summary(const CStocktakeDlg& form)
    {
        return form.findChild<QLabel*>(u("summaryLabel"))->text();
    }
    Rows stock()
    {
        return test::rows(*m_db, u("SELECT code, now_number FROM DEVICE ORDER BY code"));
    }
    Rows adjustments()
    {
        return test::rows(*m_db, u("SELECT code, before_number, after_number, reason, user_name "
                                   "FROM DEVICE_ADJUST ORDER BY code"));
    }

    std::unique_ptr<test::Sandbox> m_sandbox;
    ConnectionPtr m_db;
    std::unique_ptr<COperationLog> m_log;
};

void TestStocktake::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    m_db = m_sandbox->open();
    m_log = std::make_unique<COperationLog>();
    m_log->attach(m_db, u("张三"));
    Clock::setNow(QDateTime(QDate(2026, 3, 15), QTime(10, 0)));
}

void TestStocktake::cleanup()
{
    PrintService::setChooser({});
    m_log.reset();
    m_db.reset();
    m_sandbox.reset();
}

void TestStocktake::seed()
{
    test::seed(*m_db, "DEVICE_CODE",
               {{"001", "显示器"},
                {"002", "打印机"},
                {"003", "扫描仪"},
                {"004", "投影仪"},
                {"005", "交换机"}});
    test::seed(*m_db, "DEVICE",
               {{"001", 10, 20, 1, 10},
                {"002", 5, 20, 1, 10},
                {"003", 2.5, 20, 1, 10},
                {"004", 0, 20, 1, 10},
                {"005", 7, 20, 1, 10},
                {"006", 1, 20, 1, 10}});
}

void TestStocktake::countsConfirmed()
{
    seed();
    auto form = open();
    // 设备号 设备名 账面数量 实盘数量 盘盈盘亏
    QCOMPARE(test::listed(*form->model()), (Rows{{"001", u("显示器"), "10", "", ""},
                                                 {"002", u("打印机"), "5", "", ""},
                                                 {"003", u("扫描仪"), "2.5", "", ""},
                                                 {"004", u("投影仪"), "0", "", ""},
                                                 {"005", u("交换机"), "7", "", ""},
                                                 {"006", u("（代码表中无）"), "1", "", ""}}));
    QCOMPARE(summary(*form), u("共 6 种设备，已盘点 0 种，其中 0 种有差异，差异合计 0。"));

    // A gain, Enter; a loss, Down; 003 left uncounted; a scanned code goes
    // to its row, where a count that agrees is typed.
    count(*form, 0, u("12"));
    QCOMPARE(form->sheet()->currentIndex().row(), 1);
    count(*form, 1, u("3.5"), Qt::Key_Down);
    QCOMPARE(form->sheet()->currentIndex().row(), 2);
    auto* code = test::control<QComboBox>(*form, "code");
    code->setFocus();
    QTest::keyClicks(code, "005");
    QTest::keyClick(code, Qt::Key_Return);
    QCOMPARE(form->sheet()->currentIndex(), form->model()->index(4, StocktakeModel::Counted));
    count(*form, 4, u("7"));
    count(*form, 3, u("2"));
    QCOMPARE(test::listed(*form->model()), (Rows{{"001", u("显示器"), "10", "12", u("盘盈 2")},
                                                 {"002", u("打印机"), "5", "3.5", u("盘亏 1.5")},
                                                 {"003", u("扫描仪"), "2.5", "", ""},
                                                 {"004", u("投影仪"), "0", "2", u("盘盈 2")},
                                                 {"005", u("交换机"), "7", "7", u("相符")},
                                                 {"006", u("（代码表中无）"), "1", "", ""}}));
    QCOMPARE(summary(*form), u("共 6 种设备，已盘点 4 种，其中 3 种有差异，差异合计 +2.5。"));
    QVERIFY(Messages::shown().isEmpty());

    // Answering no writes nothing.
    Messages::queueAnswer(Answer::No);
    QVERIFY(test::press(*form, "confirm"));
    QVERIFY(adjustments().isEmpty());

    Messages::clearShown();
    Messages::queueAnswer(Answer::Yes);
    QVERIFY(test::press(*form, "confirm"));
    QCOMPARE(Messages::shownTexts(),
             (QStringList{u("将按实盘数量调整 3 种设备的库存（已盘点 4 种），是否继续?"),
                          u("完成库存盘点操作，共调整 3 种设备的库存!")}));
    QCOMPARE(stock(), (Rows{{"001", "12"},
                            {"002", "3.5"},
                            {"003", "2.5"},
                            {"004", "2"},
                            {"005", "7"},
                            {"006", "1"}}));
    QCOMPARE(adjustments(), (Rows{{"001", "10", "12", u("盘点"), u("张三")},
                                  {"002", "5", "3.5", u("盘点"), u("张三")},
                                  {"004", "0", "2", u("盘点"), u("张三")}}));
    QCOMPARE(test::logged(*m_db), QStringList{u("库存盘点")});
    // The sheet is listed afresh, nothing counted.
    QCOMPARE(test::listed(*form->model()).value(0),
             (QStringList{"001", u("显示器"), "12", "", ""}));
    QCOMPARE(summary(*form), u("共 6 种设备，已盘点 0 种，其中 0 种有差异，差异合计 0。"));
}

void TestStocktake::typedEntries_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("cursorRow");
    QTest::addColumn<QString>("row2Count");

    // Typed on row 2 (003), whose count was 4.
    QTest::newRow("number, Up") << u("6") << int(Qt::Key_Up) << QString() << 1 << u("6");
    QTest::newRow("blank clears") << QString() << int(Qt::Key_Return) << QString() << 3
                                  << QString();
    QTest::newRow("code jumps") << u("005") << int(Qt::Key_Return) << QString() << 4 << u("4");
    QTest::newRow("not a number") << u("x1") << int(Qt::Key_Return) << u("请键入一个数。") << 2
                                  << u("4");
    QTest::newRow("negative") << u("-1") << int(Qt::Key_Down) << u("实盘数量不能是负数。") << 2
                              << u("4");
}

void TestStocktake::typedEntries()
{
    QFETCH(QString, typed);
    QFETCH(int, key);
    seed();
    auto form = open();
    count(*form, 2, u("4"));
    Messages::clearShown();
    count(*form, 2, typed, Qt::Key(key));
    QFETCH(QString, message);
    QCOMPARE(Messages::shownTexts(), message.isEmpty() ? QStringList{} : QStringList{message});
    QTEST(form->sheet()->currentIndex().row(), "cursorRow");
    QTEST(form->model()->text(2, StocktakeModel::Counted), "row2Count");
    // A refused text stays in its editor.
    QCOMPARE(form->sheet()->indexWidget(form->sheet()->currentIndex()) != nullptr,
             !message.isEmpty());

    // A code the sheet does not hold, typed into the code field.
    auto* code = test::control<QComboBox>(*form, "code");
    code->setFocus();
    QTest::keyClicks(code, "999");
    QTest::keyClick(code, Qt::Key_Return);
    QCOMPARE(Messages::shownTexts().last(), u("盘点表中没有设备号“999”，请核对后重新扫描或输入。"));
}

void TestStocktake::classThreeLooksAndPrints()
{
    seed();
    auto form = open(3);
    QCOMPARE(form->model()->rowCount(), 6);
    count(*form, 0, u("9"));
    QVERIFY(test::press(*form, "confirm"));
    QCOMPARE(Messages::shown().size(), 1);
    QCOMPARE(Messages::shown().first().text, kRefusal);
    QCOMPARE(Messages::shown().first().caption, u("警告!"));
    QCOMPARE(stock().first(), (QStringList{"001", "10"}));
    QVERIFY(test::logged(*m_db).isEmpty());
    // The core refuses whatever window asks.
    QVERIFY_THROWS_EXCEPTION(DbError,
                             Stocktake::confirm(*m_db, 3, u("张三"), form->model()->lines()));

    const QString pdf = QDir(m_sandbox->dataDir()).filePath(u("sheet.pdf"));
    test::printToPdf([&] { return pdf; });
    QVERIFY(test::press(*form, "print"));
    QVERIFY(QFile(pdf).size() > 1000);
}

void TestStocktake::countsSurviveClosing_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<Rows>("counts"); // code, book, count as listed again
    QTest::newRow("go on") << int(Answer::Yes) << Rows{{"002", "5", "3"}, {"003", "2.5", "2.5"}};
    QTest::newRow("give up") << int(Answer::No) << Rows{};
}

void TestStocktake::countsSurviveClosing()
{
    seed();
    {
        auto form = open();
        QVERIFY(test::type(*form, "prefix", u("00")));
        QVERIFY(test::press(*form, "list"));
        count(*form, 1, u("3"));
        count(*form, 2, u("2.5"));
        QVERIFY(test::press(*form, "exit"));
    }
    QVERIFY(Messages::shown().isEmpty());
    // Another workstation issues one of 002 meanwhile: the kept count
    // stays against the stock it was taken against.
    test::exec(*m_db, "UPDATE DEVICE SET now_number=4 WHERE code=?", {"002"});

    QFETCH(int, answer);
    Messages::queueAnswer(Answer(answer));
    auto form = open();
    QCOMPARE(Messages::shownTexts(),
             QStringList{u("2026-03-15 10:00 开始的盘点还有 2 种设备的实盘数量没有确认。\r\n"
                           "是否接着这次盘点？选“否”将放弃这些数量。")});
    Rows counts;
    for (const QStringList& row : test::listed(*form->model()))
        if (!row.at(3).isEmpty())
            counts << QStringList{row.at(0), row.at(2), row.at(3)};
    QTEST(counts, "counts");
    QCOMPARE(test::control<QLineEdit>(*form, "prefix")->text(),
             answer == int(Answer::Yes) ? u("00") : QString());

    // Once confirmed, nothing is offered again.
    Messages::clearShown();
    if (answer == int(Answer::Yes)) {
        Messages::queueAnswer(Answer::Yes); // 002 changed meanwhile
        Messages::queueAnswer(Answer::Yes);
        QVERIFY(test::press(*form, "confirm"));
        QCOMPARE(stock().at(1), (QStringList{"002", "3"}));
    }
    QVERIFY(test::press(*form, "exit"));
    form.reset();
    Messages::clearShown();
    form = open();
    QVERIFY(Messages::shown().isEmpty());
}

void TestStocktake::stockOutMeanwhile_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<Rows>("stock");
    QTest::addColumn<Rows>("adjustments");
    QTest::addColumn<QString>("done");

    QTest::newRow("apply the count")
        << int(Answer::Yes) << Rows{{"001", "9"}, {"002", "6"}}
        << Rows{{"001", "7", "9", u("盘点"), u("张三")}, {"002", "5", "6", u("盘点"), u("张三")}}
        << u("完成库存盘点操作，共调整 2 种设备的库存!");
    QTest::newRow("leave it out")
        << int(Answer::No) << Rows{{"001", "7"}, {"002", "6"}}
        << Rows{{"002", "5", "6", u("盘点"), u("张三")}}
        << u("完成库存盘点操作，共调整 1 种设备的库存!\r\n下列设备未调整，请重新盘点：001");
    QTest::newRow("stop") << int(Answer::Cancel) << Rows{{"001", "7"}, {"002", "5"}} << Rows{}
                          << QString();
}

void TestStocktake::stockOutMeanwhile()
{
    test::seed(*m_db, "DEVICE_CODE", {{"001", "显示器"}, {"002", "打印机"}});
    test::seed(*m_db, "DEVICE", {{"001", 10, 20, 1, 10}, {"002", 5, 20, 1, 5}});
    auto form = open();
    count(*form, 0, u("9"));
    count(*form, 1, u("6"));

    // Another workstation issues 3 of 001 after the listing.
    {
        ConnectionPtr other = m_sandbox->open();
        Transaction t(*other);
        test::seed(*other, "DEVICE_OUT(code,department,out_date,out_number)",
                   {{"001", "部门A", "2026-3-15 10:30:00", 3}});
        QVERIFY(Stock::issue(*other, u("001"), 3).done);
        t.commit();
    }

    QFETCH(int, answer);
    Messages::queueAnswer(Answer::Yes);
    Messages::queueAnswer(Answer(answer));
    QVERIFY(test::press(*form, "confirm"));
    const QList<Messages::Shown> shown = Messages::shown();
    QVERIFY(shown.size() >= 2);
    QCOMPARE(shown.at(1).text, u("下列 1 种设备的账面数量在列出之后已被其他操作改变：\r\n"
                                 "001：列出时 10，现在 7，实盘 9\r\n"
                                 "是否仍把它们的库存改为实盘数量?\r\n"
                                 "选“是”改为实盘数量；选“否”这些设备本次不调整，其余照常确认；"
                                 "选“取消”本次不确认。"));
    QCOMPARE(shown.at(1).buttons, Messages::Buttons::YesNoCancel);
    QTEST(stock(), "stock");
    QTEST(adjustments(), "adjustments");
    QFETCH(QString, done);
    QCOMPARE(shown.size(), done.isEmpty() ? 2 : 3);
    if (!done.isEmpty())
        QCOMPARE(shown.at(2).text, done);
    QCOMPARE(test::logged(*m_db), done.isEmpty() ? QStringList{} : QStringList{u("库存盘点")});
    // Stopped, the counts stay for another try.
    if (done.isEmpty())
        QCOMPARE(form->model()->text(0, StocktakeModel::Counted), u("9"));
}

void TestStocktake::sheetPrintsAndExports()
{
    // Enough devices for several pages.
    const QStringList kinds{u("显示器"), u("打印机"), u("扫描仪"),    u("投影仪"),
                            u("交换机"), u("路由器"), u("笔记本电脑")};
    {
        Transaction t(*m_db);
        QList<QVariantList> codes, stock;
        for (int i = 1; i <= 120; ++i) {
            const QString code = u("D%1").arg(i, 3, 10, QLatin1Char('0'));
            codes << QVariantList{code, kinds.at(i % 7)};
            stock << QVariantList{code, i % 7, 20, 1, 10};
        }
        test::seed(*m_db, "DEVICE_CODE", codes);
        test::seed(*m_db, "DEVICE", stock);
        t.commit();
    }
    auto form = open();
    count(*form, 0, u("3"));
    count(*form, 1, u("1"));
    count(*form, 3, u("4"));
    count(*form, 4, u("5.5"));

    const QString shots = qEnvironmentVariable("VOK_SHOT_DIR");
    const QString dir = shots.isEmpty() ? m_sandbox->dataDir() : shots;
    const QString pdf = QDir(dir).filePath(u("stocktake.pdf"));
    test::printToPdf([&] { return pdf; });
    QVERIFY(test::press(*form, "print"));
    QVERIFY(QFile(pdf).size() > 1000);
    test::savePicture(*form, u("stocktake"));

    const QString csv = QDir(m_sandbox->dataDir()).filePath(u("sheet.csv"));
    FileDialogs::queueAnswer(csv);
    std::unique_ptr<QMenu> menu(form->commands()->createMenu(nullptr));
    QStringList items;
    for (QAction* a : menu->actions())
        items << a->text();
    QCOMPARE(items, (QStringList{u("列出"), u("确认盘点"), u("打印"), "", u("帮助"), u("退出"), "",
                                 u("打印预览…"), u("导出…\tCtrl+E")}));
    menu->actions().last()->trigger();
    QCoreApplication::processEvents();
    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u("\r\n"));
    QCOMPARE(lines.value(0), u("\uFEFF设备号,设备名,账面数量,实盘数量,盘盈盘亏"));
    QCOMPARE(lines.value(1), u("D001,打印机,1,3,盘盈 2"));
    QCOMPARE(lines.value(2), u("D002,扫描仪,2,1,盘亏 1"));
    QCOMPARE(lines.value(3), u("D003,投影仪,3,,"));
    QCOMPARE(Messages::shownTexts().last(),
             u("已将120行导出到“%1”。").arg(QDir::toNativeSeparators(csv)));
}

QTEST_MAIN(TestStocktake)
#include "tst_stocktake.moc"
