// The look-ups of one device and of one period read through the schema's
// indexes on both engines: the engine's own plan of each statement says
// so (SQLite: SEARCH … USING INDEX, never SCAN; the server: an Index Cond).
#include "core/QueryField.h"
#include "core/TableAccess.h"
#include "core/Tables.h"
#include "db/Connection.h"
#include "db/Schema.h"
#include "support/TestSupport.h"

#include <QTest>

using namespace vok;

class TestLookupPlans : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_sandbox = std::make_unique<test::Sandbox>(); }
    void cleanup() { m_sandbox.reset(); }

    void lookupsUseAnIndex_data();
    void lookupsUseAnIndex();

private:
    std::unique_ptr<test::Sandbox> m_sandbox;
};

namespace {

// A statement with its bound values.
struct Statement
{
    QString sql;
    QVariantList values;
};

// The first window of a list of the rows, newest first, as the list reads
// it (below a top row already shown, so with a bound as every later window).
Statement window(Connection& c, const TableRows& rows)
{
    const QString identity = c.rowIdentity(rows.table);
    RowWindow w;
    w.below = 1000000;
    const TableRows narrowed = c.bounded(rows, identity, w);
    return {QStringLiteral("SELECT %1, * FROM %2 ORDER BY %1 DESC LIMIT 100")
                .arg(identity, c.fromClause(narrowed)),
            narrowed.values};
}

// What the engine plans for the statement, one line a step.
QStringList plan(Connection& c, const Statement& s)
{
    QStringList out;
    if (c.engine() == Engine::Sqlite) {
        auto rs = c.queryWith(QStringLiteral("EXPLAIN QUERY PLAN ") + s.sql, s.values);
        while (rs->next())
            out << rs->text(3);
        return out;
    }
    // An empty table costs nothing to read whole: the planner is told to
    // avoid that, and must still find an index that narrows the rows.
    test::exec(c, QStringLiteral("SET enable_seqscan = off"));
    auto rs = c.queryWith(QStringLiteral("EXPLAIN ") + s.sql, s.values);
    while (rs->next())
        out << rs->text(0);
    test::exec(c, QStringLiteral("SET enable_seqscan = on"));
    return out;
}

// The server plans by its statistics: the table is given rows of many
// devices over many days, and analysed, as a department's would be.
void fillForThePlanner(Connection& c, const QString& table)
{
    const TableDef* def = schema::find(table);
    QStringList columns, values;
    for (const ColumnDef& col : def->columns) {
        columns << col.name;
        switch (col.kind) {
        case ColumnKind::Text:
            values << (col.unique ? QStringLiteral("'u' || g")
                       : col.name == QLatin1String("code")
                           ? QStringLiteral("'D' || lpad((g % 2000)::text, 6, '0')")
                           : QStringLiteral("'x' || (g % 300)"));
            break;
        case ColumnKind::Number:
            values << QStringLiteral("g % 100");
            break;
        case ColumnKind::DateTime:
            values << QStringLiteral("timestamp '2020-01-01' + g * interval '1 hour'");
            break;
        case ColumnKind::Date:
            values << QStringLiteral("date '2020-01-01' + (g % 3000)");
            break;
        }
    }
    test::exec(c, QStringLiteral("INSERT INTO %1 (%2) SELECT %3 FROM generate_series(1, 20000) g")
                      .arg(table.toLower(), columns.join(u','), values.join(u',')));
    test::exec(c, QStringLiteral("ANALYZE ") + table.toLower());
}

} // namespace

