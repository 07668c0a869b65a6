#include "ui/DeviceScan.h"
#include "ui/MessageService.h"

#include "support/FormTest.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

using namespace vok;

// A scanner types a code and Enter into a device list whose form closes on
// Enter (its exit button is the default).
class TestDeviceScan : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void scannedCode_data();
    void scannedCode();

private:
    std::unique_ptr<test::Sandbox> m_sandbox;
};

void TestDeviceScan::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
}

void TestDeviceScan::cleanup()
{
    m_sandbox.reset();
}

void TestDeviceScan::scannedCode_data()
{
    QTest::addColumn<bool>("editable");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<bool>("moved");
    QTest::addColumn<QString>("message");
    for (const bool editable : {false, true}) {
        const char* kind = editable ? "editable" : "fixed";
        QTest::addRow("%s, a code", kind) << editable << "D002"
                                          << "D002" << true << "";
        QTest::addRow("%s, case counts", kind) << editable << "d001"
                                               << "d001" << true << "";
        QTest::addRow("%s, capitals after capitals", kind) << editable << "DD7"
                                                           << "DD7" << true << "";
        QTest::addRow("%s, with - and /", kind) << editable << "AB-1/2"
                                                << "AB-1/2" << true << "";
        QTest::addRow("%s, unknown code", kind)
            << editable << "X9" << (editable ? "X9" : "A1") << false
            << DeviceScan::unknownCodeText(QStringLiteral("X9"));
        QTest::addRow("%s, only the start of a code", kind)
            << editable << "D00" << (editable ? "D00" : "A1") << false
            << DeviceScan::unknownCodeText(QStringLiteral("D00"));
    }
    QTest::newRow("Enter alone takes the device shown") << false << ""
                                                        << "A1" << true << "";
}

void TestDeviceScan::scannedCode()
{
    QFETCH(bool, editable);
    QFETCH(QString, typed);
    QFETCH(QString, chosen);
    QFETCH(bool, moved);
    QFETCH(QString, message);
    QDialog form;
    auto* layout = new QVBoxLayout(&form);
    auto* list = new QComboBox(&form);
    list->setEditable(editable);
    list->setInsertPolicy(QComboBox::NoInsert);
    list->addItems({"A1", "AB-1/2", "D001", "D002", "DD7", "d001"});
    // An editable list waits empty for a code.
    if (editable)
        list->setEditText(QString());
    auto* next = new QLineEdit(&form);
    auto* exit = new QPushButton(QStringLiteral("退出"), &form);
    exit->setDefault(true);
    QObject::connect(exit, &QPushButton::clicked, &form, &QDialog::reject);
    layout->addWidget(list);
    layout->addWidget(next);
    layout->addWidget(exit);
    int chosenCalls = 0;
    DeviceScan::attach(list, [&] { ++chosenCalls; });
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    list->setFocus();
    QTRY_VERIFY(list->hasFocus());

    test::keyboardTypes(list, typed);
    QTest::keyClick(form.windowHandle(), Qt::Key_Return);

    QVERIFY(form.isVisible());
    QCOMPARE(list->currentText(), chosen);
    QCOMPARE(chosenCalls, moved ? 1 : 0);
    QCOMPARE(next->hasFocus(), moved);
    QStringList shown;
    for (const Messages::Shown& s : Messages::shown())
        shown << s.text;
    QCOMPARE(shown, message.isEmpty() ? QStringList() : QStringList{message});
}

QTEST_MAIN(TestDeviceScan)
#include "tst_devicescan.moc"
