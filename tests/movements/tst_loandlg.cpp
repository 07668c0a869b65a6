// The loan forms driven as a storekeeper drives them, on both engines:
// five scans make three lines, confirm lends them and prints the 借用单; a
// loan of more than is on hand and a read-only class are refused with
// nothing written; returns by scan and Enter, good and damaged, and the
// 待修 list's repair and write-off.
#include "EntryFormDriver.h"

#include "core/Loans.h"
#include "core/StockChange.h"
#include "movements/LoanDlg.h"
#include "movements/LoanReturnDlg.h"
#include "records/LoanQueryDlg.h"
#include "stock/DeviceCardDlg.h"
#include "stock/StockDlg.h"
#include "support/FormTest.h"
#include "support/TestSupport.h"
#include "ui/MessageService.h"
#include "ui/PrintReport.h"
#include "ui/RecordListView.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

using namespace vok;
using namespace vok::test;

namespace {
using test::u;

// Saves a picture of a widget when VOK_SHOTS names a folder.
void shoot(QWidget& w, const QString& name)
{
    const QString dir = qEnvironmentVariable("VOK_SHOTS");
    QCoreApplication::processEvents();
    if (!dir.isEmpty())
        w.grab().save(QDir(dir).filePath(name + u(".png")));
}

// A hand scanner: the code typed into the focused device list, then Enter.
void scan(QWidget* form, const QString& code)
{
    auto* list = qobject_cast<QComboBox*>(EntryFormDriver::control(form, "device"));
    QVERIFY(list);
    QTRY_VERIFY(list->hasFocus());
    QTest::keyClicks(list, code);
    QTest::keyClick(list, Qt::Key_Return);
    QCoreApplication::processEvents();
}

} // namespace

class TestLoanDlg : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void fiveScansLendThreeLines();
    void refusedLoansWriteNothing_data();
    void refusedLoansWriteNothing();
    void returnsByScanAndEnter();
    void loanQueryListsAndReminds();

private:
    template <typename Form> std::unique_ptr<Form> open(int classNumber = 1)
    {
        return test::openForm<Form>(test::formContext(m_d->db, &m_d->log, classNumber, u("张三")));
    }
    QString folder() const
    {
        const QString shots = qEnvironmentVariable("VOK_SHOTS");
        return shots.isEmpty() ? QDir::tempPath() : shots;
    }
    void stock(const char* code, float now)
    {
        Stock::addStockRow(*m_d->db, 1, u(code), {now, 100, 0, now}, u("张三"));
    }

    std::unique_ptr<EntryFormDriver> m_d;
    QString m_pdf;
};

void TestLoanDlg::init()
{
    m_d = std::make_unique<EntryFormDriver>();
    Clock::setNow(QDateTime(QDate(2026, 3, 15), QTime(10, 0)));
    stock("a1", 5);
    stock("B2", 2);
    stock("C3", 1);
    m_pdf = QDir(folder()).filePath(u("h7-loan-slip.pdf"));
    QFile::remove(m_pdf);
    test::printToPdf([this] { return m_pdf; });
}

void TestLoanDlg::cleanup()
{
    PrintService::setChooser({});
    m_d.reset();
}

