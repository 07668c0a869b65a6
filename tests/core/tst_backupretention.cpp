#include "core/BackupRetention.h"

#include <QTest>

using namespace vok;

// Which backup generations a new verified one lets go.
class TestBackupRetention : public QObject
{
    Q_OBJECT
private slots:
    void names();
    void removed_data();
    void removed();
};

namespace {

const QDateTime kStart(QDate(2026, 12, 1), QTime(17, 0, 0));

// "d3" is day 3 at 17:00, "d3+5m" five minutes later; a trailing "!" marks
// a generation that did not verify.
BackupGeneration generation(const QString& spec)
{
    QString s = spec;
    const bool damaged = s.endsWith(QLatin1Char('!'));
    if (damaged)
        s.chop(1);
    const QStringList parts = s.mid(1).split(QStringLiteral("+"));
    QDateTime t = kStart.addDays(parts.at(0).toInt());
    if (parts.size() > 1)
        t = t.addSecs(60 * parts.at(1).chopped(1).toInt());
    return {generationName(t), t, !damaged};
}

} // namespace

void TestBackupRetention::names()
{
    QCOMPARE(generationName(kStart), QStringLiteral("2026-12-01_170000"));
    QCOMPARE(generationTime(QStringLiteral("2026-12-01_170000")), kStart);
    QVERIFY(!generationTime(QStringLiteral("vok1.db")).isValid());
    QVERIFY(!generationTime(QStringLiteral("2026-13-01_170000")).isValid());
}

void TestBackupRetention::removed_data()
{
    QTest::addColumn<QStringList>("generations");
    QTest::addColumn<QString>("now");
    QTest::addColumn<QStringList>("removed");
    QStringList daily;
    for (int d = 0; d < 12; ++d)
        daily << QStringLiteral("d%1").arg(d);
    QTest::newRow("twelve days: the last week and the newest ten stay")
        << daily << "d11" << QStringList{"d0", "d1"};
    QStringList burst;
    for (int m = 0; m < 12; ++m)
        burst << QStringLiteral("d0+%1m").arg(m * 5);
    QTest::newRow("twelve in an hour: all of this week stay") << burst << "d0+55m" << QStringList{};
    QTest::newRow("a burst cannot remove the last good copy from before it")
        << (QStringList{"d0", "d1", "d2"} + QStringList(burst).replaceInStrings("d0", "d30"))
        << "d30+55m" << QStringList{"d0", "d1"};
    QStringList lastDamaged = daily;
    for (int d = 9; d < 12; ++d)
        lastDamaged[d] += QLatin1Char('!');
    QTest::newRow("damaged ones count for nothing") << lastDamaged << "d11" << QStringList{};
    QTest::newRow("damaged ones go after a week")
        << QStringList{"d0!", "d5", "d9!", "d10"} << "d10" << QStringList{"d0!"};
}

void TestBackupRetention::removed()
{
    QFETCH(QStringList, generations);
    QFETCH(QString, now);
    QFETCH(QStringList, removed);
    QList<BackupGeneration> list;
    for (const QString& g : generations)
        list << generation(g);
    QStringList expected;
    for (const QString& r : removed)
        expected << generation(r).name;
    QStringList actual = generationsToRemove(list, generation(now).time);
    actual.sort();
    expected.sort();
    QCOMPARE(actual, expected);
}

QTEST_GUILESS_MAIN(TestBackupRetention)
#include "tst_backupretention.moc"
