// The period summary form on both engines, driven as a user drives it: last
// month's figures with their total line, a range of days and a prefix, the
// device ledger on Enter and double-click, print and export, the month-end
// close and its reopening with the class rules, and an entry form refused
// in the closed month.
#include "core/Clock.h"
#include "core/OperationLog.h"
#include "core/StockChange.h"
#include "core/TableAccess.h"
#include "movements/DeviceInDlg.h"
#include "stock/PeriodSummaryDlg.h"
#include "support/FormTest.h"
#include "support/TestSupport.h"
#include "ui/EntryForm.h"
#include "ui/FileDialogService.h"
#include "ui/MessageService.h"
#include "ui/PrintReport.h"
#include "ui/RecordListView.h"
#include "ui/SummaryCommand.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QRadioButton>
#include <QTest>

using namespace vok;

namespace {
using test::u;
} // namespace

class TestPeriodSummaryDlg : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void listsLastMonthWithItsTotal();
    void rangeOfDaysAndPrefix();
    void ledgerOnEnterAndDoubleClick();
    void printsAndExports();
    void closeAndReopen();
    void classRules_data();
    void classRules();
    void commandLine_data();
    void commandLine();

private:
    std::unique_ptr<CPeriodSummaryDlg> open(int classNumber = 1)
    {
        return test::openForm<CPeriodSummaryDlg>(
            test::formContext(m_db, m_log.get(), classNumber, u("王")));
    }
    void receive(const QString& code, const QString& date, float n, float price)
    {
        Transaction t(*m_db);
        TableAccess(*m_db, tables::deviceIn, 1)
            .append({code, date, u("甲"), u(""), n, price, u("")});
        Stock::receive(*m_db, code, n);
        t.commit();
    }
    void issue(const QString& code, const QString& date, float n)
    {
        Transaction t(*m_db);
        QVERIFY(Stock::issue(*m_db, code, n).done);
        TableAccess(*m_db, tables::deviceOut, 1)
            .append({code, u("一车间"), date, u("1"), u("李"), n, u("赵"), u("维修")});
        t.commit();
    }
    QString pictureDir() const
    {
        const QString shots = qEnvironmentVariable("VOK_SHOT_DIR");
        return shots.isEmpty() ? m_sandbox->dataDir() : shots;
    }

    std::unique_ptr<test::Sandbox> m_sandbox;
    ConnectionPtr m_db;
    std::unique_ptr<COperationLog> m_log;
};

void TestPeriodSummaryDlg::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    m_db = m_sandbox->open();
    m_log = std::make_unique<COperationLog>();
    m_log->attach(m_db, u("王"));
    Messages::setTestMode(true);
    Messages::clearShown();
    TableAccess(*m_db, tables::deviceCode, 1).append({u("001"), u("显示器")});
    TableAccess(*m_db, tables::deviceCode, 1).append({u("002"), u("打印机")});
    TableAccess(*m_db, tables::deviceCode, 1).append({u("103"), u("扫描仪")});
    Clock::setNow(QDateTime(QDate(2026, 1, 2), QTime(9, 0)));
    QVERIFY(Stock::addStockRow(*m_db, 1, u("001"), {10, 100, 0, 10}, u("王")));
    receive(u("001"), u("2026-01-10 09:00:00"), 10, 100);
    issue(u("001"), u("2026-01-20 10:00:00"), 8);
    receive(u("002"), u("2026-01-21 09:00:00"), 3, 33.33f);
    issue(u("002"), u("2026-02-03 10:00:00"), 1);
    Clock::setNow(QDateTime(QDate(2026, 2, 15), QTime(10, 0)));
}

void TestPeriodSummaryDlg::cleanup()
{
    PrintService::setChooser({});
    m_log.reset();
    m_db.reset();
    m_sandbox.reset();
}

