#include "core/Tables.h"
#include "db/Schema.h"
#include "support/FormTest.h"
#include "support/TestSupport.h"
#include "ui/CommandTable.h"
#include "ui/FieldExchange.h"
#include "ui/MessageService.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace vok;

class TestFieldExchange : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_sandbox = std::make_unique<test::Sandbox>(); }
    void cleanup() { m_sandbox.reset(); }

    void numbers_data();
    void numbers();
    void texts_data();
    void texts();
    void integers_data();
    void integers();
    void stockFigures_data();
    void stockFigures();
    void firstFailureStopsLaterFields();
    void multiLineText();
    void typingStopsAtTheLimit_data();
    void typingStopsAtTheLimit();
    void programTextStaysWholeAndUndoTakesBackTheCut();
    void showsSixSignificantDigits();
    void menuAndButtonsShareTheTable();
    void rightClickOpensMenuCentredOnPointer();

private:
    std::unique_ptr<test::Sandbox> m_sandbox;
};

void TestFieldExchange::numbers_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message"); // empty: accepted
    QTest::addColumn<float>("value");
    const QString nan = FieldExchange::notANumberText();
    const QString range = QStringLiteral("“请填入一个在1和10000之间的数字。”");
    QTest::newRow("one") << "1"
                         << "" << 1.0f;
    QTest::newRow("upper bound") << "10000"
                                 << "" << 10000.0f;
    QTest::newRow("fraction") << "2.5"
                              << "" << 2.5f;
    QTest::newRow("blanks around") << "  7 \t"
                                   << "" << 7.0f;
    QTest::newRow("exponent") << "1e3"
                              << "" << 1000.0f;
    QTest::newRow("leading point") << ".5e1"
                                   << "" << 5.0f;
    QTest::newRow("empty") << "" << nan << 0.0f;
    QTest::newRow("blanks only") << "   " << nan << 0.0f;
    QTest::newRow("trailing letters") << "12abc" << nan << 0.0f;
    QTest::newRow("comma") << "1,5" << nan << 0.0f;
    QTest::newRow("hex") << "0x10" << nan << 0.0f;
    QTest::newRow("inf") << "inf" << nan << 0.0f;
    QTest::newRow("full-width digits") << QStringLiteral("１２") << nan << 0.0f;
    QTest::newRow("half") << "0.5" << range << 0.0f;
    QTest::newRow("just above") << "10000.5" << range << 0.0f;
    QTest::newRow("zero") << "0" << range << 0.0f;
    QTest::newRow("negative") << "-3" << range << 0.0f;
}

void TestFieldExchange::numbers()
{
    QFETCH(QString, typed);
    QFETCH(QString, message);
    QFETCH(float, value);
    QWidget form;
    auto* edit = new QLineEdit(typed, &form);
    float out = -1;
    FieldExchange dx(&form);
    QCOMPARE(dx.number(edit, out, tables::deviceIn, DeviceInCol::in_number), message.isEmpty());
    if (message.isEmpty()) {
        QCOMPARE(out, value);
        QVERIFY(Messages::shown().isEmpty());
    } else {
        QCOMPARE(out, -1.0f);
        QCOMPARE(Messages::shownTexts(), QStringList{message});
        QCOMPARE(Messages::shown().at(0).icon, Messages::Icon::Exclamation);
        QCOMPARE(Messages::shown().at(0).caption, appTitle());
        QCOMPARE(dx.failedControl(), edit);
    }
}

