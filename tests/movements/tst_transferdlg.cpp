// The transfer forms driven as storekeepers in two departments drive them,
// on both engines: 部门A scans and sends, prints the 调拨单; 部门C receives
// in full, short with a reason, or not at all (a difference without its
// reason, a missing catalogue code declined, a read-only class); sends that
// are refused write nothing; a receiver out of reach is told quietly; the
// query lists each side's transfers by state.
#include "EntryFormDriver.h"

#include "core/StockChange.h"
#include "core/Transfers.h"
#include "movements/TransferInDlg.h"
#include "movements/TransferOutDlg.h"
#include "records/TransferQueryDlg.h"
#include "support/FormTest.h"
#include "support/TwoDepartments.h"
#include "ui/PrintReport.h"
#include "ui/RecordListView.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPrinter>
#include <QProcess>
#include <QTabWidget>
#include <QTableWidget>

using namespace vok;
using namespace vok::test;

class TestTransferDlg : public QObject, TwoDepartments
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void sendThenReceive_data();
    void sendThenReceive();
    void refusedSendsWriteNothing_data();
    void refusedSendsWriteNothing();
    void receiverOutOfReachIsToldQuietly();
    void queryListsEachSideByState();

private:
    template <typename Form> std::unique_ptr<Form> open(bool sender, int classNumber = 1)
    {
        FormContext context = formContext(sender ? m_a : m_c, nullptr, classNumber, u("张三"));
        context.department = sender ? kA : kC;
        context.openDepartment = opener();
        return openForm<Form>(context);
    }
    // Sends 2 × 001 and 1 × 002 from A to C through the form.
    void sendThroughForm(int scansOf002 = 1, const QString& target = kC, int classNumber = 1);
    QList<QStringList> stockOf(Connection& db)
    {
        return test::rows(db, "SELECT code, now_number FROM DEVICE ORDER BY code");
    }
    QString shots() const { return qEnvironmentVariable("VOK_SHOT_DIR"); }

    QString m_pdf;
};

void TestTransferDlg::init()
{
    m_sandbox = std::make_unique<Sandbox>();
    Clock::setNow(QDateTime(QDate(2026, 3, 15), QTime(10, 0)));
    openSides();
    seedSender(2);
    // C knows 001 by a name of its own and lacks 002.
    seed(*m_c, "DEVICE_CODE", {{u("001"), u("投影机")}});
    m_pdf =
        QDir(shots().isEmpty() ? m_sandbox->dataDir() : shots()).filePath(u("G-transfer-slip.pdf"));
    QFile::remove(m_pdf);
    PrintService::setChooser([this](QPrinter& printer, QWidget*) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(m_pdf);
        return true;
    });
}

void TestTransferDlg::cleanup()
{
    PrintService::setChooser({});
    closeSides();
}

void TestTransferDlg::sendThroughForm(int scansOf002, const QString& target, int classNumber)
{
    auto form = open<CTransferOutDlg>(true, classNumber);
    if (!target.isEmpty())
        QVERIFY(type(*form, "target", target));
    auto* list = form->findChild<QComboBox*>(u("device"));
    QStringList scans{u("001"), u("001")};
    for (int i = 0; i < scansOf002; ++i)
        scans << u("002");
    for (const QString& code : scans) {
        list->setFocus();
        QTRY_VERIFY(list->hasFocus());
        keyboardTypes(list, code + u("\r"));
    }
    QVERIFY(type(*form, "note", u("支援部门C")));
    if (scansOf002 == 1 && target == kC && classNumber == 1) {
        QCOMPARE(
            tableRows(*form, u("lines")),
            (QList<QStringList>{{"001", u("投影仪"), "2", "6"}, {"002", u("扫描仪"), "1", "5"}}));
        savePicture(*form, u("G-transfer-out"));
    }
    QVERIFY(press(*form, "confirm"));
}