void TestPeriodSummaryDlg::listsLastMonthWithItsTotal()
{
    auto form = open(3);
    QCOMPARE(test::control<QDateEdit>(*form, u("month"))->date(), QDate(2026, 1, 1));
    QCOMPARE(
        test::listed(*test::control<RecordListView>(*form, u("summary"))),
        (QList<QStringList>{{u("001"), u("显示器"), u("0"), u("0.00"), u("10"), u("1000.00"),
                             u("8"), u("800.00"), u("0"), u("0.00"), u("0"), u("0.00"), u("0"),
                             u("0.00"), u("10"), u("1000.00"), u("12"), u("1200.00"), u("100.00")},
                            {u("002"), u("打印机"), u("0"), u("0.00"), u("3"), u("99.99"), u("0"),
                             u("0.00"), u("0"), u("0.00"), u("0"), u("0.00"), u("0"), u("0.00"),
                             u("0"), u("0.00"), u("3"), u("99.99"), u("33.33")},
                            {u("合计"), u(""), u("0"), u("0.00"), u("13"), u("1099.99"), u("8"),
                             u("800.00"), u("0"), u("0.00"), u("0"), u("0.00"), u("0"), u("0.00"),
                             u("10"), u("1000.00"), u("15"), u("1299.99"), u("")}}));
    QCOMPARE(test::control<QLabel>(*form, u("closedMonth"))->text(), u("尚未月结"));
    // Devices without stock or movement only when asked for.
    test::control<QCheckBox>(*form, u("includeIdle"))->setChecked(true);
    QVERIFY(test::press(*form, u("count")));
    QCOMPARE(test::listed(*test::control<RecordListView>(*form, u("summary"))).at(2).mid(0, 4),
             (QStringList{u("103"), u("扫描仪"), u("0"), u("0.00")}));
    test::savePicture(*form, u("h6-summary"));
}

void TestPeriodSummaryDlg::rangeOfDaysAndPrefix()
{
    auto form = open();
    test::control<QRadioButton>(*form, u("byDays"))->setChecked(true);
    test::control<QDateEdit>(*form, u("from"))->setDate(QDate(2026, 1, 15));
    test::control<QDateEdit>(*form, u("to"))->setDate(QDate(2026, 2, 14));
    QVERIFY(test::type(*form, u("prefix"), u("00")));
    QVERIFY(test::press(*form, u("count")));
    // 002's stock-out of February is valued at February's cost (33.33).
    QCOMPARE(test::listed(*test::control<RecordListView>(*form, u("summary"))),
             (QList<QStringList>{{u("001"), u("显示器"), u("20"), u("2000.00"), u("0"), u("0.00"),
                                  u("8"), u("800.00"), u("0"), u("0.00"), u("0"), u("0.00"), u("0"),
                                  u("0.00"), u("0"), u("0.00"), u("12"), u("1200.00"), u("100.00")},
                                 {u("002"), u("打印机"), u("0"), u("0.00"), u("3"), u("99.99"),
                                  u("1"), u("33.33"), u("0"), u("0.00"), u("0"), u("0.00"), u("0"),
                                  u("0.00"), u("0"), u("0.00"), u("2"), u("66.66"), u("33.33")},
                                 {u("合计"), u(""), u("20"), u("2000.00"), u("3"), u("99.99"),
                                  u("9"), u("833.33"), u("0"), u("0.00"), u("0"), u("0.00"), u("0"),
                                  u("0.00"), u("0"), u("0.00"), u("14"), u("1266.66"), u("")}}));
    test::control<QDateEdit>(*form, u("from"))->setDate(QDate(2026, 2, 15));
    QVERIFY(test::press(*form, u("count")));
    QCOMPARE(Messages::shownTexts(), QStringList{u("开始日期不能晚于结束日期!")});
}

