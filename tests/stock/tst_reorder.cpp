// From the stock alert to a purchase plan: the proposal of the devices
// under their minimum, the preview's ticks and edits by keyboard, the plan
// rows and log entries it writes, its checks and its cancel.
#include "core/Clock.h"
#include "core/OperationLog.h"
#include "db/DbError.h"
#include "db/Schema.h"
#include "stock/ReorderDlg.h"
#include "stock/StockAlertDlg.h"
#include "support/FormTest.h"
#include "support/ScriptedConnection.h"
#include "support/TestSupport.h"
#include "ui/MessageService.h"
#include "ui/RecordListView.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

using namespace vok;

namespace {

// One keyboard step in the preview, on the line of a device: Space on
// a cell, typing into a cell, or F2 and a new text.
struct Step
{
    enum Kind
    {
        Space,
        Type,
        F2
    } kind;
    QString code;
    int column;
    QString text = {};
};
using Steps = QList<Step>;

const QString kRefusal = QStringLiteral("你无权执行此项操作!请重新登录数据库!");
const QString kRange = QStringLiteral("“请填入一个在1和10000之间的数字。”");
const QString kPlanned = QStringLiteral("生成设备采购计划报表");
const QString kNow = QStringLiteral("2026-12-9 10:30:0");

// A preview line: its cells and its tick.
QStringList lineOf(const QTableWidget& t, int row)
{
    QStringList cells;
    for (int c = 0; c < t.columnCount(); ++c)
        cells << t.item(row, c)->text();
    cells << (t.item(row, CReorderDlg::ColCode)->checkState() == Qt::Checked ? QStringLiteral("✓")
                                                                             : QStringLiteral("-"));
    return cells;
}

} // namespace

Q_DECLARE_METATYPE(Steps)

class TestReorder : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void proposal_data();
    void proposal();
    void generate_data();
    void generate();
    void checks_data();
    void checks();
    void cancelWritesNothing();

private:
    std::unique_ptr<CStockAlertDlg> openAlert(int classNumber = 1);
    // Presses "生成采购计划…" and runs steps in the preview it opens, which
    // is closed afterwards if they left it open; false when none opened.
    bool inPreview(CStockAlertDlg& alert, const std::function<void(CReorderDlg&)>& steps);
    static void run(CReorderDlg& preview, const Steps& steps);
    QList<QStringList> written() const;

    std::unique_ptr<test::Sandbox> m_sandbox;
    ConnectionPtr m_db;
    std::shared_ptr<test::ScriptedConnection> m_scripted;
    COperationLog m_log;
};

void TestReorder::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    m_db = m_sandbox->open();
    m_scripted = std::make_shared<test::ScriptedConnection>(m_db);
    m_log.attach(m_db, QStringLiteral("张三"));
    Clock::setNow(QDateTime(QDate(2026, 12, 9), QTime(10, 30, 0)));
    const auto add = [this](const TableDef& t, const QVariantList& values) {
        m_db->append(t.name, t.columnNames(), values);
    };
    const QStringList names{"投影仪", "扫描仪", "打印机", "显示器", "键盘"};
    for (int i = 0; i < names.size(); ++i)
        add(schema::DeviceCode, {QStringLiteral("D%1").arg(i + 1), names.at(i)});
    // Three under their minimum: D1 with two stock-ins and an older plan,
    // D2 without a stock-in, D3 planned after its stock-in. D4 over its
    // maximum, D5 within its limits.
    add(schema::Device, {"D1", 2.0f, 20.0f, 5.0f, 40.0f});
    add(schema::Device, {"D2", 1.5f, 10.0f, 3.0f, 1.5f});
    add(schema::Device, {"D3", 0.0f, 6.0f, 2.0f, 12.0f});
    add(schema::Device, {"D4", 30.0f, 20.0f, 5.0f, 60.0f});
    add(schema::Device, {"D5", 10.0f, 20.0f, 5.0f, 30.0f});
    add(schema::DeviceIn, {"D1", "2026-3-1 14:30:0", "供应商乙", "", 10.0f, 120.5f, "李四"});
    add(schema::DeviceIn, {"D1", "2026-1-5 9:0:0", "供应商甲", "", 10.0f, 100.0f, "李四"});
    add(schema::DeviceIn, {"D3", "2026-1-10 8:0:0", "供应商丙", "", 6.0f, 80.0f, "李四"});
    add(schema::DeviceIn, {"D4", "2026-6-1 8:0:0", "供应商丙", "", 60.0f, 9.0f, "李四"});
    for (const char* code : {"D1", "D3"})
        add(schema::DeviceWantBuy, {code, "0.000000", "0.000000", "0.000000", "5.000000", "",
                                    "1.000000", "2026-2-1 10:0:0"});
}

void TestReorder::cleanup()
{
    m_scripted.reset();
    m_db.reset();
    m_sandbox.reset();
    Clock::setNow({});
}

std::unique_ptr<CStockAlertDlg> TestReorder::openAlert(int classNumber)
{
    auto alert = test::openForm<CStockAlertDlg>(test::formContext(m_scripted, &m_log, classNumber));
    if (!QTest::qWaitForWindowExposed(alert.get()))
        qWarning("window not exposed");
    return alert;
}

