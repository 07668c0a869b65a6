#include "EntryFormDriver.h"

#include "movements/DeviceInDlg.h"
#include "movements/DeviceNeedDlg.h"
#include "movements/DeviceOutDlg.h"
#include "movements/DeviceReturnDlg.h"

using namespace vok;
using namespace vok::test;

// What every entry form shares: Enter closes it (its exit button is the
// default, Enter never writes), and asks first when input would be lost.
class TestEntryForms : public QObject
{
    Q_OBJECT
private slots:
    void enterAsksBeforeDiscardingInput_data();
    void enterAsksBeforeDiscardingInput();
    void deviceNameBesideCode_data();
    void deviceNameBesideCode();
};

namespace {

using Opener = std::function<std::unique_ptr<EntryForm>(EntryFormDriver&)>;

template <class Form> Opener opener()
{
    return [](EntryFormDriver& d) -> std::unique_ptr<EntryForm> { return d.open<Form>(); };
}

} // namespace

Q_DECLARE_METATYPE(Opener)

void TestEntryForms::enterAsksBeforeDiscardingInput_data()
{
    QTest::addColumn<Opener>("open");
    QTest::addColumn<QString>("last"); // the field Enter is pressed in
    QTest::addColumn<Typed>("typed");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("answerYes");
    const Typed provider{{"provider", QStringLiteral("甲公司")}};
    QTest::newRow("stock-in untouched")
        << opener<CDeviceInDlg>() << "buyer" << Typed{} << false << false;
    QTest::newRow("stock-in typed, 否")
        << opener<CDeviceInDlg>() << "buyer" << provider << true << false;
    QTest::newRow("stock-in typed, 是")
        << opener<CDeviceInDlg>() << "buyer" << provider << true << true;
    QTest::newRow("stock-in device chosen, 否")
        << opener<CDeviceInDlg>() << "buyer" << Typed{{"device", "C3"}} << true << false;
    QTest::newRow("stock-in figure typed back, untouched")
        << opener<CDeviceInDlg>() << "number" << Typed{{"number", "0"}} << false << false;
    QTest::newRow("stock-out typed, 否")
        << opener<CDeviceOutDlg>() << "taker" << Typed{{"department", QStringLiteral("财务")}}
        << true << false;
    QTest::newRow("demand typed, 是")
        << opener<CDeviceNeedDlg>() << "department" << Typed{{"department", QStringLiteral("财务")}}
        << true << true;
}

void TestEntryForms::enterAsksBeforeDiscardingInput()
{
    QFETCH(Opener, open);
    QFETCH(QString, last);
    QFETCH(Typed, typed);
    QFETCH(bool, asked);
    QFETCH(bool, answerYes);
    EntryFormDriver d;
    auto form = open(d);
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    EntryFormDriver::type(form.get(), typed);
    QWidget* field = d.control(form.get(), last);
    QVERIFY(field);
    field->setFocus();
    QTRY_VERIFY(field->hasFocus());
    if (asked)
        Messages::queueAnswer(answerYes ? Messages::Answer::Yes : Messages::Answer::No);

    QTest::keyClick(form->windowHandle(), Qt::Key_Return);

    // A form as it opened closes without a word.
    QCOMPARE(Messages::shownTexts(),
             asked ? QStringList{EntryForm::discardQuestion()} : QStringList());
    if (asked)
        QCOMPARE(Messages::shown().first().icon, Messages::Icon::Question);
    const bool closes = !asked || answerYes;
    QCOMPARE(form->isVisible(), !closes);
    if (!closes) {
        for (const auto& [name, text] : typed)
            if (name != QStringLiteral("device"))
                QCOMPARE(d.text(form.get(), name), text);
        QCOMPARE(field->hasFocus(), true);
    }
    QVERIFY(d.rows(QStringLiteral("SELECT * FROM DEVICE_IN")).isEmpty());
    QVERIFY(d.logged().isEmpty());
}

void TestEntryForms::deviceNameBesideCode_data()
{
    QTest::addColumn<Opener>("open");
    QTest::newRow("stock-in") << opener<CDeviceInDlg>();
    QTest::newRow("stock-out") << opener<CDeviceOutDlg>();
    QTest::newRow("return") << opener<CDeviceReturnDlg>();
    QTest::newRow("demand") << opener<CDeviceNeedDlg>();
}

// The catalogue's name of the device chosen, read-only, whether chosen from
// the list or scanned.
void TestEntryForms::deviceNameBesideCode()
{
    QFETCH(Opener, open);
    EntryFormDriver d;
    test::seed(*d.db, "DEVICE_CODE", {{"BB100", "激光打印机"}});
    auto form = open(d);
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    auto* name = qobject_cast<QLineEdit*>(d.control(form.get(), "deviceName"));
    QVERIFY(name && name->isReadOnly());
    QCOMPARE(name->text(), QString());
    EntryFormDriver::choose(form.get(), "C3");
    QCOMPARE(name->text(), QStringLiteral("名C3"));
    d.control(form.get(), "device")->setFocus();
    keyboardTypes(form.get(), "BB100");
    QCOMPARE(name->text(), QStringLiteral("名C3"));
    QTest::keyClick(form->windowHandle(), Qt::Key_Return);
    QCOMPARE(name->text(), QStringLiteral("激光打印机"));
    if (QTest::currentDataTag() == QLatin1String("stock-in"))
        EntryFormDriver::grab(form.get(), QStringLiteral("h1-devicein"));
    QVERIFY(Messages::shownTexts().isEmpty());
}

QTEST_MAIN(TestEntryForms)
#include "tst_entryforms.moc"