void TestTransferDlg::sendThenReceive_data()
{
    QTest::addColumn<int>("classNumber");
    QTest::addColumn<QString>("received");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("addCode");
    QTest::addColumn<QStringList>("shown");
    // C's stock after; the sender's lines: code, received, reason.
    QTest::addColumn<QList<QStringList>>("stockOfC");
    QTest::addColumn<QList<QStringList>>("sentLines");

    const QString question = CTransferInDlg::missingCodesQuestion({{u("002"), u("扫描仪")}});
    const QList<QStringList> notReceived{{"001", "", ""}, {"002", "", ""}};
    QTest::newRow("in full") << 1 << u("2") << u("") << true << QStringList{question, kDone}
                             << QList<QStringList>{{"001", "2"}, {"002", "1"}}
                             << QList<QStringList>{{"001", "2", ""}, {"002", "1", ""}};
    QTest::newRow("short, with reason")
        << 2 << u("1.5") << u("运输途中损坏") << true << QStringList{question, kDone}
        << QList<QStringList>{{"001", "1.5"}, {"002", "1"}}
        << QList<QStringList>{{"001", "1.5", u("运输途中损坏")}, {"002", "1", ""}};
    QTest::newRow("short, no reason")
        << 1 << u("1") << u(" ") << true
        << QStringList{u("设备 001 实收 1，调出 2，请填写调拨差异的原因。")} << QList<QStringList>{}
        << notReceived;
    QTest::newRow("not a number") << 1 << u("两") << u("") << true
                                  << QStringList{u("设备 001 的实收数量：") + kNotANumber}
                                  << QList<QStringList>{} << notReceived;
    QTest::newRow("missing code declined") << 1 << u("2") << u("") << false << QStringList{question}
                                           << QList<QStringList>{} << notReceived;
    QTest::newRow("class 3") << 3 << u("2") << u("") << true << QStringList{kRefusal}
                             << QList<QStringList>{} << notReceived;
}

void TestTransferDlg::sendThenReceive()
{
    QFETCH(int, classNumber);
    QFETCH(QString, received);
    QFETCH(QString, reason);
    QFETCH(bool, addCode);
    QFETCH(QStringList, shown);
    QFETCH(QList<QStringList>, stockOfC);
    QFETCH(QList<QStringList>, sentLines);

    sendThroughForm();
    QCOMPARE(Messages::shownTexts(), QStringList{kDone});
    QVERIFY(QFile::exists(m_pdf));
    QCOMPARE(stockOf(*m_a), (QList<QStringList>{{"001", "4"}, {"002", "4"}}));
    QCOMPARE(transfer::waitingCount(*m_c), 1);
    const QString id = test::rows(*m_a, "SELECT transfer_id FROM TRANSFER_OUT")[0][0];
    QCOMPARE(logged(*m_a).last(), u("调拨出库 %1 至部门C 2 种 3 件").arg(id));
    Messages::clearShown();

    auto form = open<CTransferInDlg>(false, classNumber);
    QCOMPARE(tableRows(*form, u("pending")),
             (QList<QStringList>{
                 {id, kA, u("2026-03-15 10:00:00"), u("张三"), "2", "3", u("支援部门C")}}));
    QCOMPARE(tableRows(*form, u("lines")),
             (QList<QStringList>{{"1", "001", u("投影仪"), "1250.50", "2", "2", ""},
                                 {"2", "002", u("扫描仪"), "", "1", "1", ""}}));
    if (QTest::currentDataTag() == QLatin1String("in full") && !shots().isEmpty()) {
        savePicture(*form, u("G-transfer-pending"));
        QProcess::execute(u("pdftoppm"), {u("-png"), u("-r"), u("80"), u("-singlefile"), m_pdf,
                                          QDir(shots()).filePath(u("G-transfer-slip"))});
    }
    auto* lines = form->lines();
    lines->item(0, 5)->setText(received);
    lines->item(0, 6)->setText(reason);
    Messages::queueAnswer(addCode ? Messages::Answer::Yes : Messages::Answer::No);
    QVERIFY(press(*form, "confirm"));
    QCOMPARE(Messages::shownTexts(), shown);

    QCOMPARE(stockOf(*m_c), stockOfC);
    QCOMPARE(test::rows(*m_a, "SELECT code, received_number, reason FROM TRANSFER_OUT_LINE "
                              "ORDER BY line"),
             sentLines);
    const bool done = !stockOfC.isEmpty();
    QCOMPARE(test::rows(*m_c, "SELECT code, name FROM DEVICE_CODE ORDER BY code").size(),
             done ? 2 : 1);
    QCOMPARE(tableRows(*form, u("pending")).size(), done ? 0 : 1);
    QCOMPARE(form->findChild<QLabel*>(u("status"))->text(),
             done ? u("调拨单 %1 已接收。").arg(id) : u("有 1 笔调拨待接收"));
}