void TestLoanDlg::fiveScansLendThreeLines()
{
    auto form = open<CLoanDlg>();
    form->findChild<QWidget*>(u("device"))->setFocus();
    for (const char* code : {"a1", "B2", "a1", "C3", "a1"})
        scan(form.get(), u(code));
    QCOMPARE(tableRows(*form, u("lines")), (QList<QStringList>{{"a1", u("名a1"), "3", "5"},
                                                               {"B2", u("名B2"), "1", "2"},
                                                               {"C3", u("名C3"), "1", "1"}}));
    QVERIFY(type(*form,
                 {{"borrower", u("李四")}, {"department", u("工程部")}, {"note", u("外出测量")}}));
    auto* days = form->findChild<QSpinBox*>(u("days"));
    days->setValue(10);
    QCOMPARE(form->findChild<QDateEdit*>(u("due"))->date(), QDate(2026, 3, 25));
    shoot(*form, u("h7-loan-five-scans"));
    QVERIFY(press(*form, "confirm"));
    QCOMPARE(Messages::shownTexts(), QStringList{kDone});
    QCOMPARE(test::rows(*m_d->db, "SELECT code, out_state, out_number, taker, usage FROM "
                                  "DEVICE_OUT ORDER BY code"),
             (QList<QStringList>{{"B2", u("借用"), "1", u("李四"), u("借用单 1")},
                                 {"C3", u("借用"), "1", u("李四"), u("借用单 1")},
                                 {"a1", u("借用"), "3", u("李四"), u("借用单 1")}}));
    QCOMPARE(
        test::rows(*m_d->db, "SELECT line, code, loan_number, borrower, department, "
                             "due_date, handler, note FROM DEVICE_LOAN ORDER BY line"),
        (QList<QStringList>{
            {"1-1", "a1", "3", u("李四"), u("工程部"), "2026-03-25", u("张三"), u("外出测量")},
            {"1-2", "B2", "1", u("李四"), u("工程部"), "2026-03-25", u("张三"), u("外出测量")},
            {"1-3", "C3", "1", u("李四"), u("工程部"), "2026-03-25", u("张三"), u("外出测量")}}));
    QCOMPARE(logged(*m_d->db).last(), u("添加借用信息（借用单 1）"));
    QVERIFY(QFile::exists(m_pdf));
    if (!qEnvironmentVariable("VOK_SHOTS").isEmpty())
        QProcess::execute(u("pdftoppm"), {u("-png"), u("-r"), u("70"), u("-singlefile"), m_pdf,
                                          QDir(folder()).filePath(u("h7-loan-slip"))});

    // The next loan offers the borrower and remembers the days.
    auto next = open<CLoanDlg>();
    QCOMPARE(next->findChild<QComboBox*>(u("borrower"))->itemText(0), u("李四"));
    QCOMPARE(next->findChild<QSpinBox*>(u("days"))->value(), 10);
}

void TestLoanDlg::refusedLoansWriteNothing_data()
{
    QTest::addColumn<int>("classNumber");
    QTest::addColumn<QStringList>("scans");
    QTest::addColumn<QString>("borrower");
    QTest::addColumn<QString>("message");
    QTest::newRow("more than on hand") << 1 << QStringList{"C3", "a1", "C3"} << u("李四")
                                       << u("设备 C3 现有库存 1，不够借出 2，没有登记。");
    QTest::newRow("no borrower") << 1 << QStringList{"a1"} << u("") << u("请输入借用人。");
    QTest::newRow("nothing scanned")
        << 1 << QStringList{} << u("李四") << u("请扫描或选择要借用的设备。");
    QTest::newRow("class 3") << 3 << QStringList{"a1"} << u("李四") << kRefusal;
}

void TestLoanDlg::refusedLoansWriteNothing()
{
    QFETCH(int, classNumber);
    QFETCH(QStringList, scans);
    QFETCH(QString, borrower);
    QFETCH(QString, message);
    auto form = open<CLoanDlg>(classNumber);
    form->findChild<QWidget*>(u("device"))->setFocus();
    for (const QString& code : scans)
        scan(form.get(), code);
    QVERIFY(type(*form, "borrower", borrower));
    QVERIFY(press(*form, "confirm"));
    QCOMPARE(Messages::shownTexts(), QStringList{message});
    QVERIFY(form->isVisible());
    QCOMPARE(m_d->db->count({"DEVICE_OUT"}), 0);
    QCOMPARE(m_d->db->count({"DEVICE_LOAN"}), 0);
    QCOMPARE(test::rows(*m_d->db, "SELECT code, now_number FROM DEVICE ORDER BY now_number"),
             (QList<QStringList>{{"C3", "1"}, {"B2", "2"}, {"a1", "5"}}));
    QVERIFY(!QFile::exists(m_pdf));
}