void TestFieldExchange::texts_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    // Supplier: 20 bytes; a Chinese character takes two.
    QTest::newRow("supplier at limit") << int(DeviceInCol::provider) << QString(20, 'a') << "";
    QTest::newRow("supplier over")
        << int(DeviceInCol::provider) << QString(21, 'a') << "“请填入不多于20个的字符。”";
    QTest::newRow("chinese at limit")
        << int(DeviceInCol::provider) << QString(10, QChar(0x4ED3)) << "";
    QTest::newRow("chinese over") << int(DeviceInCol::provider) << QString(10, QChar(0x4ED3)) + "a"
                                  << "“请填入不多于20个的字符。”";
    QTest::newRow("telephone over") << int(DeviceInCol::teleno) << "01234567890"
                                    << "“请填入不多于10个的字符。”";
    QTest::newRow("buyer over") << int(DeviceInCol::buyer) << QStringLiteral("欧阳张三李四")
                                << "“请填入不多于10个的字符。”";
    QTest::newRow("quote") << int(DeviceInCol::provider) << "O'Brien"
                           << "";
    QTest::newRow("not GBK") << int(DeviceInCol::provider) << QStringLiteral("A😀")
                             << QStringLiteral("字符“😀”无法保存到数据库中，请改用其他字符。");
    // A pasted NUL would be stored on one engine and cut on the other.
    QTest::newRow("NUL") << int(DeviceInCol::provider) << QString("ab") + QChar(0) + "c"
                         << "“文字中有不能保存的控制字符（U+0000），请删除它。”";
    QTest::newRow("tab") << int(DeviceInCol::buyer) << "王\t五"
                         << "“文字中有不能保存的控制字符（U+0009），请删除它。”";
    QTest::newRow("escape") << int(DeviceInCol::teleno) << "\x1b[0m"
                            << "“文字中有不能保存的控制字符（U+001B），请删除它。”";
}

void TestFieldExchange::texts()
{
    QFETCH(int, column);
    QFETCH(QString, typed);
    QFETCH(QString, message);
    QWidget form;
    auto* edit = new QLineEdit(&form);
    edit->setText(typed);
    QString out = QStringLiteral("untouched");
    FieldExchange dx(&form);
    QCOMPARE(dx.text(edit, out, tables::deviceIn, column), message.isEmpty());
    QCOMPARE(out, message.isEmpty() ? typed : QStringLiteral("untouched"));
    QCOMPARE(Messages::shownTexts(), message.isEmpty() ? QStringList() : QStringList{message});
}

void TestFieldExchange::integers_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    QTest::newRow("zero") << " 0 "
                          << "";
    QTest::newRow("nine") << "9"
                          << "";
    QTest::newRow("ten") << "10"
                         << "“请填入一个在0和9之间的整数。”";
    QTest::newRow("fraction") << "1.5"
                              << "“请填入一个正整数。”";
    QTest::newRow("empty") << ""
                           << "“请填入一个正整数。”";
}

void TestFieldExchange::integers()
{
    QFETCH(QString, typed);
    QFETCH(QString, message);
    QWidget form;
    auto* edit = new QLineEdit(typed, &form);
    int out = -1;
    FieldExchange dx(&form);
    QCOMPARE(dx.integer(edit, out, tables::deviceOut, DeviceOutCol::out_state), message.isEmpty());
    QCOMPARE(Messages::shownTexts(), message.isEmpty() ? QStringList() : QStringList{message});
}

// The stock form's figures: what is on hand may be 0, the total not; the
// movements add up beyond the limits' range, which is typed.
void TestFieldExchange::stockFigures_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    const QString range = QStringLiteral("“请填入一个在1和10000之间的数字。”");
    QTest::newRow("none on hand") << int(DeviceCol::now_number) << "0"
                                  << "";
    QTest::newRow("on hand beyond a movement") << int(DeviceCol::now_number) << "25000"
                                               << "";
    QTest::newRow("below none on hand") << int(DeviceCol::now_number) << "-0.5"
                                        << "“请填入一个不小于0的数字。”";
    QTest::newRow("no total") << int(DeviceCol::total_number) << "0"
                              << "“请填入一个不小于1的数字。”";
    QTest::newRow("total beyond a movement") << int(DeviceCol::total_number) << "25000"
                                             << "";
    QTest::newRow("limit beyond its range") << int(DeviceCol::high_number) << "25000" << range;
    QTest::newRow("limit of none") << int(DeviceCol::low_number) << "0" << range;
}

void TestFieldExchange::stockFigures()
{
    QFETCH(int, column);
    QFETCH(QString, typed);
    QFETCH(QString, message);
    QWidget form;
    auto* edit = new QLineEdit(typed, &form);
    float out = -1;
    FieldExchange dx(&form);
    QCOMPARE(dx.number(edit, out, tables::device, column), message.isEmpty());
    QCOMPARE(Messages::shownTexts(), message.isEmpty() ? QStringList() : QStringList{message});
}