void TestTransferDlg::refusedSendsWriteNothing_data()
{
    QTest::addColumn<int>("classNumber");
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("scansOf002");
    QTest::addColumn<QString>("message");
    QTest::newRow("more than on hand")
        << 1 << kC << 6 << u("设备 002 现有库存 5，不够调出 6，没有调拨。");
    QTest::newRow("no target") << 1 << u("") << 1 << u("请选择调入部门。");
    QTest::newRow("class 3") << 3 << kC << 1 << kRefusal;
}

void TestTransferDlg::refusedSendsWriteNothing()
{
    QFETCH(int, classNumber);
    QFETCH(QString, target);
    QFETCH(int, scansOf002);
    QFETCH(QString, message);
    sendThroughForm(scansOf002, target, classNumber);
    QCOMPARE(Messages::shownTexts(), QStringList{message});
    QCOMPARE(m_a->count({u("TRANSFER_OUT")}), 0);
    QCOMPARE(m_c->count({u("TRANSFER_IN")}), 0);
    QCOMPARE(stockOf(*m_a), (QList<QStringList>{{"001", "6"}, {"002", "5"}}));
    QVERIFY(!QFile::exists(m_pdf));
}

// Sent while C is out of reach: stored, told without an error box, and
// delivered by the next action once C is back.
void TestTransferDlg::receiverOutOfReachIsToldQuietly()
{
    m_away = {kC};
    sendThroughForm();
    QCOMPARE(
        Messages::shownTexts(),
        QStringList{kDone + u("\r\n部门C暂时无法连接，调拨单将在下次登录或调拨操作时自动送达。")});
    QCOMPARE(stockOf(*m_a), (QList<QStringList>{{"001", "4"}, {"002", "4"}}));
    QCOMPARE(transfer::waitingCount(*m_c), 0);
    m_away.clear();
    QCOMPARE(transfer::recover({kC, m_c}, [this](const QString&) { return m_a; }).delivered, 1);
    auto form = open<CTransferInDlg>(false);
    QCOMPARE(tableRows(*form, u("pending")).size(), 1);
}

void TestTransferDlg::queryListsEachSideByState()
{
    QString ids[2];
    for (QString& id : ids) {
        id = transfer::send(a(), 1, {kC, {{u("001"), 1}}, {}, u("张三")}, opener()).id;
        QVERIFY(!id.isEmpty());
    }
    QCOMPARE(
        transfer::receive(c(), 1, ids[0], {{1, 0, u("丢失")}}, u("李四"), false, opener()).problem,
        QString());

    CTransferQueryDlg form(formContext(m_a, nullptr, 1, u("张三")));
    form.show();
    struct Case
    {
        CTransferListDlg::Side side;
        const char* button;
        QStringList ids;
    };
    using S = CTransferListDlg::Side;
    const Case cases[] = {{S::Sent, "allTransfers", {ids[1], ids[0]}},
                          {S::Sent, "pendingTransfers", {ids[1]}},
                          {S::Sent, "receivedTransfers", {ids[0]}},
                          {S::Sent, "differingTransfers", {ids[0]}},
                          {S::Received, "allTransfers", {}}};
    for (const Case& c : cases) {
        CTransferListDlg* page = form.page(c.side);
        form.pages()->setCurrentWidget(page);
        QVERIFY(press(*page, u(c.button)));
        QCOMPARE(listedColumn(*page->list()), c.ids);
    }
    // C's side of the same transfers.
    CTransferQueryDlg other(formContext(m_c, nullptr, 1, u("李四")));
    other.show();
    CTransferListDlg* received = other.page(S::Received);
    other.pages()->setCurrentWidget(received);
    QVERIFY(press(*received, u("pendingTransfers")));
    QCOMPARE(listed(*received->list()).size(), 1);
    QVERIFY(press(*received, u("differingTransfers")));
    const QList<QStringList> rows = listed(*received->list());
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].mid(0, 2), (QStringList{ids[0], kA}));
    QCOMPARE(rows[0][5], u("已接收"));
    QCOMPARE(rows[0][7], u("李四"));
    savePicture(other, u("G-transfer-query"));
    // Its exit closes the whole window.
    QVERIFY(press(*received, u("exit")));
    QVERIFY(!other.isVisible());
}

QTEST_MAIN(TestTransferDlg)
#include "tst_transferdlg.moc"