void TestPeriodSummaryDlg::ledgerOnEnterAndDoubleClick()
{
    auto form = open();
    auto* list = test::control<RecordListView>(*form, u("summary"));
    list->setFocus();
    list->chooseRow(0);
    QTest::keyClick(list, Qt::Key_Return);
    QVERIFY(form->ledger());
    QVERIFY(form->isVisible());
    QCOMPARE(form->ledger()->windowTitle(), u("设备明细账 001 显示器（2026年1月）"));
    QCOMPARE(test::listed(*test::control<RecordListView>(*form->ledger(), u("ledger"))),
             (QList<QStringList>{
                 {u(""), u("期初"), u("设备：001 显示器"), u(""), u(""), u("0"), u("0.00")},
                 {u("2026-01-02 09:00:00"), u("期初库存"), u("0 → 10 操作员：王"), u("10"),
                  u("1000.00"), u("10"), u("1000.00")},
                 {u("2026-01-10 09:00:00"), u("入库"), u("供应商：甲 单价：100 采购员："), u("10"),
                  u("1000.00"), u("20"), u("2000.00")},
                 {u("2026-01-20 10:00:00"), u("出库"), u("部门：一车间 领用人：赵 用途：维修"),
                  u("-8"), u("-800.00"), u("12"), u("1200.00")}}));
    test::savePicture(*form->ledger(), u("h6-ledger"));
    list->chooseRow(1);
    const QRect cell = list->visualRect(list->model()->index(1, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    QTRY_COMPARE(form->ledger()->windowTitle(), u("设备明细账 002 打印机（2026年1月）"));
    // The total line has no ledger.
    list->chooseRow(2);
    QVERIFY(test::press(*form, u("ledger")));
    QCOMPARE(Messages::shownTexts(), QStringList{u("请先在列表中选择一种设备!")});
}

void TestPeriodSummaryDlg::printsAndExports()
{
    QString pdf;
    test::printToPdf([&] { return pdf; });
    auto form = open(3);
    pdf = QDir(pictureDir()).filePath(u("h6-summary.pdf"));
    QVERIFY(test::press(*form, u("print")));
    QVERIFY(QFile(pdf).size() > 1000);
    form->openLedger(0);
    pdf = QDir(pictureDir()).filePath(u("h6-ledger.pdf"));
    QVERIFY(test::press(*form->ledger(), u("print")));
    QVERIFY(QFile(pdf).size() > 1000);
    const QString csv = QDir(m_sandbox->dataDir()).filePath(u("summary.csv"));
    FileDialogs::queueAnswer(csv);
    QVERIFY(test::press(*form, u("export")));
    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u("\r\n"));
    QVERIFY(QString(lines.at(0))
                .remove(QChar(0xFEFF))
                .startsWith(u("设备号,设备名,期初数量,期初金额,入库数量")));
    QCOMPARE(lines.at(3),
             u("合计,,0,0.00,13,1099.99,8,800.00,0,0.00,0,0.00,0,0.00,10,1000.00,15,1299.99,"));
}

void TestPeriodSummaryDlg::closeAndReopen()
{
    auto form = open(2);
    Messages::queueAnswer(Messages::Answer::Yes);
    QVERIFY(test::press(*form, u("closeMonth")));
    QCOMPARE(
        Messages::shownTexts(),
        (QStringList{u("确实要对2026年1月进行月结吗？\r\n月结后不能再录入、修改或删除该月及以前的"
                       "入库、出库、退库和库存调整记录。"),
                     u("2026年1月已月结。")}));
    QCOMPARE(test::control<QLabel>(*form, u("closedMonth"))->text(), u("已月结至 2026年1月"));
    QCOMPARE(test::logged(*m_db), QStringList{u("月结 2026年1月")});
    // Nothing more to close: February is this month.
    Messages::clearShown();
    QVERIFY(test::press(*form, u("closeMonth")));
    QCOMPARE(Messages::shownTexts(),
             QStringList{u("没有可以月结的月份：上月及以前的月份都已月结。")});

    // The stock-in form is refused in January before anything is written.
    Messages::clearShown();
    auto in = test::openForm<CDeviceInDlg>(test::formContext(m_db, m_log.get(), 1));
    QVERIFY(
        test::type(*in, {{u("device"), u("001")}, {u("number"), u("1")}, {u("price"), u("1")}}));
    test::control<QDateEdit>(*in, u("date"))->setDate(QDate(2026, 1, 31));
    QVERIFY(test::press(*in, u("confirm")));
    QCOMPARE(Messages::shownTexts(), QStringList{u("2026年1月已月结，不能录入或修改该月的记录。")});
    QCOMPARE(test::rows(*m_db, u("SELECT COUNT(*) FROM DEVICE_IN")),
             (QList<QStringList>{{u("2")}}));
    in.reset();

    // Reopening takes class 1.
    form = open(1);
    Messages::clearShown();
    Messages::queueAnswer(Messages::Answer::Yes);
    QVERIFY(test::press(*form, u("reopen")));
    QCOMPARE(
        Messages::shownTexts(),
        (QStringList{u("确实要对2026年1月反结账吗？\r\n反结账后该月的记录可以再录入和修改，需要"
                       "时请重新月结。"),
                     u("2026年1月已反结账。")}));
    QCOMPARE(test::control<QLabel>(*form, u("closedMonth"))->text(), u("尚未月结"));
    QCOMPARE(test::logged(*m_db), (QStringList{u("月结 2026年1月"), u("反结账 2026年1月")}));
    // Answering no closes nothing.
    Messages::clearShown();
    Messages::queueAnswer(Messages::Answer::No);
    QVERIFY(test::press(*form, u("closeMonth")));
    QCOMPARE(test::control<QLabel>(*form, u("closedMonth"))->text(), u("尚未月结"));
}

void TestPeriodSummaryDlg::classRules_data()
{
    QTest::addColumn<int>("classNumber");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("class 3 closes") << 3 << u("closeMonth") << u("只有一级和二级用户才能月结。");
    QTest::newRow("class 3 reopens") << 3 << u("reopen") << u("只有一级用户才能反结账。");
    QTest::newRow("class 2 reopens") << 2 << u("reopen") << u("只有一级用户才能反结账。");
}

void TestPeriodSummaryDlg::classRules()
{
    QFETCH(int, classNumber);
    QFETCH(QString, button);
    QFETCH(QString, refusal);
    PeriodClose::close(*m_db, 1, u("王"), QDate(2026, 2, 15));
    auto form = open(classNumber);
    QVERIFY(test::press(*form, button));
    QCOMPARE(Messages::shownTexts(), QStringList{refusal});
    QCOMPARE(PeriodClose::lastClosed(*m_db), std::optional(QDate(2026, 1, 1)));
}

void TestPeriodSummaryDlg::commandLine_data()
{
    QTest::addColumn<QString>("months");
    QTest::addColumn<QString>("file"); // csv, xlsx or pdf
    QTest::addColumn<QString>("problem");
    QTest::newRow("one month") << u("2026-01") << u("csv") << QString();
    QTest::newRow("months") << u("2026-01..2026-02") << u("csv") << QString();
    QTest::newRow("pdf") << u("2026-01") << u("pdf") << QString();
    QTest::newRow("xlsx") << u("2026-01") << u("xlsx") << QString();
    QTest::newRow("no month") << u("2026-13") << u("csv")
                              << u("“2026-13”不是月份，应写作 YYYY-MM 或 YYYY-MM..YYYY-MM。");
    QTest::newRow("backwards") << u("2026-02..2026-01") << u("csv")
                               << u("结束的月份不能早于开始的月份。");
    QTest::newRow("no file") << u("2026-01") << QString()
                             << u("需要 --pdf、--xlsx 或 --csv 中的一个（及文件名）。");
}

void TestPeriodSummaryDlg::commandLine()
{
    QFETCH(QString, months);
    QFETCH(QString, file);
    QFETCH(QString, problem);
    SummaryRequest request;
    request.months = months;
    request.preparer = u("王");
    const QString path = QDir(m_sandbox->dataDir()).filePath(u("summary.") + file);
    (file == u"csv"   ? request.csvFile
     : file == u"pdf" ? request.pdfFile
                      : request.xlsxFile) = file.isEmpty() ? QString() : path;
    QCOMPARE(test::failureText([&] { writeSummaryReport(request); }), problem);
    QCOMPARE(QFile::exists(path), problem.isEmpty());
    if (file != u"csv" || !problem.isEmpty())
        return;
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split(u("\r\n"));
    // January alone, or January and February (002's issue of February).
    QCOMPARE(
        lines.at(3),
        months.size() == 7
            ? u("合计,,0,0.00,13,1099.99,8,800.00,0,0.00,0,0.00,0,0.00,10,1000.00,15,1299.99,")
            : u("合计,,0,0.00,13,1099.99,9,833.33,0,0.00,0,0.00,0,0.00,10,1000.00,14,1266.66,"));
}

QTEST_MAIN(TestPeriodSummaryDlg)
#include "tst_periodsummarydlg.moc"