bool TestReorder::inPreview(CStockAlertDlg& alert, const std::function<void(CReorderDlg&)>& steps)
{
    bool opened = false;
    QTimer::singleShot(0, this, [&] {
        auto* preview = qobject_cast<CReorderDlg*>(QApplication::activeModalWidget());
        if (!preview)
            return;
        opened = true;
        steps(*preview);
        if (preview->isVisible())
            preview->reject();
    });
    return test::press(alert, QStringLiteral("reorder")) && opened;
}

void TestReorder::run(CReorderDlg& preview, const Steps& steps)
{
    QTableWidget& t = *preview.table();
    t.setFocus();
    for (const Step& s : steps) {
        const auto found = t.findItems(s.code, Qt::MatchExactly);
        QVERIFY(!found.isEmpty());
        t.setCurrentCell(found.at(0)->row(), s.column);
        if (s.kind == Step::Space) {
            QTest::keyClick(&t, Qt::Key_Space);
            continue;
        }
        // Typing opens the cell's editor with the first key; F2 opens it
        // with the text selected.
        if (s.kind == Step::F2)
            QTest::keyClick(&t, Qt::Key_F2);
        else
            test::typeKeys(&t, s.text.left(1));
        auto* editor = t.viewport()->findChild<QLineEdit*>();
        QVERIFY(editor);
        test::typeKeys(editor, s.kind == Step::F2 ? s.text : s.text.mid(1));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(t.viewport()->findChildren<QLineEdit*>().isEmpty());
    }
}

QList<QStringList> TestReorder::written() const
{
    QList<QStringList> rows;
    for (const auto& a : m_scripted->appends) {
        QStringList texts;
        for (const QVariant& v : a.values)
            texts << v.toString();
        rows << texts;
    }
    return rows;
}

void TestReorder::proposal_data()
{
    QTest::addColumn<QString>("search");
    QTest::addColumn<QStringList>("chosen"); // rows chosen in the alert, by code
    QTest::addColumn<QList<QStringList>>("lines");
    const QStringList d1{"D1", "投影仪", "2", "5", "20", "18", "供应商乙", "120.5", "", "✓"};
    const QStringList d2{"D2", "扫描仪", "1.5", "3", "10", "8", "", "", "无入库记录", "✓"};
    const QStringList d3{"D3",       "打印机", "0",
                         "2",        "6",      "6",
                         "供应商丙", "80",     "已列入采购计划（2026-02-01 10:00:00）",
                         "-"};
    // The alert lists the under-stock rows newest read at the top.
    QTest::newRow("full search, none chosen: every under-stocked device")
        << "full" << QStringList{} << QList<QStringList>{d3, d2, d1};
    QTest::newRow("the chosen rows only")
        << "underStock" << QStringList{"D1", "D3"} << QList<QStringList>{d3, d1};
    QTest::newRow("an over-stock row chosen with them is left out")
        << "full" << QStringList{"D4", "D2"} << QList<QStringList>{d2};
    QTest::newRow("an over-stock row alone: nothing to propose")
        << "full" << QStringList{"D4"} << QList<QStringList>{};
    QTest::newRow("over-stock search: nothing to propose")
        << "overStock" << QStringList{} << QList<QStringList>{};
}

void TestReorder::proposal()
{
    QFETCH(QString, search);
    QFETCH(QStringList, chosen);
    QFETCH(QList<QStringList>, lines);
    auto alert = openAlert();
    QVERIFY(!alert->findChild<QPushButton*>("reorder")->isEnabled());
    QVERIFY(test::press(*alert, search));
    RecordListView& list = *alert->list();
    const QList<QStringList> listed = test::listed(list);
    for (const QString& code : chosen) {
        // The row of the code nearest the bottom: an under-stock row.
        int row = int(listed.size()) - 1;
        while (row >= 0 && listed.at(row).at(0) != code)
            --row;
        QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier,
                          list.visualRect(list.model()->index(row, 0)).center());
    }
    QCOMPARE(alert->findChild<QPushButton*>("reorder")->isEnabled(), !lines.isEmpty());
    if (lines.isEmpty())
        return;
    QList<QStringList> shown;
    QVERIFY(inPreview(*alert, [&](CReorderDlg& preview) {
        for (int r = 0; r < preview.table()->rowCount(); ++r)
            shown << lineOf(*preview.table(), r);
        if (shown.size() == 3)
            test::savePicture(preview, QStringLiteral("reorder"));
    }));
    QCOMPARE(shown, lines);
    QVERIFY(Messages::shown().isEmpty());
}