void TestLoanDlg::returnsByScanAndEnter()
{
    QCOMPARE(
        Loans::lend(
            *m_d->db, 1,
            {u("李四"), u("工程部"), QDate(2026, 3, 20), u("张三"), {}, {{"a1", 3}, {"B2", 2}}})
            .problem,
        QString());
    Clock::setNow(QDateTime(QDate(2026, 3, 23), QTime(9, 0)));
    auto form = open<CLoanReturnDlg>();
    auto* scanField = form->findChild<QLineEdit*>(u("scan"));
    auto* quantity = form->findChild<QLineEdit*>(u("quantity"));
    QTRY_VERIFY(scanField->hasFocus());
    // A borrower's name lists both lines, 3 days overdue.
    typeKeys(scanField, u("李四"));
    QTest::keyClick(scanField, Qt::Key_Return);
    QCOMPARE(
        tableRows(*form, u("openLoans")),
        (QList<QStringList>{
            {"1-1", "a1", u("名a1"), u("李四"), "2026-03-15 10:00:00", "2026-03-20", "3", "3"},
            {"1-2", "B2", u("名B2"), u("李四"), "2026-03-15 10:00:00", "2026-03-20", "3", "2"}}));
    QTRY_VERIFY(quantity->hasFocus());
    quantity->setText("1");
    shoot(*form, u("h7-loan-return"));
    QTest::keyClick(quantity, Qt::Key_Return);
    QTRY_VERIFY(scanField->hasFocus());
    QCOMPARE(Messages::shownTexts(), QStringList());
    QCOMPARE(test::rows(*m_d->db, "SELECT code, return_number, keeper, return_person FROM "
                                  "DEVICE_RETURN"),
             (QList<QStringList>{{"a1", "1", u("张三"), u("李四")}}));
    QCOMPARE(form->findChild<QLabel*>(u("status"))->text(), u("归还借用 1-1：1 件完好"));

    // The scanner: a code, Enter; both B2 back damaged, Enter saves.
    QTest::keyClicks(scanField, "B2");
    QTest::keyClick(scanField, Qt::Key_Return);
    QCOMPARE(tableRows(*form, u("openLoans")).size(), 1);
    QCOMPARE(quantity->text(), u("2"));
    QVERIFY(type(*form, "condition", u("损坏")));
    QTest::keyClick(quantity, Qt::Key_Return);
    QTRY_VERIFY(scanField->hasFocus());
    QCOMPARE(tableRows(*form, u("repairs")),
             (QList<QStringList>{{"1-2", "B2", u("名B2"), u("李四"), "2"}}));
    shoot(*form, u("h7-loan-return-repairs"));
    // Returning more than is out is refused.
    QTest::keyClicks(scanField, "a1");
    QTest::keyClick(scanField, Qt::Key_Return);
    quantity->setText("3");
    QTest::keyClick(quantity, Qt::Key_Return);
    QCOMPARE(Messages::shownTexts(), QStringList{u("归还数量超过未还数量 2。")});

    // One repaired (both were lent: 0 on hand before), one written off: a
    // reason is asked for first.
    QVERIFY(press(*form, "repair"));
    QCOMPARE(test::rows(*m_d->db, "SELECT now_number FROM DEVICE WHERE code=?", {"B2"}),
             (QList<QStringList>{{"1"}}));
    QVERIFY(press(*form, "writeOff"));
    QCOMPARE(Messages::shownTexts().last(), u("请输入报废原因。"));
    QVERIFY(type(*form, "reason", u("无法修复")));
    QVERIFY(press(*form, "writeOff"));
    QCOMPARE(tableRows(*form, u("repairs")), QList<QStringList>());
    QCOMPARE(logged(*m_d->db).mid(logged(*m_d->db).size() - 2),
             (QStringList{u("借用 1-2 修复入库 1 件"), u("借用 1-2 报废 1 件：无法修复")}));

    // A read-only class may look, not return.
    auto readOnly = open<CLoanReturnDlg>(3);
    auto* roScan = readOnly->findChild<QLineEdit*>(u("scan"));
    QTest::keyClicks(roScan, "a1");
    QTest::keyClick(roScan, Qt::Key_Return);
    QCOMPARE(tableRows(*readOnly, u("openLoans")).size(), 1);
    const int shown = int(Messages::shownTexts().size());
    QVERIFY(press(*readOnly, "save"));
    QCOMPARE(Messages::shownTexts().mid(shown), QStringList{kRefusal});
    QCOMPARE(m_d->db->count({"DEVICE_RETURN"}), 1);
}

