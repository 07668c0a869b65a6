#include "db/DbError.h"
#include "ui/ComErrorBox.h"

#include <QTest>

using namespace vok;

// The texts the COM error box shows, which other programs and the site's
// notes rely on word for word.
class TestComErrorBox : public QObject
{
    Q_OBJECT
private slots:
    void comErrorTexts_data();
    void comErrorTexts();
    void failureTexts_data();
    void failureTexts();
};

void TestComErrorBox::comErrorTexts_data()
{
    QTest::addColumn<quint32>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("engine text, CRLF removed") << 0x80004005u << "no such table: X\r\n"
                                               << "no such table: X";
    QTest::newRow("engine text, LF removed") << 0x80004005u << "locked\n"
                                             << "locked";
    QTest::newRow("IDispatch range") << 0x80040205u << ""
                                     << "IDispatch error #5";
    QTest::newRow("lower bound excluded") << 0x80040200u << ""
                                          << "Unknown error 0x80040200";
    QTest::newRow("upper bound excluded") << 0x80050000u << ""
                                          << "Unknown error 0x80050000";
    QTest::newRow("small code, eight digits") << 0x1Au << ""
                                              << "Unknown error 0x0000001A";
    QTest::newRow("upper case hex") << 0x8000FFFFu << ""
                                    << "Unknown error 0x8000FFFF";
}

void TestComErrorBox::comErrorTexts()
{
    QFETCH(quint32, code);
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(comErrorText(code, text), shown);
}

void TestComErrorBox::failureTexts_data()
{
    // The text shown, and the text the box is to show.
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, const DbError& e, const char* expected) {
        QTest::newRow(name) << comErrorText(e) << QString::fromUtf8(expected);
    };
    const auto u = [](const char* text) { return QString::fromUtf8(text); };
    using K = DbError::Kind;
    row("engine, no text", DbError(K::Engine, {}), "Unknown error 0x80004005");
    row("refused, no text", DbError(K::Refused, {}), "Unknown error 0x80004005");
    row("bad input, no text", DbError(K::BadInput, {}), "IDispatch error #3079");
    row("text and detail", DbError(K::File, u("无法写入。"), u("磁盘已满\n")),
        "无法写入。\n磁盘已满");
    row("row changed", rowChangedError(), "无法为更新定位行。一些值可能已在最后一次读取后被更改。");
    row("no current row", noCurrentRecordError(),
        "BOF 或 EOF 中有一个是“真”，或者当前的记录已被删除，所需的操作要求一个当前的记录。");
    row("engine failure", DbError(DbError::Failure::Busy, u("database is locked")),
        "数据库正被另一个程序或另一位用户使用，等待超时，操作没有完成。请稍后再试一次。\n"
        "database is locked");
    row("engine's own text", DbError(DbError::Failure::Other, u("no such table: X\r\n")),
        "no such table: X");
    row("prefixed", DbError(K::File, u("无法写入。")).prefixed(u("部门A（vok1.db）：")),
        "部门A（vok1.db）：无法写入。");
}

void TestComErrorBox::failureTexts()
{
    QFETCH(QString, shown);
    QFETCH(QString, expected);
    QCOMPARE(shown, expected);
}

QTEST_GUILESS_MAIN(TestComErrorBox)
#include "tst_comerrorbox.moc"