void TestLookupPlans::lookupsUseAnIndex_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("field"); // a query field, or "" for sql
    QTest::addColumn<QString>("value"); // for sql: its values, split by '|'
    QTest::addColumn<QString>("sql");   // a statement of the program's own
    const QString d = dateParameter(test::onServer() ? Engine::Postgres : Engine::Sqlite);
    // (A list of a one-sided date range is read newest first by row
    // identity: the first window stops after its rows, as it should.)
    const char* const movements[][3] = {{"DEVICE_IN", "入库时间c", "in_date"},
                                        {"DEVICE_OUT", "出库时间c", "out_date"},
                                        {"DEVICE_RETURN", "还库时间c", "return_date"},
                                        {"DEVICE_ADJUST", "调整时间c", "adjust_time"}};
    for (const auto& m : movements) {
        const QString t = m[0], date = m[2];
        QTest::addRow("%s 设备号", m[0]) << t << "设备号c"
                                         << "D000123"
                                         << "";
        QTest::addRow("%s 日期", m[0]) << t << m[1] << "2024-5-1"
                                       << "";
        // The device card: a device's latest movements.
        QTest::addRow("%s 设备卡片", m[0])
            << t << ""
            << "D000123"
            << QStringLiteral("SELECT * FROM %1 WHERE code=? ORDER BY %2 DESC LIMIT 5")
                   .arg(t, date);
        // One device's figures of a period, and a period's of all.
        QTest::addRow("%s 一个设备一个时期", m[0])
            << t << ""
            << "2024-05-01 00:00:00|2024-06-01 00:00:00|D000123"
            << QStringLiteral("SELECT SUM(1) FROM %1 WHERE %2 >= %3 AND %2 < %3 AND code=?")
                   .arg(t, date, d);
        QTest::addRow("%s 一个时期", m[0])
            << t << ""
            << "2024-05-01 00:00:00|2024-05-02 00:00:00"
            << QStringLiteral(
                   "SELECT code, SUM(1) FROM %1 WHERE %2 >= %3 AND %2 < %3 GROUP BY code")
                   .arg(t, date, d);
    }
    QTest::newRow("DEVICE_NEED 设备号") << "DEVICE_NEED"
                                        << "设备号c"
                                        << "D000123"
                                        << "";
    QTest::newRow("DEVICE_WANTBUY 设备号") << "DEVICE_WANTBUY"
                                           << "设备号c"
                                           << "D000123"
                                           << "";
    QTest::newRow("HOWDO 操作员") << "HOWDO"
                                  << "do_user"
                                  << "张三"
                                  << "";
    QTest::newRow("HOWDO 操作日期") << "HOWDO"
                                    << "do_date"
                                    << "2024-5-1"
                                    << "";
}

void TestLookupPlans::lookupsUseAnIndex()
{
    QFETCH(QString, table);
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(QString, sql);
    auto c = m_sandbox->open();
    if (c->engine() == Engine::Postgres)
        fillForThePlanner(*c, table);
    Statement s;
    if (table == "HOWDO") {
        s = window(*c, compareColumn(table, field,
                                     field == "do_date" ? QueryForm::Date : QueryForm::Text, "=",
                                     value, c->engine()));
    } else if (!field.isEmpty()) {
        const TableDescription* d = tables::find(table);
        QVERIFY(d);
        const auto rows =
            TableAccess(*c, *d).query(field, sql.isEmpty() ? QStringLiteral("=") : sql, value);
        QVERIFY(rows);
        s = window(*c, *rows);
    } else {
        QVariantList values;
        for (const QString& v : value.split(u'|'))
            values << v;
        s = {sql, values};
    }
    const QStringList steps = plan(*c, s);
    const QString shown = steps.join('\n');
    if (c->engine() == Engine::Sqlite) {
        QVERIFY2(steps.size() >= 1, qPrintable(shown));
        for (const QString& step : steps) {
            if (!step.contains(table, Qt::CaseInsensitive))
                continue;
            QVERIFY2(step.startsWith("SEARCH ") && step.contains(" INDEX " + table + "_by_"),
                     qPrintable(shown));
        }
    } else {
        QVERIFY2(shown.contains("Index Cond") && !shown.contains("Seq Scan") &&
                     shown.contains(table.toLower() + "_by_"),
                 qPrintable(shown));
    }
}

QTEST_MAIN(TestLookupPlans)
#include "tst_lookupplans.moc"