// Open, overdue and closed lines; the 催还单 of the borrower clicked lists
// what of theirs is due; the device card shows what is out and awaiting
// repair.
void TestLoanDlg::loanQueryListsAndReminds()
{
    auto lend = [&](const char* borrower, int days, float a1) {
        QCOMPARE(Loans::lend(*m_d->db, 1,
                             {u(borrower),
                              u("工程部"),
                              Clock::now().date().addDays(days),
                              u("张三"),
                              {},
                              {{"a1", a1}}})
                     .problem,
                 QString());
    };
    lend("李四", 2, 2); // 1-1, due 3-17
    lend("李四", 9, 1); // 2-1, due 3-24
    lend("王五", 2, 1); // 3-1, returned
    QCOMPARE(Loans::giveBack(*m_d->db, 1, "3-1", 1, Loans::Condition::Damaged, u("张三")),
             QString());
    Clock::setNow(QDateTime(QDate(2026, 3, 20), QTime(9, 0)));
    auto form = open<CLoanQueryDlg>();
    auto codes = [&] {
        QStringList out;
        for (const QStringList& row : listed(*form->list()))
            out << row.first();
        out.sort();
        return out;
    };
    QCOMPARE(codes(), (QStringList{"1-1", "2-1"}));
    QVERIFY(press(*form, "overdueLoans"));
    QCOMPARE(codes(), QStringList{"1-1"});
    QVERIFY(press(*form, "closedLoans"));
    QCOMPARE(codes(), QStringList{"3-1"});
    QVERIFY(press(*form, "allLoans"));
    QCOMPARE(codes().size(), 3);

    QVERIFY(press(*form, "reminder"));
    QCOMPARE(Messages::shownTexts(), QStringList{u("请先在列表中选择一笔借用。")});
    QVERIFY(press(*form, "openLoans"));
    form->onRowChosen(0);
    QVERIFY(press(*form, "reminder"));
    QVERIFY(QFile::exists(m_pdf));
    QCOMPARE(logged(*m_d->db).last(), u("打印催还单（李四）"));
    if (!qEnvironmentVariable("VOK_SHOTS").isEmpty())
        QProcess::execute(u("pdftoppm"), {u("-png"), u("-r"), u("70"), u("-singlefile"), m_pdf,
                                          QDir(folder()).filePath(u("h7-reminder"))});

    auto card = open<CDeviceCardDlg>();
    QVERIFY(type(*card, "code", "a1"));
    QVERIFY(press(*card, "lookUp"));
    QCOMPARE(card->findChild<QLineEdit*>(u("lent"))->text(), u("3（2 笔）"));
    QCOMPARE(card->findChild<QLineEdit*>(u("awaitingRepair"))->text(), u("1"));

    auto stockForm = open<CStockDlg>();
    auto* list = stockForm->findChild<RecordListView*>(u("list"));
    const auto stockRows = listed(*list);
    for (int row = 0; row < stockRows.size(); ++row)
        if (stockRows[row].first() == u("a1"))
            emit list->rowChosen(row);
    QCOMPARE(stockForm->findChild<QLabel*>(u("loanLine"))->text(),
             u("设备 a1：借出未还 3，待修 1（均不在现存数量中）"));
}

QTEST_MAIN(TestLoanDlg)
#include "tst_loandlg.moc"
