#include "db/Schema.h"

namespace vok {

namespace {

ColumnDef text(const char* name, int capacity)
{
    return {QString::fromLatin1(name), ColumnKind::Text, FieldKind::Text, capacity};
}
ColumnDef uniqueText(const char* name, int capacity)
{
    return {QString::fromLatin1(name), ColumnKind::Text, FieldKind::Text, capacity, true};
}
ColumnDef single(const char* name)
{
    return {QString::fromLatin1(name), ColumnKind::Number, FieldKind::Single, 0};
}
ColumnDef numberAsText(const char* name, int capacity)
{
    return {QString::fromLatin1(name), ColumnKind::Number, FieldKind::Text, capacity};
}
ColumnDef dateTime(const char* name, int capacity)
{
    return {QString::fromLatin1(name), ColumnKind::DateTime, FieldKind::Text, capacity};
}
ColumnDef dateOnly(const char* name, int capacity)
{
    return {QString::fromLatin1(name), ColumnKind::Date, FieldKind::Text, capacity};
}

SqlText quotedName(const QString& name, Engine engine)
{
    return SqlText::name(engine == Engine::Postgres ? name.toLower() : name, engine);
}

// An SQL expression of SQLite's own functions that gives the normalised
// form "YYYY-MM-DD HH:MM:SS" of a date text v written as the program's date
// values may be ("Y-M-D", "Y-M-D H:M", "Y-M-D H:M:S", '/' for '-', fields
// unpadded, blanks around), and v itself for anything else. The layers of
// subqueries take the fields apart one step at a time; the last one checks
// that every field is a number of its length and that the day exists.
// Each layer ends in OFFSET 0, which keeps SQLite from merging it into the
// layer above: merged, every use of a field would repeat the expressions
// of all the layers below it, some thousand steps for one date.
SqlText normalisedDate(const SqlText& v)
{
    return SqlText::compose(
        "(SELECT CASE WHEN ok THEN printf('%04d-%02d-%02d %02d:%02d:%02d',y,mo,d,h,mi,s) "
        "ELSE %1 END FROM ("
        "SELECT y,mo,d,h,mi,s,typeof(%1)='text' AND a>0 AND b>0"
        " AND y<>'' AND y NOT GLOB '*[^0-9]*' AND length(y)<=4 AND CAST(y AS INTEGER)>=100"
        " AND mo<>'' AND mo NOT GLOB '*[^0-9]*' AND length(mo)<=2"
        " AND d<>'' AND d NOT GLOB '*[^0-9]*' AND length(d)<=2"
        " AND (tp='' OR (c>0"
        " AND h<>'' AND h NOT GLOB '*[^0-9]*' AND length(h)<=2 AND CAST(h AS INTEGER)<24"
        " AND mi<>'' AND mi NOT GLOB '*[^0-9]*' AND length(mi)<=2 AND CAST(mi AS INTEGER)<60"
        " AND s<>'' AND s NOT GLOB '*[^0-9]*' AND length(s)<=2 AND CAST(s AS INTEGER)<60))"
        " AND date(julianday(printf('%04d-%02d-%02d',y,mo,d))) IS printf('%04d-%02d-%02d',y,mo,d) "
        "AS ok "
        "FROM (SELECT y,mo,d,h,a,b,c,tp,"
        "CASE WHEN instr(r,':')>0 THEN substr(r,1,instr(r,':')-1) ELSE r END AS mi,"
        "CASE WHEN instr(r,':')>0 THEN substr(r,instr(r,':')+1) ELSE '0' END AS s "
        "FROM (SELECT y,a,c,tp,instr(rest,sep) AS b,substr(rest,1,instr(rest,sep)-1) AS mo,"
        "substr(rest,instr(rest,sep)+1) AS d,"
        "CASE WHEN c>0 THEN substr(tp,1,c-1) ELSE '0' END AS h,"
        "CASE WHEN c>0 THEN substr(tp,c+1) ELSE '0' END AS r "
        "FROM (SELECT tp,sep,instr(dp,sep) AS a,substr(dp,1,instr(dp,sep)-1) AS y,"
        "substr(dp,instr(dp,sep)+1) AS rest,instr(tp,':') AS c "
        "FROM (SELECT dp,tp,CASE WHEN instr(dp,'-')>0 THEN '-' ELSE '/' END AS sep "
        "FROM (SELECT CASE WHEN instr(t,' ')>0 THEN substr(t,1,instr(t,' ')-1) ELSE t END AS dp,"
        "CASE WHEN instr(t,' ')>0 THEN ltrim(substr(t,instr(t,' ')+1)) ELSE '' END AS tp "
        "FROM (SELECT trim(%1) AS t"
        " LIMIT -1 OFFSET 0) LIMIT -1 OFFSET 0) LIMIT -1 OFFSET 0) LIMIT -1 OFFSET 0)"
        " LIMIT -1 OFFSET 0) LIMIT -1 OFFSET 0) LIMIT -1 OFFSET 0))",
        {v});
}

} // namespace

int TableDef::indexOf(QStringView column) const
{
    for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i].name.compare(column, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

QStringList TableDef::columnNames() const
{
    QStringList names;
    for (const auto& c : columns)
        names << c.name;
    return names;
}

namespace schema {

SqlText sqlTypeText(ColumnKind kind, Engine engine)
{
    switch (kind) {
    case ColumnKind::Text:
        return SqlText("TEXT");
    case ColumnKind::Number:
        return SqlText("REAL");
    case ColumnKind::DateTime:
        return engine == Engine::Postgres ? SqlText("TIMESTAMP") : SqlText("DATETIME");
    case ColumnKind::Date:
        return SqlText("DATE");
    }
    return {};
}

QString sqlType(ColumnKind kind, Engine engine)
{
    return sqlTypeText(kind, engine).toString();
}

const TableDef DeviceCode{QStringLiteral("DEVICE_CODE"),
                          {uniqueText("code", 10), text("name", 40)}};

const TableDef Device{QStringLiteral("DEVICE"),
                      {uniqueText("code", 10), single("now_number"), single("high_number"),
                       single("low_number"), single("total_number")}};

const TableDef DeviceIn{QStringLiteral("DEVICE_IN"),
                        {text("code", 10), dateTime("in_date", 20), text("provider", 21),
                         text("teleno", 11), single("in_number"), single("price"),
                         text("buyer", 11)}};

const TableDef DeviceOut{QStringLiteral("DEVICE_OUT"),
                         {text("code", 10), text("department", 21), dateTime("out_date", 20),
                          text("out_state", 20), text("out_person", 21), single("out_number"),
                          text("taker", 21), text("usage", 81)}};

const TableDef DeviceReturn{QStringLiteral("DEVICE_RETURN"),
                            {text("code", 10), dateTime("return_date", 20), text("keeper", 21),
                             single("return_number"), text("return_person", 21)}};

const TableDef DeviceNeed{QStringLiteral("DEVICE_NEED"),
                          {text("code", 10), text("department", 20), dateOnly("begin_date", 40),
                           dateOnly("end_date", 40), numberAsText("need_number", 21)}};

const TableDef DeviceWantBuy{QStringLiteral("DEVICE_WANTBUY"),
                             {text("code", 10), numberAsText("now_number", 20),
                              numberAsText("total_number", 20), numberAsText("max_number", 20),
                              numberAsText("buy_number", 20), text("provider", 21),
                              numberAsText("price", 20), dateTime("buy_date", 20)}};

// The two tables without a row record; their columns are read by name.
const TableDef Howdo{QStringLiteral("HOWDO"),
                     {text("do_user", 0), text("do_what", 0), dateTime("do_date", 0)},
                     false};

const TableDef User{
    QStringLiteral("user"), {text("user", 0), text("pswd", 0), text("class", 0)}, false};

// Added after the nine: a file without it gains it on opening. The price,
// later still, is an opening quantity's unit price (NULL: none given); a
// file made before it gains it on opening.
const TableDef DeviceAdjust{QStringLiteral("DEVICE_ADJUST"),
                            {text("code", 10), dateTime("adjust_time", 20), single("before_number"),
                             single("after_number"), text("reason", 21), text("user_name", 21),
                             single("price")},
                            true,
                            true,
                            1};

// Added later too: the loans, a row per device lent (its line, unique:
// "<loan id>-<line number>"), and every later step of a line.
const TableDef DeviceLoan{QStringLiteral("DEVICE_LOAN"),
                          {uniqueText("line", 21), single("loan_id"), text("code", 10),
                           single("loan_number"), text("borrower", 21), text("department", 21),
                           dateTime("lent_at", 20), dateOnly("due_date", 20), text("handler", 21),
                           text("note", 81), single("returned_number"), single("damaged_number"),
                           single("repaired_number"), single("scrapped_number"), text("state", 9)},
                          true,
                          true};

const TableDef DeviceLoanEvent{QStringLiteral("DEVICE_LOAN_EVENT"),
                               {text("line", 21), text("code", 10), dateTime("event_time", 20),
                                text("event", 9), single("event_number"), text("note", 81),
                                text("user_name", 21)},
                               true,
                               true};

// Added later too: the transfers between departments. The sender keeps
// TRANSFER_OUT and its lines, the receiver TRANSFER_IN and its lines; a
// transfer's id ("<sending data source>-<random hex>") is the same on both
// sides and unique across the departments, and each line's key is
// "<transfer id>/<line number>", so that a delivery or a receipt written
// twice adds nothing. unit_cost is the sender's in yuan ("12.30"; NULL:
// none known); received_number stays NULL until the receiver confirms.
const TableDef TransferOut{QStringLiteral("TRANSFER_OUT"),
                           {uniqueText("transfer_id", 41), text("target", 21),
                            dateTime("sent_at", 20), text("sender", 21), text("note", 81),
                            text("state", 9), dateTime("delivered_at", 20),
                            dateTime("received_at", 20), text("receiver", 21)},
                           false,
                           true};

const TableDef TransferOutLine{QStringLiteral("TRANSFER_OUT_LINE"),
                               {uniqueText("line", 49), text("transfer_id", 41), text("code", 10),
                                text("name", 40), text("unit_cost", 21), single("quantity"),
                                single("received_number"), text("reason", 81)},
                               false,
                               true};

const TableDef TransferIn{QStringLiteral("TRANSFER_IN"),
                          {uniqueText("transfer_id", 41), text("source", 21),
                           dateTime("sent_at", 20), text("sender", 21), text("note", 81),
                           text("state", 9), dateTime("received_at", 20), text("receiver", 21),
                           dateTime("acknowledged_at", 20)},
                          false,
                          true};

const TableDef TransferInLine{QStringLiteral("TRANSFER_IN_LINE"),
                              {uniqueText("line", 49), text("transfer_id", 41), text("code", 10),
                               text("name", 40), text("unit_cost", 21), single("quantity"),
                               single("received_number"), text("reason", 81)},
                              false,
                              true};

// A closed month ("YYYY-MM") per device: the summary's figures, the amounts
// as decimal texts of yuan to the cent (exact on either engine), and the
// month's unit cost in yuan (NULL: none known). The transfers' figures
// came later, at the end: a file closed before them gains them on opening
// (NULL in its rows: none).
const TableDef DevicePeriod{
    QStringLiteral("DEVICE_PERIOD"),
    {text("period", 0), text("code", 0), single("open_number"), text("open_amount", 0),
     single("in_number"), text("in_amount", 0), single("out_number"), text("out_amount", 0),
     single("return_number"), text("return_amount", 0), single("adjust_number"),
     text("adjust_amount", 0), single("close_number"), text("close_amount", 0),
     text("unit_cost", 0), single("transfer_in_number"), text("transfer_in_amount", 0),
     single("transfer_out_number"), text("transfer_out_amount", 0)},
    false,
    true,
    4};

// The closed months, one row each ("YYYY-MM"; a text of another shape is
// none); the latest bounds what may change. Last
// among the tables: a copy fills it after the rows it protects.
const TableDef PeriodClose{
    QStringLiteral("PERIOD_CLOSE"),
    {uniqueText("period", 0), dateTime("close_time", 0), text("user_name", 0)},
    false,
    true};

const std::vector<const TableDef*>& all()
{
    static const std::vector<const TableDef*> tables{
        &DeviceCode,   &Device,          &DeviceIn,      &DeviceOut,
        &DeviceReturn, &DeviceNeed,      &DeviceWantBuy, &Howdo,
        &User,         &DeviceAdjust,    &DeviceLoan,    &DeviceLoanEvent,
        &TransferOut,  &TransferOutLine, &TransferIn,    &TransferInLine,
        &DevicePeriod, &PeriodClose};
    return tables;
}

const std::vector<IndexDef>& indexes()
{
    static const std::vector<IndexDef> list = [] {
        std::vector<IndexDef> out;
        const auto add = [&out](const TableDef& t, QStringList columns) {
            out.push_back({t.name + QLatin1String("_by_") + columns.join(QLatin1Char('_')), t.name,
                           std::move(columns)});
        };
        // The movements: a device's rows in the order they were added,
        // its latest by date, and the rows of a period.
        const std::pair<const TableDef*, const char*> movements[] = {
            {&DeviceIn, "in_date"},
            {&DeviceOut, "out_date"},
            {&DeviceReturn, "return_date"},
            {&DeviceAdjust, "adjust_time"}};
        for (const auto& [table, date] : movements) {
            add(*table, {QStringLiteral("code")});
            add(*table, {QStringLiteral("code"), QString::fromLatin1(date)});
            add(*table, {QString::fromLatin1(date)});
        }
        // A closed month's figures, read as the next month's opening.
        add(DevicePeriod, {QStringLiteral("period"), QStringLiteral("code")});
        add(DeviceNeed, {QStringLiteral("code")});
        add(DeviceWantBuy, {QStringLiteral("code")});
        add(Howdo, {QStringLiteral("do_user")});
        add(Howdo, {QStringLiteral("do_date")});
        // The open loans in the order they were lent (the list), those
        // overdue, and those of a device or a borrower.
        add(DeviceLoan, {QStringLiteral("state")});
        for (const char* column : {"due_date", "code", "borrower"})
            add(DeviceLoan, {QStringLiteral("state"), QString::fromLatin1(column)});
        // A transfer's lines; the transfers of a state (those pending).
        add(TransferOutLine, {QStringLiteral("transfer_id")});
        add(TransferInLine, {QStringLiteral("transfer_id")});
        add(TransferOut, {QStringLiteral("state")});
        add(TransferIn, {QStringLiteral("state")});
        return out;
    }();
    return list;
}

const TableDef* find(QStringView name)
{
    for (const TableDef* t : all())
        if (t->name.compare(name, Qt::CaseInsensitive) == 0)
            return t;
    return nullptr;
}

QString createTable(const TableDef& t, Engine engine)
{
    QList<SqlText> cols;
    for (const auto& c : t.columns)
        cols << SqlText::compose("%1 %2%3",
                                 {quotedName(c.name, engine), sqlTypeText(c.kind, engine),
                                  c.unique ? SqlText(" UNIQUE") : SqlText()});
    if (engine == Engine::Postgres)
        // Unique, so that the server keeps an index on it: the lists
        // read their rows in this order.
        cols << SqlText::name(RowOrderColumn) + SqlText(" BIGSERIAL UNIQUE");
    return SqlText::compose("CREATE TABLE IF NOT EXISTS %1 (%2)",
                            {quotedName(t.name, engine), SqlText::joined(cols, ", ")})
        .toString();
}

QStringList addLaterColumns(const TableDef& t, Engine engine)
{
    QStringList out;
    for (size_t i = t.columns.size() - size_t(t.laterColumns); i < t.columns.size(); ++i) {
        const ColumnDef& c = t.columns[i];
        out << SqlText::compose("ALTER TABLE %1 ADD COLUMN %2%3 %4",
                                {quotedName(t.name, engine),
                                 engine == Engine::Postgres ? SqlText("IF NOT EXISTS ") : SqlText(),
                                 quotedName(c.name, engine), sqlTypeText(c.kind, engine)})
                   .toString();
    }
    return out;
}

QString createIndex(const IndexDef& index, Engine engine)
{
    QList<SqlText> columns;
    for (const QString& c : index.columns)
        columns << quotedName(c, engine);
    if (engine == Engine::Postgres)
        columns << SqlText::name(RowOrderColumn);
    return SqlText::compose("CREATE INDEX IF NOT EXISTS %1 ON %2 (%3)",
                            {quotedName(index.name, engine), quotedName(index.table, engine),
                             SqlText::joined(columns, ", ")})
        .toString();
}

QStringList createStatements(Engine engine)
{
    QStringList out;
    for (const TableDef* t : all())
        out << createTable(*t, engine);
    // A server database made before a table's later columns gains them.
    if (engine == Engine::Postgres)
        for (const TableDef* t : all())
            out << addLaterColumns(*t, engine);
    for (const IndexDef& i : indexes())
        out << createIndex(i, engine);
    if (engine == Engine::Sqlite)
        out << sqliteTriggers();
    else
        out << closedMonthStatements(engine);
    return out;
}

QStringList sqliteTriggers()
{
    // The embedded engine keeps every date value as "YYYY-MM-DD HH:MM:SS"
    // whatever text was written, so dates compare chronologically. The
    // triggers use SQLite's own functions only, so that any tool can write
    // the file.
    QStringList out;
    for (const TableDef* t : all()) {
        for (const auto& c : t->columns) {
            if (c.kind != ColumnKind::DateTime && c.kind != ColumnKind::Date)
                continue;
            const SqlText table = SqlText::name(t->name);
            const SqlText column = SqlText::name(c.name);
            const SqlText value = normalisedDate(SqlText("NEW.") + column);
            // The program writes normalised dates itself, and the quick GLOB
            // lets them (and NULL) pass. Only the update trigger holds the
            // long expression: SQLite sets up a trigger's registers on every
            // row it fires for, so the insert trigger stays small and hands a
            // date to normalise on to the update trigger by setting it anew.
            const SqlText normal = SqlText::compose("typeof(NEW.%1)='text' AND NEW.%1 NOT GLOB "
                                                    "'[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] "
                                                    "[0-9][0-9]:[0-9][0-9]:[0-9][0-9]'",
                                                    {column});
            out << SqlText::compose("CREATE TRIGGER IF NOT EXISTS %1_%2_ins AFTER INSERT ON %1 "
                                    "WHEN %3 BEGIN UPDATE %1 SET %2 = %2 WHERE rowid = NEW.rowid; "
                                    "END",
                                    {table, column, normal})
                       .toString();
            out << SqlText::compose(
                       "CREATE TRIGGER IF NOT EXISTS %1_%2_upd AFTER UPDATE OF %2 ON %1 "
                       "WHEN %3 AND NEW.%2 IS NOT %4 BEGIN "
                       "UPDATE %1 SET %2 = %4 WHERE rowid = NEW.rowid; END",
                       {table, column, normal, value})
                       .toString();
        }
    }
    return out + closedMonthStatements(Engine::Sqlite);
}

namespace {
constexpr char kClosedMonthRefusal[] = "该日期所在的月份已月结，不能录入或修改该月的记录。";
} // namespace

QString closedMonthRefusal()
{
    return QString::fromUtf8(kClosedMonthRefusal);
}

QStringList closedMonthStatements(Engine engine)
{
    // The movement tables and the adjustments, each with its date column.
    const std::pair<const TableDef*, const char*> dated[] = {{&DeviceIn, "in_date"},
                                                             {&DeviceOut, "out_date"},
                                                             {&DeviceReturn, "return_date"},
                                                             {&DeviceAdjust, "adjust_time"}};
    QStringList out;
    if (engine == Engine::Postgres) {
        // Dates come as "YYYY-MM-DDTHH:MM:SS" through to_jsonb; the month
        // is their first seven characters, as PERIOD_CLOSE writes it.
        // The body is one quoted text, so that the statement is one for
        // any client that splits a script at its semicolons.
        const SqlText body = SqlText::quoted(
            "DECLARE latest TEXT; m TEXT; BEGIN "
            "SELECT max(period) INTO latest FROM period_close WHERE period LIKE '____-__'; "
            "IF latest IS NOT NULL THEN "
            "IF TG_OP <> 'INSERT' THEN m := substr(to_jsonb(OLD)->>TG_ARGV[0], 1, 7); "
            "IF m <= latest THEN RAISE EXCEPTION '%年%月已月结，不能录入或修改该月的记录。', "
            "substr(m, 1, 4), CAST(substr(m, 6, 2) AS INTEGER); END IF; END IF; "
            "IF TG_OP <> 'DELETE' THEN m := substr(to_jsonb(NEW)->>TG_ARGV[0], 1, 7); "
            "IF m <= latest THEN RAISE EXCEPTION '%年%月已月结，不能录入或修改该月的记录。', "
            "substr(m, 1, 4), CAST(substr(m, 6, 2) AS INTEGER); END IF; END IF; "
            "END IF; "
            "IF TG_OP = 'DELETE' THEN RETURN OLD; END IF; RETURN NEW; END");
        out << SqlText::compose("CREATE OR REPLACE FUNCTION vok_closed_month() RETURNS trigger "
                                "LANGUAGE plpgsql AS %1",
                                {body})
                   .toString();
        for (const auto& [t, column] : dated)
            out << SqlText::compose(
                       "CREATE OR REPLACE TRIGGER %1_closed BEFORE INSERT OR UPDATE OR "
                       "DELETE ON %1 FOR EACH ROW EXECUTE FUNCTION "
                       "vok_closed_month('%2')",
                       {SqlText::name(t->name.toLower()),
                        SqlText::name(QString::fromLatin1(column))})
                       .toString();
        return out;
    }
    // A date not yet in its normalised form is judged when the trigger
    // that normalises it writes it again (the update trigger).
    // A trigger's text cannot hold a parameter: the refusal is the
    // program's own fixed text, written as a quoted SQL string.
    const SqlText raise = SqlText::compose("BEGIN SELECT RAISE(ABORT, %1); END",
                                           {SqlText::quoted(kClosedMonthRefusal)});
    for (const auto& [t, column] : dated) {
        const SqlText table = SqlText::name(t->name);
        const SqlText c = SqlText::name(QString::fromLatin1(column));
        const auto closed = [&c](SqlLiteral row) {
            return SqlText::compose(
                "%1.%2 GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-*' AND "
                "substr(%1.%2, 1, 7) <= (SELECT max(period) FROM PERIOD_CLOSE WHERE period LIKE "
                "'____-__')",
                {SqlText(row), c});
        };
        out << SqlText::compose("CREATE TRIGGER IF NOT EXISTS %1_closed_ins AFTER INSERT ON %1 "
                                "WHEN %2 %3",
                                {table, closed("NEW"), raise})
                   .toString();
        out << SqlText::compose("CREATE TRIGGER IF NOT EXISTS %1_closed_upd AFTER UPDATE ON %1 "
                                "WHEN (%2) OR (%3) %4",
                                {table, closed("NEW"), closed("OLD"), raise})
                   .toString();
        out << SqlText::compose("CREATE TRIGGER IF NOT EXISTS %1_closed_del BEFORE DELETE ON %1 "
                                "WHEN %2 %3",
                                {table, closed("OLD"), raise})
                   .toString();
    }
    return out;
}

QString createScript(Engine engine)
{
    QString out =
        QStringLiteral("-- 仓库管理系统：一个部门数据库的表格（列的顺序不可改变）及其索引。\n"
                       "-- Warehouse management: the tables of one department database "
                       "(column order matters) and their indexes.\n");
    if (engine == Engine::Postgres)
        out += QStringLiteral(
            "-- 每张表最后的 vok_seq 列由服务器依次编号，程序据此按添加的先后列出记录。\n"
            "-- The trailing vok_seq column numbers the rows as they are added; the program "
            "lists rows in that order.\n");
    for (const QString& statement : createStatements(engine))
        out += statement + QLatin1String(";\n");
    return out;
}

} // namespace schema

} // namespace vok
