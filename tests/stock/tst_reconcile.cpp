// The reconciliation and consumption forms on both engines: the figures
// and differences listed, a day of stock changes after which every device
// agrees, the correction to the ledger and its refusal, the missing opening
// stock of older databases, the period edges, the charts and their export.
#include "core/Clock.h"
#include "core/ListExport.h"
#include "core/OperationLog.h"
#include "core/RecordListModel.h"
#include "core/StockChange.h"
#include "core/Stocktake.h"
#include "core/TableAccess.h"
#include "core/TableImport.h"
#include "core/Tables.h"
#include "records/ViewInDlg.h"
#include "stock/ConsumptionDlg.h"
#include "stock/ReconcileDlg.h"
#include "stock/StocktakeDlg.h"
#include "support/FormTest.h"
#include "support/TestSupport.h"
#include "ui/CommandTable.h"
#include "ui/FileDialogService.h"
#include "ui/MessageService.h"
#include "ui/PrintReport.h"
#include "ui/RecordListView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QTableView>
#include <QTest>

using namespace vok;
using Icon = Messages::Icon;

namespace {
using test::u;
const QString kRefusal = u("你无权执行此项操作!\r\n请重新登录数据库!");
} // namespace

class TestReconcile : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void listsDifferencesFirst();
    void browserModifyShowsAsDifference();
    void dayOfStockChanges_data();
    void dayOfStockChanges();
    void importedHistoryAgrees_data();
    void importedHistoryAgrees();
    void correction_data();
    void correction();
    void classThreeIsRefused();
    void periodEdges_data();
    void periodEdges();
    void demandReturnsAndMonths();
    void demandMetDeviceByDevice_data();
    void demandMetDeviceByDevice();
    void chartsExportAsPng();
    void bothPrint();
    void consumptionTakesAScannedCode();

private:
    void seedLedger();
    void runStep(const QString& step);
    QList<QStringList> adjustments()
    {
        return test::rows(*m_db, u("SELECT code, before_number, after_number, reason FROM "
                                   "DEVICE_ADJUST ORDER BY adjust_time, code"));
    }
    std::unique_ptr<CReconcileDlg> reconcile(int classNumber = 1)
    {
        return test::openForm<CReconcileDlg>(
            test::formContext(m_db, m_log.get(), classNumber, u("张三")));
    }
    std::unique_ptr<CConsumptionDlg> consumption()
    {
        return test::openForm<CConsumptionDlg>(test::formContext(m_db, m_log.get(), 1));
    }
    QList<QStringList> stock()
    {
        return test::rows(*m_db, u("SELECT code, now_number, total_number FROM DEVICE "
                                   "ORDER BY code, now_number"));
    }
    // Saves a picture of a widget when VOK_SHOTS names a folder.
    static void shoot(QWidget& w, const QString& name)
    {
        const QString dir = qEnvironmentVariable("VOK_SHOTS");
        QCoreApplication::sendPostedEvents();
        if (!dir.isEmpty())
            w.grab().save(QDir(dir).filePath(name + u(".png")));
    }

    std::unique_ptr<test::Sandbox> m_sandbox;
    ConnectionPtr m_db;
    std::unique_ptr<COperationLog> m_log;
};

void TestReconcile::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    m_db = m_sandbox->open();
    m_log = std::make_unique<COperationLog>();
    m_log->attach(m_db, u("张三"));
    Clock::setNow(QDateTime(QDate(2026, 3, 15), QTime(10, 0)));
}

void TestReconcile::cleanup()
{
    PrintService::setChooser({});
    m_log.reset();
    m_db.reset();
    m_sandbox.reset();
}

