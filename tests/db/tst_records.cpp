#include "db/Gbk.h"
#include "db/RowRecord.h"
#include "support/TestSupport.h"

#include <QTest>

using namespace vok;

class TestRecords : public QObject
{
    Q_OBJECT
private slots:
    void gbkLengths_data();
    void gbkLengths();
    void cutsAtCharacterBoundary();
    void readIntoRecordCutsToCapacity();
    void numbersInRecords();
    void nonGbkCharacters();
};

void TestRecords::gbkLengths_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("bytes");
    QTest::newRow("ascii") << "ABC123" << 6;
    QTest::newRow("chinese") << "仓库管理" << 8;
    QTest::newRow("mixed") << "设备A-1" << 7;
    QTest::newRow("full-width space") << "确　认" << 6;
    QTest::newRow("euro is one byte in code page 936") << "€" << 1;
    QTest::newRow("empty") << "" << 0;
}

void TestRecords::gbkLengths()
{
    QFETCH(QString, text);
    QFETCH(int, bytes);
    QCOMPARE(gbkLength(text), bytes);
}

void TestRecords::cutsAtCharacterBoundary()
{
    QCOMPARE(gbkCut(QStringLiteral("A仓库"), 4), QStringLiteral("A仓"));
    QCOMPARE(gbkCut(QStringLiteral("A仓库"), 5), QStringLiteral("A仓库"));
    QCOMPARE(gbkCut(QStringLiteral("仓库"), 1), QString());
    QCOMPARE(gbkCut(QStringLiteral("ABCDEFGHIJK"), 9), QStringLiteral("ABCDEFGHI"));
}

void TestRecords::readIntoRecordCutsToCapacity()
{
    test::Sandbox sandbox;
    auto c = sandbox.open();
    // A 41-byte device name: 20 Chinese characters and one letter.
    const QString name = QString(20, QChar(0x4ED3)) + QLatin1Char('X');
    QCOMPARE(gbkLength(name), 41);
    c->append("DEVICE_CODE", {"code", "name"}, {QStringLiteral("12345678901"), name});
    auto rs = c->query("SELECT * FROM DEVICE_CODE");
    QVERIFY(rs->next());
    RowRecord r(schema::DeviceCode);
    rs->readInto(r);
    QCOMPARE(r.text(DeviceCodeCol::code), QStringLiteral("123456789"));
    QCOMPARE(r.text(DeviceCodeCol::name), QString(19, QChar(0x4ED3)));
    // The database itself keeps the whole value.
    QCOMPARE(rs->text("name"), name);
}

void TestRecords::numbersInRecords()
{
    RowRecord r(schema::DeviceIn);
    r.setText(DeviceInCol::in_number, QStringLiteral(" 2.5 "));
    QCOMPARE(r.number(DeviceInCol::in_number), 2.5f);
    r.setNumber(DeviceInCol::price, 9.9f);
    QCOMPARE(r.text(DeviceInCol::price), QStringLiteral("9.9"));

    RowRecord w(schema::DeviceWantBuy); // numbers held as text
    w.setFromDatabase(DeviceWantBuyCol::now_number, QVariant(5.0));
    QCOMPARE(w.text(DeviceWantBuyCol::now_number), QStringLiteral("5"));
    w.setFromDatabase(DeviceWantBuyCol::price, QVariant());
    QCOMPARE(w.text(DeviceWantBuyCol::price), QString());
}

void TestRecords::nonGbkCharacters()
{
    QCOMPARE(firstNonGbkCharacter(QStringLiteral("设备ABC")), QString());
    QCOMPARE(firstNonGbkCharacter(QStringLiteral("设备😀x")), QStringLiteral("😀"));
    QCOMPARE(firstNonGbkCharacter(QStringLiteral("한국")), QStringLiteral("한"));
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