void TestFieldExchange::firstFailureStopsLaterFields()
{
    QWidget form;
    auto* quantity = new QLineEdit(QStringLiteral("abc"), &form);
    auto* price = new QLineEdit(QStringLiteral("0"), &form);
    auto* buyer = new QLineEdit(QStringLiteral("王五"), &form);
    float q = -1, p = -1;
    QString b = QStringLiteral("old");
    FieldExchange dx(&form);
    dx.number(quantity, q, tables::deviceIn, DeviceInCol::in_number);
    dx.number(price, p, tables::deviceIn, DeviceInCol::price);
    dx.text(buyer, b, 10);
    QVERIFY(!dx.ok());
    QCOMPARE(dx.failedControl(), quantity);
    QCOMPARE(Messages::shownTexts(), QStringList{"请键入一个数。"});
    QCOMPARE(p, -1.0f);
    QCOMPARE(b, QStringLiteral("old"));
}

void TestFieldExchange::multiLineText()
{
    QWidget form;
    auto* usage = new QPlainTextEdit(&form);
    usage->setPlainText(QStringLiteral("维修\n备用"));
    QString out;
    FieldExchange dx(&form);
    QVERIFY(!dx.text(usage, out, 8)); // 9 bytes with the line break
    QCOMPARE(Messages::shownTexts(), QStringList{"“请填入不多于8个的字符。”"});
    FieldExchange again(&form);
    QVERIFY(again.text(usage, out, 9));
    QCOMPARE(out, QStringLiteral("维修\n备用"));
    usage->setPlainText(QStringLiteral("维修") + QChar(0));
    FieldExchange nul(&form);
    QVERIFY(!nul.text(usage, out, 80));
    QCOMPARE(Messages::shownTexts().last(), "“文字中有不能保存的控制字符（U+0000），请删除它。”");
}

// A multi-line edit and an editable combo box stop typing and pasting at
// their limit (6 GBK bytes here) as a line edit does, cutting at a
// character boundary; a line break counts one byte.
void TestFieldExchange::typingStopsAtTheLimit_data()
{
    QTest::addColumn<bool>("multiLine");
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<bool>("paste");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("shown");
    for (const bool multiLine : {true, false}) {
        const QByteArray kind = multiLine ? "lines, " : "combo, ";
        QTest::newRow(kind + "typed") << multiLine << "" << 0 << false << "库库库库"
                                      << "库库库";
        QTest::newRow(kind + "typed after a letter") << multiLine << "a" << 1 << false << "库库库"
                                                     << "a库库";
        QTest::newRow(kind + "pasted between") << multiLine << "ab" << 1 << true << "库库库"
                                               << "a库库b";
    }
    QTest::newRow("lines, pasted breaks") << true << "" << 0 << true << "库\n库\n库"
                                          << "库\n库\n";
}

void TestFieldExchange::typingStopsAtTheLimit()
{
    QFETCH(bool, multiLine);
    QFETCH(QString, before);
    QFETCH(int, cursor);
    QFETCH(bool, paste);
    QFETCH(QString, input);
    QFETCH(QString, shown);
    QWidget form;
    auto* lines = new QPlainTextEdit(&form);
    auto* combo = new QComboBox(&form);
    combo->setEditable(true);
    limitText(lines, 6);
    limitText(combo, 6);
    QWidget* edit = multiLine ? static_cast<QWidget*>(lines) : combo;
    test::typeKeys(edit, before);
    if (multiLine) {
        QTextCursor c = lines->textCursor();
        c.setPosition(cursor);
        lines->setTextCursor(c);
    } else {
        combo->lineEdit()->setCursorPosition(cursor);
    }
    if (paste) {
        QGuiApplication::clipboard()->setText(input);
        multiLine ? lines->paste() : combo->lineEdit()->paste();
    } else {
        test::typeKeys(edit, input);
    }
    QCOMPARE(multiLine ? lines->toPlainText() : combo->currentText(), shown);
}