// 001 agrees; 002 was set by hand; 003 has two stock rows; 004 has no
// movements and no stock; 005 has movements but no stock row and no code.
void TestReconcile::seedLedger()
{
    test::allowDuplicateStockRows(*m_db);
    test::seed(*m_db, "DEVICE_CODE",
               {{"001", "显示器"}, {"002", "打印机"}, {"003", "扫描仪"}, {"004", "投影仪"}});
    test::seed(*m_db, "DEVICE",
               {{"001", 7, 20, 1, 10},
                {"002", 9, 20, 1, 4.5},
                {"003", 1, 20, 1, 1},
                {"003", 2, 20, 1, 2}});
    test::seed(*m_db, "DEVICE_IN(code,in_date,in_number)",
               {{"001", "2026-1-5 9:00:00", 6}, {"001", "2026-1-6 9:00:00", 4}});
    test::seed(*m_db, "DEVICE_OUT(code,department,out_date,out_number)",
               {{"001", "部门A", "2026-2-1 9:00:00", 5}});
    test::seed(*m_db, "DEVICE_RETURN(code,return_date,return_number)",
               {{"001", "2026-2-2 9:00:00", 2}});
    test::seed(*m_db, "DEVICE_IN(code,in_date,in_number)", {{"002", "2026-1-5 9:00:00", 4.5}});
    test::seed(*m_db, "DEVICE_OUT(code,department,out_date,out_number)",
               {{"002", "部门B", "2026-2-1 9:00:00", 1}});
    test::seed(*m_db, "DEVICE_IN(code,in_date,in_number)",
               {{"003", "2026-1-5 9:00:00", 3}, {"005", "2026-1-5 9:00:00", 2}});
    // Adjustments were recorded before the movements: no device lacks its
    // opening stock.
    test::seed(*m_db, "DEVICE_ADJUST", {{"001", "2026-1-1 9:00:00", 0, 0, "修改库存", "张三"}});
}

void TestReconcile::listsDifferencesFirst()
{
    seedLedger();
    auto dlg = reconcile();
    // 设备号 设备名 现在数量 流水结存 数量差 总数 入库合计 总数差 核对 说明 出库合计 还库合计
    // 调拨出库 调拨入库 在途调出 在途调入
    const QList<QStringList> expected{
        {"002", u("打印机"), "9", "3.5", "5.5", "4.5", "4.5", "0", u("★不符"),
         u("现在数量与流水结存不符"), "1", "0", "0", "0", "0", "0"},
        {"003", u("扫描仪"), "3", "3", "0", "3", "3", "0", u("★不符"), u("库存表中有 2 行这种设备"),
         "0", "0", "0", "0", "0", "0"},
        {"005", u("（代码表中无）"), u("—"), "2", u("—"), u("—"), "2", u("—"), u("★不符"),
         u("有流水，库存表中无此设备"), "0", "0", "0", "0", "0", "0"},
        {"001", u("显示器"), "7", "7", "0", "10", "10", "0", u("相符"), "", "5", "2", "0", "0", "0",
         "0"},
        {"004", u("投影仪"), u("—"), "0", u("—"), u("—"), "0", u("—"), u("相符"), "", "0", "0", "0",
         "0", "0", "0"}};
    QCOMPARE(test::listed(*dlg->list()), expected);
    QCOMPARE(dlg->findChild<QLabel*>(u("summaryLabel"))->text(),
             u("共 5 种设备，其中 3 种与出入库流水不符（列在前面，标有“★不符”）。"));
    QVERIFY(Messages::shown().isEmpty());
    shoot(*dlg, u("reconcile"));
}

void TestReconcile::browserModifyShowsAsDifference()
{
    test::seed(*m_db, "DEVICE_CODE", {{"001", "显示器"}});
    test::seed(*m_db, "DEVICE", {{"001", 6, 20, 1, 6}});
    test::seed(*m_db, "DEVICE_IN", {{"001", "2026-1-5 9:00:00", "甲", "1", 6, 10, "乙"}});
    QCOMPARE(test::listed(*reconcile()->list()).value(0).value(8), u("相符"));

    // The stock-in browser corrects the quantity and leaves the stock alone.
    {
        auto browser = test::openForm<CViewInDlg>(test::formContext(m_db, m_log.get(), 1));
        auto* list = browser->findChild<RecordListView*>();
        QVERIFY(list);
        const QRect cell = list->visualRect(list->model()->index(0, 2));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
        auto* quantity = browser->findChild<QLineEdit*>("quantity");
        if (!quantity)
            quantity = browser->findChild<QLineEdit*>(u("quantity"));
        QVERIFY(quantity);
        quantity->setText(u("8"));
        QVERIFY(test::press(*browser, "modify"));
    }
    Messages::clearShown();
    const QStringList row = test::listed(*reconcile()->list()).value(0);
    QCOMPARE(row.mid(2, 8), (QStringList{"6", "8", "-2", "6", "8", "-2", u("★不符"),
                                         u("现在数量与流水结存不符；总数与入库合计不符")}));
}

