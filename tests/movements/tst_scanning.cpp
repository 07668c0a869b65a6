#include "EntryFormDriver.h"

#include "movements/DeviceInDlg.h"
#include "movements/DeviceNeedDlg.h"
#include "movements/DeviceOutDlg.h"
#include "movements/DeviceReturnDlg.h"
#include "movements/WantBuyDlg.h"
#include "ui/DeviceScan.h"

using namespace vok;
using namespace vok::test;

// A hand scanner in every entry form: it types the code into the device
// list, then Enter.
class TestScanning : public QObject
{
    Q_OBJECT
private slots:
    void scan_data();
    void scan();
    void scannedDeviceIsLookedUp();
};

namespace {

enum class Form
{
    In,
    Out,
    Return,
    Need,
    WantBuy
};

std::unique_ptr<EntryForm> openForm(EntryFormDriver& d, Form form)
{
    switch (form) {
    case Form::In:
        return d.open<CDeviceInDlg>();
    case Form::Out:
        return d.open<CDeviceOutDlg>();
    case Form::Return:
        return d.open<CDeviceReturnDlg>();
    case Form::Need:
        return d.open<CDeviceNeedDlg>();
    case Form::WantBuy:
        return d.open<CWantBuyDlg>();
    }
    return nullptr;
}

// The keys come through the window, as a scanner's do; the list does not
// move before Enter.
void scanInto(QWidget* form, const QString& code)
{
    QVERIFY(QTest::qWaitForWindowActive(form));
    auto* list = qobject_cast<QComboBox*>(EntryFormDriver::control(form, "device"));
    QVERIFY(list);
    list->setFocus();
    QTRY_VERIFY(list->hasFocus());
    const int before = list->currentIndex();
    QList<int> shown;
    keyboardTypes(form, code, [&] { shown << list->currentIndex(); });
    QCOMPARE(shown, QList<int>(code.size(), before));
    QTest::keyClick(form->windowHandle(), Qt::Key_Return);
}

} // namespace

void TestScanning::scan_data()
{
    QTest::addColumn<Form>("form");
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("known");
    const std::pair<const char*, Form> forms[] = {{"stock-in", Form::In},
                                                  {"stock-out", Form::Out},
                                                  {"return", Form::Return},
                                                  {"demand", Form::Need},
                                                  {"purchase plan", Form::WantBuy}};
    for (const auto& [name, form] : forms) {
        QTest::addRow("%s, a code", name) << form << "C3" << true;
        QTest::addRow("%s, an unknown code", name) << form << "X9" << false;
    }
    // Codes whose first keys would each choose another device.
    for (const auto& [name, form] : {forms[0], forms[1]})
        for (const char* code : {"BB100", "XY-01", "ZZZZ", "A/7", "3001", "bB-2_x"})
            QTest::addRow("%s, %s", name, code) << form << code << true;
}

void TestScanning::scan()
{
    QFETCH(Form, form);
    QFETCH(QString, code);
    QFETCH(bool, known);
    EntryFormDriver d;
    QList<QVariantList> codes;
    for (const char* c :
         {"B3001", "B3002", "BB100", "X1", "XY-01", "Z1", "ZZZZ", "A/7", "3001", "300", "bB-2_x"})
        codes << QVariantList{c, "名"};
    test::seed(*d.db, "DEVICE_CODE", codes);
    auto dlg = openForm(d, form);
    auto* list = qobject_cast<QComboBox*>(d.control(dlg.get(), "device"));
    const QString before = list->currentText();

    scanInto(dlg.get(), code);

    QVERIFY(dlg->isVisible());
    if (known) {
        QCOMPARE(list->currentText(), code);
        QVERIFY(Messages::shownTexts().isEmpty());
        QVERIFY(EntryFormDriver::focused() != QStringLiteral("device"));
    } else {
        QCOMPARE(list->currentText(), before);
        QCOMPARE(Messages::shownTexts(), QStringList{DeviceScan::unknownCodeText(code)});
        QCOMPARE(EntryFormDriver::focused(), QStringLiteral("device"));
    }
    QVERIFY(d.logged().isEmpty());
}

void TestScanning::scannedDeviceIsLookedUp()
{
    EntryFormDriver d;
    d.stock("C3", 12000);
    auto dlg = d.open<CDeviceOutDlg>();
    scanInto(dlg.get(), "C3");
    QTRY_COMPARE(d.text(dlg.get(), "maxNumber"), QStringLiteral("12000"));
}

QTEST_MAIN(TestScanning)
#include "tst_scanning.moc"