// Text the program sets (a combo box entry chosen included) is shown whole
// and refused when taken; one undo takes back a cut paste.
void TestFieldExchange::programTextStaysWholeAndUndoTakesBackTheCut()
{
    QWidget form;
    auto* lines = new QPlainTextEdit(&form);
    auto* combo = new QComboBox(&form);
    combo->setEditable(true);
    combo->addItem(QStringLiteral("库库库库"));
    limitText(lines, 6);
    limitText(combo, 6);
    lines->setPlainText(QStringLiteral("库库库库"));
    combo->setCurrentIndex(0);
    QCOMPARE(lines->toPlainText(), QStringLiteral("库库库库"));
    QCOMPARE(combo->currentText(), QStringLiteral("库库库库"));
    QString out;
    FieldExchange dx(&form);
    QVERIFY(!dx.text(combo, out, 6));
    QCOMPARE(Messages::shownTexts(), QStringList{"“请填入不多于6个的字符。”"});

    lines->setPlainText(QStringLiteral("a"));
    lines->moveCursor(QTextCursor::End);
    QGuiApplication::clipboard()->setText(QStringLiteral("库库库"));
    lines->paste();
    QCOMPARE(lines->toPlainText(), QStringLiteral("a库库"));
    lines->undo();
    QCOMPARE(lines->toPlainText(), QStringLiteral("a"));
}

void TestFieldExchange::showsSixSignificantDigits()
{
    QCOMPARE(FieldText::number(1), QStringLiteral("1"));
    QCOMPARE(FieldText::number(2.5), QStringLiteral("2.5"));
    QCOMPARE(FieldText::number(1234567), QStringLiteral("1.23457e+06"));
    QCOMPARE(FieldText::number(double(0.1f)), QStringLiteral("0.1"));
    QCOMPARE(FieldText::listNumber(2.5), QStringLiteral("2.500000"));
}

void TestFieldExchange::menuAndButtonsShareTheTable()
{
    QWidget form;
    CommandTable commands(&form);
    QStringList ran;
    enum : int
    {
        Add = 10,
        Query = 11
    };
    commands.add(Add, "add", QStringLiteral("新　增"), QStringLiteral("新增"),
                 [&] { ran << "add"; });
    commands.addHelp(QStringLiteral("帮　助"), QStringLiteral("devcode.htm"));
    commands.add(Query, "query", QStringLiteral("查　询"), QStringLiteral("查询"),
                 [&] { ran << "query"; });
    commands.setMenuOrder({Add, CommandTable::kHelp, CommandTable::kSeparator, Query});
    QMenu* menu = commands.createMenu(&form);
    QStringList items;
    for (QAction* a : menu->actions())
        items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(items, (QStringList{"新增", "帮助", "-", "查询"}));
    menu->actions().at(3)->trigger();
    QTRY_COMPARE(ran, QStringList{"query"});
    QTest::mouseClick(form.findChild<QPushButton*>("add"), Qt::LeftButton);
    QCOMPARE(ran, (QStringList{"query", "add"}));
    QCOMPARE(form.findChild<QPushButton*>("help")->text(), QStringLiteral("帮　助"));
    menu->actions().at(1)->trigger();
    QTRY_COMPARE(m_sandbox->helpLaunches().size(), 1);
    QVERIFY(m_sandbox->helpLaunches().at(0).join(' ').contains("devcode.htm"));
}

void TestFieldExchange::rightClickOpensMenuCentredOnPointer()
{
    QWidget form;
    form.setGeometry(200, 200, 300, 200);
    CommandTable commands(&form);
    int ran = 0;
    QPushButton* b = commands.add(1, "confirm", QStringLiteral("确　认"), QStringLiteral("确认"),
                                  [&] { ++ran; });
    b->move(10, 10);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // A right-click on a button reaches the form.
    const QPoint global = b->mapToGlobal(QPoint(5, 5));
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), global);
    QApplication::sendEvent(b, &event);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QVERIFY(menu);
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions().at(0)->text(), QStringLiteral("确认"));
    QCOMPARE(menu->pos().x(), global.x() - menu->sizeHint().width() / 2);
    menu->actions().at(0)->trigger();
    menu->close();
    QTRY_COMPARE(ran, 1);
}

QTEST_MAIN(TestFieldExchange)
#include "tst_fieldexchange.moc"