// One step of a day, as the forms make it: "open CODE N [TOTAL]" (the
// stock form's add; the total N unless given), "set CODE N" (its change of
// the stock on hand), "in", "out", "return CODE N" (the movement forms' row
// and stock change), "dropIn CODE" (the stock-in browser deletes the
// device's stock-ins), "outside CODE N" (stock and total set by another
// program), "legacy CODE N TOTAL" (a device and its stock row of a
// database from before the adjustments), "history CODE N" (a stock-in of 2020 imported from a
// file), "correct" (按流水更正 of both on every device), "opening"
// (记录期初库存), "count CODE N [CODE N …]" (库存盘点: each count typed into
// its device's row, then 确认盘点); each a minute after the last.
void TestReconcile::runStep(const QString& step)
{
    const QStringList w = step.split(u' ');
    const QString code = w.value(1);
    const float n = w.value(2).toFloat();
    Clock::setNow(Clock::now().addSecs(60));
    const QString now = unpaddedDateTime(Clock::now());
    Connection& c = *m_db;
    if (w[0] == "open") {
        const float total = w.size() > 3 ? w[3].toFloat() : n;
        QVERIFY(Stock::addStockRow(c, 1, code, {n, 100, 1, total}, u("张三")));
    } else if (w[0] == "set") {
        const auto f = readStock(c, code);
        Stock::changeStockRow(c, 1, code, {n, f.high, f.low, f.total}, u("张三"));
    } else if (w[0] == "in") {
        Transaction t(c);
        TableAccess(c, tables::deviceIn, 1).append({code, now, u("甲"), "1", n, 10.0f, u("乙")});
        Stock::receive(c, code, n);
        t.commit();
    } else if (w[0] == "out") {
        Transaction t(c);
        TableAccess(c, tables::deviceOut, 1)
            .append({code, u("部门A"), now, u("0"), u("张三"), n, u("李四"), u("办公")});
        QVERIFY(Stock::issue(c, code, n).done);
        t.commit();
    } else if (w[0] == "return") {
        Transaction t(c);
        TableAccess(c, tables::deviceReturn, 1).append({code, now, u("张三"), n, u("李四")});
        QVERIFY(Stock::giveBack(c, code, n));
        t.commit();
    } else if (w[0] == "dropIn") {
        c.remove({u("DEVICE_IN"), SqlText("code=?"), {code}});
    } else if (w[0] == "legacy") {
        test::seed(c, "DEVICE_CODE", {{code, u("显示器")}});
        test::seed(c, "DEVICE", {{code, w[2], 100, 1, w[3]}});
    } else if (w[0] == "history") {
        const QString path = QDir(m_sandbox->dataDir()).filePath(u("history.csv"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(u("设备号,入库时间,数量,价格\n%1,2020-1-1,%2,1\n").arg(code, w[2]).toUtf8());
        file.close();
        TableImport import(tables::deviceIn);
        import.open(path);
        QVERIFY(import.check(c));
        QVERIFY(import.write(c, 1, u("张三")));
    } else if (w[0] == "outside") {
        test::exec(c, "UPDATE DEVICE SET now_number=?, total_number=? WHERE code=?",
                   {w[2].toDouble(), w[2].toDouble(), code});
    } else if (w[0] == "count") {
        auto form =
            test::openForm<CStocktakeDlg>(test::formContext(m_db, m_log.get(), 1, u("张三")));
        for (int i = 1; i + 1 < w.size(); i += 2) {
            QTableView* sheet = form->sheet();
            const QModelIndex cell =
                sheet->model()->index(form->model()->rowOf(w[i]), StocktakeModel::Counted);
            sheet->setCurrentIndex(cell);
            sheet->edit(cell);
            auto* edit = qobject_cast<QLineEdit*>(sheet->indexWidget(cell));
            QVERIFY(edit);
            edit->setText(w[i + 1]);
            QTest::keyClick(edit, Qt::Key_Return);
        }
        Messages::queueAnswer(Messages::Answer::Yes);
        QVERIFY(test::press(*form, "confirm"));
        Messages::clearShown();
    } else {
        auto dlg = reconcile();
        test::control<QCheckBox>(*dlg, "alsoTotal")->setChecked(true);
        Messages::queueAnswer(Messages::Answer::Yes);
        QVERIFY(test::press(*dlg, w[0] == "correct" ? "correct" : "opening"));
        Messages::clearShown();
    }
}

void TestReconcile::dayOfStockChanges_data()
{
    QTest::addColumn<QStringList>("steps");
    // The 核对 and 说明 columns of the devices before the last step.
    QTest::addColumn<QList<QStringList>>("listed");
    // The stock on hand and the adjustments recorded after it.
    QTest::addColumn<QList<QStringList>>("stock");
    QTest::addColumn<QList<QStringList>>("recorded");
    const QString agrees = u("相符");
    QTest::newRow("opening stock, movements, a stock-form change, a stocktake")
        << QStringList{"open 001 5",        "open 002 0", "in 001 3",     "in 002 4",
                       "out 001 6",         "out 002 4",  "return 001 1", "set 002 2",
                       "count 001 4 002 1", "in 003 2",   "out 003 2",    "correct"}
        << QList<QStringList>{{agrees, ""}, {agrees, ""}, {agrees, ""}}
        << QList<QStringList>{{"001", "4", "8"}, {"002", "1", "4"}, {"003", "0", "2"}}
        << QList<QStringList>{{"001", "0", "5", u("期初库存")},
                              {"002", "0", "0", u("期初库存")},
                              {"002", "0", "2", u("修改库存")},
                              {"001", "3", "4", u("盘点")},
                              {"002", "2", "1", u("盘点")}};
    // One unit taken in before the program, since issued: the typed total
    // is the opening total, and a correction of totals keeps it.
    QTest::newRow("opening total")
        << QStringList{"open 001 0 1", "open 002 2 5", "in 002 3", "out 002 1", "correct"}
        << QList<QStringList>{{agrees, ""}, {agrees, ""}}
        << QList<QStringList>{{"001", "0", "1"}, {"002", "4", "8"}}
        << QList<QStringList>{{"001", "0", "0", u("期初库存")},
                              {"001", "1", "1", u("期初总数")},
                              {"002", "0", "2", u("期初库存")},
                              {"002", "5", "5", u("期初总数")}};
    QTest::newRow("a stock-in deleted in the browser")
        << QStringList{"open 001 5", "in 001 3", "out 001 1", "dropIn 001", "correct"}
        << QList<QStringList>{{u("★不符"), u("现在数量与流水结存不符；总数与入库合计不符")}}
        << QList<QStringList>{{"001", "4", "5"}}
        << QList<QStringList>{{"001", "0", "5", u("期初库存")}, {"001", "7", "4", u("按流水更正")}};
    QTest::newRow("a negative ledger is left alone")
        << QStringList{"open 002 1", "in 001 2", "out 001 2", "dropIn 001", "correct"}
        << QList<QStringList>{{u("★不符"), u("流水结存为负数，不能按流水更正，请盘点后处理；"
                                             "总数与入库合计不符")},
                              {agrees, ""}}
        << QList<QStringList>{{"001", "0", "2"}, {"002", "1", "1"}}
        << QList<QStringList>{{"002", "0", "1", u("期初库存")}};
    // A database from before the adjustments: the opening stock was typed
    // into the stock form unrecorded.
    // Imported history is no adjustment of the device: it still lacks its
    // opening stock, and its total beyond the stock-ins is its opening total.
    QTest::newRow("no opening stock recorded, history imported")
        << QStringList{"legacy 001 7 9", "history 001 4", "opening"}
        << QList<QStringList>{{u("无期初记录"),
                               u("无期初记录：现在数量比流水结存多 7，应是期初库存")}}
        << QList<QStringList>{{"001", "7", "9"}}
        << QList<QStringList>{{"001", "4", "0", u("导入入库记录")},
                              {"001", "0", "7", u("期初库存")},
                              {"001", "9", "9", u("期初总数")}};
    QTest::newRow("no opening stock recorded")
        << QStringList{"in 001 3", "outside 001 8", "out 001 1", "opening"}
        << QList<QStringList>{{u("无期初记录"),
                               u("无期初记录：现在数量比流水结存多 5，应是期初库存")}}
        << QList<QStringList>{{"001", "7", "8"}}
        << QList<QStringList>{{"001", "0", "5", u("期初库存")}};
}

void TestReconcile::dayOfStockChanges()
{
    QFETCH(QStringList, steps);
    QFETCH(QList<QStringList>, listed);
    for (const QString& step : steps.mid(0, steps.size() - 1))
        runStep(step);
    QList<QStringList> verdicts;
    for (const QStringList& row : test::listed(*reconcile()->list()))
        verdicts << row.mid(8, 2);
    QCOMPARE(verdicts, listed);

    runStep(steps.last());
    QTEST(test::rows(*m_db, u("SELECT code, now_number, total_number FROM DEVICE ORDER BY code")),
          "stock");
    QTEST(adjustments(), "recorded");
    // Whatever was left alone, every device the program could settle agrees.
    for (const LedgerRow& row : StockLedger::reconcile(*m_db))
        if (!row.ledgerNegative())
            QVERIFY2(row.agrees(), qPrintable(row.code + u(": ") + row.problem()));
}

void TestReconcile::importedHistoryAgrees_data()
{
    QTest::addColumn<QStringList>("order"); // of the tables imported
    QTest::newRow("stock, then history")
        << QStringList{"DEVICE_CODE", "DEVICE", "DEVICE_IN", "DEVICE_OUT", "DEVICE_RETURN"};
    QTest::newRow("history, then stock")
        << QStringList{"DEVICE_CODE", "DEVICE_OUT", "DEVICE_RETURN", "DEVICE_IN", "DEVICE"};
}

// A department's lists exported and imported into another department: its
// movements are history, already in the stock imported, and every device
// agrees; no correction changes anything; later movements, back-dated
// ones too, count as before.
void TestReconcile::importedHistoryAgrees()
{
    QFETCH(QStringList, order);
    test::seed(*m_db, "DEVICE_CODE",
               {{"001", "显示器"}, {"002", "打印机"}, {"003", "扫描仪"}, {"004", "投影仪"}});
    for (const char* step :
         {"open 001 5", "in 001 3", "out 001 4", "return 001 1", "open 002 0 1", "in 002 4",
          "out 002 4", "in 003 2", "out 003 1", "in 004 1", "out 004 1"})
        runStep(u(step));
    // 004 comes as history alone.
    test::exec(*m_db, "DELETE FROM DEVICE WHERE code=?", {"004"});
    const QList<QStringList> stocked = stock();
    ConnectionPtr other = m_sandbox->open(u("VOK2"));
    for (const QString& name : order) {
        const TableDescription& table = *tables::find(name);
        const QString path = QDir(m_sandbox->dataDir()).filePath(name + u(".csv"));
        RecordListModel list(table.listColumns());
        TableAccess(*m_db, table).fill(list, TableAccess(*m_db, table).all());
        QVERIFY(exportList(exportSourceOf(list), path, exportFormatFor(path)));
        TableImport import(table);
        import.open(path);
        QVERIFY(import.check(*other));
        QCOMPARE(import.problemCount(), 0);
        QVERIFY(import.write(*other, 1, u("张三")));
    }
    std::swap(m_db, other);
    const auto agreeing = [this] {
        for (const QStringList& row : test::listed(*reconcile()->list()))
            QVERIFY2(row.value(8) == u("相符"), qPrintable(row.join(QLatin1Char(' '))));
    };
    agreeing();
    QCOMPARE(stock(), stocked);
    QCOMPARE(StockLedger::correct(*m_db, 1, StockLedger::reconcile(*m_db), true, u("张三")), 0);
    QCOMPARE(stock(), stocked);
    // Per device and table, what the imported rows add to the ledger is
    // taken out again.
    const QString out = u("导入出库记录"), in = u("导入入库记录"), back = u("导入还库记录");
    QCOMPARE(test::rows(*m_db, u("SELECT code, before_number, after_number, reason FROM "
                                 "DEVICE_ADJUST WHERE reason LIKE '导入%' ORDER BY code, "
                                 "before_number")),
             (QList<QStringList>{{"001", "-4", "0", out},
                                 {"001", "1", "0", back},
                                 {"001", "3", "0", in},
                                 {"002", "-4", "0", out},
                                 {"002", "4", "0", in},
                                 {"003", "-1", "0", out},
                                 {"003", "2", "0", in},
                                 {"004", "-1", "0", out},
                                 {"004", "1", "0", in}}));

    // Movements typed after the import, one dated before it, count.
    runStep(u("in 001 2"));
    Clock::setNow(QDateTime(QDate(2025, 1, 1), QTime(8, 0)));
    runStep(u("out 003 1"));
    agreeing();
    QCOMPARE(stock().value(0), (QStringList{"001", "7", "10"}));
}

void TestReconcile::correction_data()
{
    QTest::addColumn<int>("classNumber");
    QTest::addColumn<int>("chosenRow"); // -1: none chosen, every device
    QTest::addColumn<bool>("alsoTotal");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QList<QStringList>>("stock");

    // Only 002 can be corrected: 003 has two rows, 005 none, and 006 a
    // ledger below zero.
    QTest::newRow("class 1, every device, now only")
        << 1 << -1 << false << u("将按出入库流水更正 1 种设备的现在数量，是否继续?")
        << QList<QStringList>{{"001", "7", "10"},
                              {"002", "3.5", "4.5"},
                              {"003", "1", "1"},
                              {"003", "2", "2"},
                              {"006", "0", "5"}};
    QTest::newRow("class 2, the chosen devices, with total")
        << 2 << 0 << true << u("将按出入库流水更正 1 种设备的现在数量和总数，是否继续?")
        << QList<QStringList>{{"001", "7", "10"},
                              {"002", "3.5", "4.5"},
                              {"003", "1", "1"},
                              {"003", "2", "2"},
                              {"006", "0", "5"}};
}

void TestReconcile::correction()
{
    QFETCH(int, classNumber);
    QFETCH(int, chosenRow);
    QFETCH(bool, alsoTotal);
    seedLedger();
    // 006: total 5 without any stock-in, a stock-out of 3 (ledger -3).
    test::seed(*m_db, "DEVICE", {{"006", 0, 20, 1, 5}});
    test::seed(*m_db, "DEVICE_OUT(code,department,out_date,out_number)",
               {{"006", "部门A", "2026-2-1 9:00:00", 3}});
    auto dlg = reconcile(classNumber);
    if (alsoTotal)
        test::control<QCheckBox>(*dlg, "alsoTotal")->setChecked(true);
    if (chosenRow >= 0) {
        // The top rows are 002, 003, 005, 006: choose 002 and 003.
        const auto* model = dlg->list()->model();
        auto* selection = dlg->list()->selectionModel();
        selection->select(model->index(0, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
        selection->select(model->index(1, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    // Answering no changes nothing.
    const QList<QStringList> before = stock();
    Messages::queueAnswer(Messages::Answer::No);
    QVERIFY(test::press(*dlg, "correct"));
    QCOMPARE(stock(), before);

    Messages::clearShown();
    Messages::queueAnswer(Messages::Answer::Yes);
    dlg->commands()->trigger(CReconcileDlg::IDC_CORRECT);
    QCOMPARE(Messages::shown().size(), 2);
    const Messages::Shown question = Messages::shown().at(0);
    QTEST(question.text, "question");
    QCOMPARE(question.icon, Icon::Question);
    QCOMPARE(question.buttons, Messages::Buttons::YesNo);
    QCOMPARE(Messages::shown().at(1).text.left(12), u("完成按流水更正库存操作，"));
    QTEST(stock(), "stock");
    QCOMPARE(test::logged(*m_db), QStringList{u("按流水更正库存")});
    QCOMPARE(test::rows(*m_db, u("SELECT code, before_number, after_number, reason, user_name "
                                 "FROM DEVICE_ADJUST WHERE reason<>'修改库存'")),
             (QList<QStringList>{{"002", "9", "3.5", u("按流水更正"), u("张三")}}));
    // The list is read again.
    QCOMPARE(test::listed(*dlg->list()).value(0).value(0), QStringLiteral("003"));
}

void TestReconcile::classThreeIsRefused()
{
    seedLedger();
    auto dlg = reconcile(3);
    const QList<QStringList> before = stock();
    QVERIFY(test::press(*dlg, "correct"));
    QCOMPARE(Messages::shown().size(), 1);
    QCOMPARE(Messages::shown().first().text, kRefusal);
    QCOMPARE(Messages::shown().first().caption, u("警告!"));
    QCOMPARE(Messages::shown().first().icon, Icon::Stop);
    QCOMPARE(stock(), before);
    QVERIFY(test::logged(*m_db).isEmpty());
}

void TestReconcile::periodEdges_data()
{
    QTest::addColumn<QString>("outDate");
    QTest::addColumn<bool>("counts");
    QTest::newRow("first day 0:0:0") << u("2026-3-1 0:0:0") << true;
    QTest::newRow("day before 23:59:59") << u("2026-2-28 23:59:59") << false;
    QTest::newRow("last day 23:59:59") << u("2026-3-31 23:59:59") << true;
    QTest::newRow("next day 0:0:0") << u("2026-4-1 0:0:0") << false;
}

void TestReconcile::periodEdges()
{
    QFETCH(QString, outDate);
    QFETCH(bool, counts);
    test::seed(*m_db, "DEVICE_OUT(code,department,out_date,out_number)",
               {{"001", "部门A", outDate, 4}});
    test::seed(*m_db, "DEVICE_RETURN(code,return_date,return_number)", {{"001", outDate, 1}});
    // The default period is this month: 2026-03-01 to 2026-03-31.
    auto dlg = consumption();
    QCOMPARE(test::control<QDateEdit>(*dlg, "from")->date(), QDate(2026, 3, 1));
    QCOMPARE(test::control<QDateEdit>(*dlg, "to")->date(), QDate(2026, 3, 31));
    const auto departments = test::listed(*test::control<RecordListView>(*dlg, "departments"));
    const auto returns = test::listed(*test::control<RecordListView>(*dlg, "returns"));
    if (counts) {
        QCOMPARE(departments, (QList<QStringList>{{"1", u("部门A"), "4", u("—"), u("—")}}));
        QCOMPARE(returns, (QList<QStringList>{{"001", "1"}}));
    } else {
        QVERIFY(departments.isEmpty());
        QVERIFY(returns.isEmpty());
    }
}

void TestReconcile::demandReturnsAndMonths()
{
    test::seed(*m_db, "DEVICE_CODE", {{"001", "显示器"}, {"002", "打印机"}});
    test::seed(*m_db, "DEVICE_OUT(code,department,out_date,out_number)",
               {{"001", "部门A", "2026-3-2 9:00:00", 2},
                {"002", "部门A", "2026-3-3 9:00:00", 1},
                {"001", "部门B", "2026-3-4 9:00:00", 5},
                {"001", "部门B", "2025-4-30 23:59:59", 6},
                {"001", "部门B", "2025-3-31 23:59:59", 9}});
    // Demands overlapping March (one ending on its first day), one not.
    test::seed(*m_db, "DEVICE_NEED",
               {{"001", "部门A", "2026-2-1", "2026-3-1", "4"},
                {"002", "部门C", "2026-3-31", "2026-5-1", "3"},
                {"001", "部门B", "2026-4-1", "2026-5-1", "8"}});

    auto dlg = consumption();
    auto* departments = test::control<RecordListView>(*dlg, "departments");
    // 部门A's demand for 001 was met by the 2 of 001 issued; the 002 issued
    // meets no demand.
    QCOMPARE(test::listed(*departments), (QList<QStringList>{{"1", u("部门A"), "3", "4", "50.0%"},
                                                             {"2", u("部门B"), "5", u("—"), u("—")},
                                                             {"3", u("部门C"), "0", "3", "0.0%"}}));
    QVERIFY(dlg->months().empty());

    // One device: its figures and its last twelve months, April to March.
    QVERIFY(test::type(*dlg, "device", u("001")));
    QVERIFY(test::press(*dlg, "count"));
    QCOMPARE(test::listed(*departments),
             (QList<QStringList>{{"1", u("部门A"), "2", "4", "50.0%"},
                                 {"2", u("部门B"), "5", u("—"), u("—")}}));
    std::vector<double> months(12, 0.0);
    months[0] = 6;
    months[11] = 7;
    QCOMPARE(dlg->months(), months);

    // A period that ends before it begins is refused.
    test::control<QDateEdit>(*dlg, "from")->setDate(QDate(2026, 4, 1));
    QVERIFY(test::press(*dlg, "count"));
    QCOMPARE(Messages::shownTexts(), QStringList{u("开始日期不能晚于结束日期!")});
    QCOMPARE(test::listed(*departments).size(), 2);
    shoot(*dlg, u("consumption"));
}

void TestReconcile::demandMetDeviceByDevice_data()
{
    QTest::addColumn<QStringList>("issued"); // code and quantity, in March
    QTest::addColumn<QStringList>("demanded");
    QTest::addColumn<QString>("share");
    // Ten switches wanted, none issued: five projectors meet none of it.
    QTest::newRow("技术部: switches wanted, projectors issued")
        << QStringList{"projector 5"} << QStringList{"switch 10"} << u("0.0%");
    // More issued of one device than wanted does not make up for another.
    QTest::newRow("one over, one short") << QStringList{"projector 6", "switch 1"}
                                         << QStringList{"projector 4", "switch 2"} << u("83.3%");
    QTest::newRow("all met") << QStringList{"switch 12"} << QStringList{"switch 10"} << u("100.0%");
}

void TestReconcile::demandMetDeviceByDevice()
{
    QFETCH(QStringList, issued);
    QFETCH(QStringList, demanded);
    for (const QString& i : issued)
        test::seed(*m_db, "DEVICE_OUT(code,department,out_date,out_number)",
                   {{i.section(u' ', 0, 0), "技术部", "2026-3-2 9:00:00", i.section(u' ', 1)}});
    for (const QString& d : demanded)
        test::seed(
            *m_db, "DEVICE_NEED",
            {{d.section(u' ', 0, 0), "技术部", "2026-3-1", "2026-3-31", d.section(u' ', 1)}});
    auto dlg = consumption();
    const auto rows = test::listed(*test::control<RecordListView>(*dlg, "departments"));
    QCOMPARE(rows.size(), 1);
    QTEST(rows.first().value(4), "share");
}

void TestReconcile::chartsExportAsPng()
{
    test::seed(*m_db, "DEVICE_CODE", {{"001", "显示器"}});
    test::seed(*m_db, "DEVICE_OUT(code,department,out_date,out_number)",
               {{"001", "部门A", "2026-3-2 9:00:00", 2}});
    auto dlg = consumption();
    QVERIFY(test::type(*dlg, "device", u("001")));
    QVERIFY(test::press(*dlg, "count"));
    // Each chart through its command and the file dialog.
    const std::pair<int, const char*> charts[] = {{CConsumptionDlg::IDC_EXPORT_BAR, "barChart"},
                                                  {CConsumptionDlg::IDC_EXPORT_LINE, "lineChart"}};
    for (const auto& [command, chart] : charts) {
        const QString path = QDir(m_sandbox->dataDir()).filePath(u("%1.png").arg(chart));
        FileDialogs::queueAnswer(path);
        dlg->commands()->trigger(command);
        const QImage image(path);
        QVERIFY(image.width() >= 400 && image.height() >= 200);
        shoot(*test::control<QWidget>(*dlg, chart), chart);
    }
    QVERIFY(Messages::shown().isEmpty());
    FileDialogs::queueAnswer(u("/nonexistent/dir/x.png"));
    QVERIFY(test::press(*dlg, "exportBar"));
    QCOMPARE(Messages::shownTexts(), QStringList{u("无法写入文件 /nonexistent/dir/x.png !")});
}

void TestReconcile::bothPrint()
{
    seedLedger();
    QString pdf;
    test::printToPdf([&] { return pdf; });
    const QString shots = qEnvironmentVariable("VOK_SHOTS");
    const QString dir = shots.isEmpty() ? m_sandbox->dataDir() : shots;
    pdf = QDir(dir).filePath(u("reconcile.pdf"));
    QVERIFY(test::press(*reconcile(), "print"));
    QVERIFY(QFile(pdf).size() > 1000);
    pdf = QDir(dir).filePath(u("consumption.pdf"));
    Clock::setNow(QDateTime(QDate(2026, 2, 15), QTime(10, 0)));
    QVERIFY(test::press(*consumption(), "print"));
    QVERIFY(QFile(pdf).size() > 1000);
    QVERIFY(Messages::shown().isEmpty());
}

void TestReconcile::consumptionTakesAScannedCode()
{
    seedLedger();
    auto form = consumption();
    auto* device = form->findChild<QComboBox*>("device");
    device->setFocus();
    QTRY_VERIFY(device->hasFocus());
    QTest::keyClicks(device, "002");
    QTest::keyClick(device, Qt::Key_Return);
    QVERIFY(form->isVisible());
    QCOMPARE(device->currentText(), u("002"));
    QVERIFY(!device->hasFocus());
    QVERIFY(Messages::shownTexts().isEmpty());
}

QTEST_MAIN(TestReconcile)
#include "tst_reconcile.moc"