void TestReorder::generate_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<QList<QStringList>>("rows");
    QTest::newRow("as proposed, a price typed for the device without stock-in")
        << Steps{{Step::Type, "D2", CReorderDlg::ColPrice, "55"}}
        << QList<QStringList>{
               {"D2", "1.500000", "1.500000", "10.000000", "8.000000", "", "55.000000", kNow},
               {"D1", "2.000000", "40.000000", "20.000000", "18.000000", "供应商乙", "120.500000",
                kNow}};
    QTest::newRow("Space ticks and unticks; typing and F2 change the cells")
        << Steps{{Step::Space, "D1", CReorderDlg::ColName},
                 {Step::Space, "D3", CReorderDlg::ColCode},
                 {Step::Type, "D3", CReorderDlg::ColQuantity, "4"},
                 {Step::F2, "D3", CReorderDlg::ColProvider, "供应商丁"},
                 {Step::Space, "D2", CReorderDlg::ColPrice}}
        << QList<QStringList>{{"D3", "0.000000", "12.000000", "6.000000", "4.000000", "供应商丁",
                               "80.000000", kNow}};
}

void TestReorder::generate()
{
    QFETCH(Steps, steps);
    QFETCH(QList<QStringList>, rows);
    auto alert = openAlert();
    QVERIFY(test::press(*alert, "full"));
    bool closed = false;
    QVERIFY(inPreview(*alert, [&](CReorderDlg& preview) {
        run(preview, steps);
        QVERIFY(test::press(preview, "generate"));
        closed = !preview.isVisible();
    }));
    QCOMPARE(Messages::shownTexts(), QStringList{"完成操作！"});
    QVERIFY(closed);
    QCOMPARE(written(), rows);
    QCOMPARE(test::rows(*m_db, "SELECT code FROM DEVICE_WANTBUY").size(), 2 + rows.size());
    QCOMPARE(test::logged(*m_db), QStringList(rows.size(), kPlanned));
    QVERIFY(alert->isVisible());
}

void TestReorder::checks_data()
{
    QTest::addColumn<int>("classNumber");
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<bool>("secondRowFails");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("code"); // the line whose cell is made current
    QTest::addColumn<int>("column");
    const Steps priced{{Step::Type, "D2", CReorderDlg::ColPrice, "5"}};
    QTest::newRow("class 3 refused as the purchase plan form refuses it")
        << 3 << priced << false << kRefusal << "" << -1;
    QTest::newRow("no price for the device without stock-in")
        << 1 << Steps{} << false << "请键入一个数。"
        << "D2" << int(CReorderDlg::ColPrice);
    QTest::newRow("a price over 10000")
        << 1 << Steps{{Step::Type, "D2", CReorderDlg::ColPrice, "10001"}} << false << kRange << "D2"
        << int(CReorderDlg::ColPrice);
    QTest::newRow("a quantity of 0 on a later line")
        << 1 << (priced + Steps{{Step::F2, "D1", CReorderDlg::ColQuantity, "0"}}) << false << kRange
        << "D1" << int(CReorderDlg::ColQuantity);
    QTest::newRow("nothing ticked") << 1
                                    << Steps{{Step::Space, "D1", CReorderDlg::ColCode},
                                             {Step::Space, "D2", CReorderDlg::ColCode}}
                                    << false << "请选择一个设备"
                                    << "" << -1;
    QTest::newRow("the second row fails: neither is written") << 1 << priced << true << "写入失败"
                                                              << "" << -1;
}

void TestReorder::checks()
{
    QFETCH(int, classNumber);
    QFETCH(Steps, steps);
    QFETCH(bool, secondRowFails);
    QFETCH(QString, message);
    QFETCH(QString, code);
    QFETCH(int, column);
    if (secondRowFails) {
        m_scripted->beforeAppend = [this](const QString&) {
            if (m_scripted->appends.size() == 2)
                throw DbError(DbError::Kind::Engine, QStringLiteral("写入失败"));
        };
    }
    auto alert = openAlert(classNumber);
    QVERIFY(test::press(*alert, "underStock"));
    QVERIFY(inPreview(*alert, [&](CReorderDlg& preview) {
        run(preview, steps);
        QVERIFY(test::press(preview, "generate"));
        QVERIFY(preview.isVisible());
        QCOMPARE(Messages::shownTexts(), QStringList{message});
        if (!code.isEmpty()) {
            QTableWidget& t = *preview.table();
            QCOMPARE(t.item(t.currentRow(), CReorderDlg::ColCode)->text(), code);
            QCOMPARE(t.currentColumn(), column);
        }
    }));
    QCOMPARE(test::rows(*m_db, "SELECT code FROM DEVICE_WANTBUY").size(), 2);
    QCOMPARE(test::logged(*m_db), QStringList{});
}

void TestReorder::cancelWritesNothing()
{
    auto alert = openAlert();
    QVERIFY(test::press(*alert, "underStock"));
    QVERIFY(inPreview(*alert, [&](CReorderDlg& preview) {
        run(preview, {{Step::Type, "D2", CReorderDlg::ColPrice, "5"}});
        QVERIFY(test::press(preview, "cancel"));
        QVERIFY(!preview.isVisible());
    }));
    QVERIFY(m_scripted->appends.isEmpty());
    QCOMPARE(test::logged(*m_db), QStringList{});
    QVERIFY(Messages::shown().isEmpty());
}

QTEST_MAIN(TestReorder)
#include "tst_reorder.moc"
