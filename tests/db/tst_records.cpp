#include "db/Gbk.h"
#include "db/RowRecord.h"
#include "support/TestSupport.h"

#include <QTest>

#include <cstring>
#include <random>

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
    void singleTexts_data();
    void singleTexts();
    void singleTextsAgreeWithQt();
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
    auto rs = c->queryWith("SELECT * FROM DEVICE_CODE", {});
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

void TestRecords::singleTexts_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("short") << 1.1 << QStringLiteral("1.1");
    QTest::newRow("zero") << -0.0 << QStringLiteral("0");
    QTest::newRow("whole") << 10000.0 << QStringLiteral("10000");
    QTest::newRow("exponent") << 12345678.0 << QStringLiteral("1.234568e+07");
    QTest::newRow("small") << 0.00001 << QStringLiteral("1e-05");
    // Exact ties round away from zero, as the texts always have.
    QTest::newRow("tie") << 2677236.5 << QStringLiteral("2677237");
    QTest::newRow("negative tie") << -1488734.5 << QStringLiteral("-1488735");
    QTest::newRow("tie in fraction") << 674676.25 << QStringLiteral("674676.3");
}

// Both forms agree with Qt's "%.7g" of the single-precision value.
void TestRecords::singleTexts()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(singleText(value), text);
    char bytes[kSingleTextBytes];
    QCOMPARE(QByteArray(bytes, singleText(value, bytes)), text.toLatin1());
    QCOMPARE(text, QString::number(double(float(value)), 'g', 7));
}

// The fast form against Qt's formatting over many single-precision values:
// random bit patterns and the grids of quantities and prices.
void TestRecords::singleTextsAgreeWithQt()
{
    std::mt19937 random(7);
    std::vector<float> values;
    for (int i = 0; i < 200000; ++i) {
        const quint32 bits = random();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        values.push_back(f);
    }
    for (int i = -100000; i < 100000; ++i)
        values.insert(values.end(), {i / 10.0f, i / 100.0f, i * 1000.0f, i * 1e-7f});
    char bytes[kSingleTextBytes];
    for (const float f : values) {
        const QByteArray expected = QByteArray::number(double(f), 'g', 7);
        const QByteArray text(bytes, singleText(f, bytes));
        if (text != expected)
            QFAIL(qPrintable(QStringLiteral("%1: %2, not %3")
                                 .arg(double(f), 0, 'g', 17)
                                 .arg(QLatin1String(text), QLatin1String(expected))));
    }
}

void TestRecords::nonGbkCharacters()
{
    // Each text is judged on its own, whatever was refused before it (Chinese
    // characters not asked before included).
    const std::pair<QString, QString> texts[] = {
        {QStringLiteral("设备ABC"), QString()},
        {QStringLiteral("设备😀x"), QStringLiteral("😀")},
        {QStringLiteral("한국"), QStringLiteral("한")},
        {QStringLiteral("ä"), QStringLiteral("ä")},
        {QStringLiteral("普通"), QString()},
        {QStringLiteral("\uFEFF名"), QStringLiteral("\uFEFF")},
        {QStringLiteral("新设备"), QString()},
        {QStringLiteral("ä"), QStringLiteral("ä")},
        {QStringLiteral("库房€"), QString()},
    };
    for (const auto& [text, bad] : texts)
        QCOMPARE(firstNonGbkCharacter(text), bad);
    QCOMPARE(gbkLength(QStringLiteral("旧设备")), 6);
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
