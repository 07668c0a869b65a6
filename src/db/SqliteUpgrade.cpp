#include "db/SqliteUpgrade.h"

#include "db/Schema.h"
#include "db/SqlText.h"
#include "db/SqliteConnection.h"
#include "db/SqliteStatement.h"

#include <QDir>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

#include <vector>

namespace vok {

namespace sqlite {

namespace {

// Files made before a table was added gain it, empty; their other tables
// and rows stay as they are.
void addLaterTables(sqlite3* db)
{
    QStringList work;
    for (const TableDef* t : schema::all())
        if (t->addedLater &&
            firstColumn(db, QStringLiteral("SELECT name FROM pragma_table_info(?)"), t->name)
                .isEmpty())
            work << schema::createTable(*t, Engine::Sqlite);
    if (work.isEmpty() || sqlite3_db_readonly(db, "main") == 1)
        return;
    execAll(db, work);
}

// Tables made before their later columns gain those they lack, at the
// end; the rows hold NULL in them.
void addLaterColumns(sqlite3* db)
{
    QStringList work;
    for (const TableDef* t : schema::all()) {
        if (t->laterColumns == 0)
            continue;
        const QStringList have =
            firstColumn(db, QStringLiteral("SELECT name FROM pragma_table_info(?)"), t->name);
        if (have.isEmpty())
            continue;
        const QStringList later = schema::addLaterColumns(*t, Engine::Sqlite);
        const qsizetype first = qsizetype(t->columns.size()) - t->laterColumns;
        for (qsizetype i = std::max(first, have.size()) - first; i < later.size(); ++i)
            work << later.at(i);
    }
    if (work.isEmpty() || sqlite3_db_readonly(db, "main") == 1)
        return;
    execAll(db, work);
}

// Files of earlier versions normalise dates in triggers that call a
// function only that program had; they are replaced by the triggers of
// SQLite's own SQL. The rows are left as they are.
void upgradeTriggers(sqlite3* db)
{
    // Every trigger missing, calling a function of an earlier program
    // (vok_datetime), or kept from an earlier version with another text
    // (SQLite stores it without IF NOT EXISTS) is made anew.
    QHash<QString, QString> present; // by lower-case name: the stored text
    QStringList work;
    for (const QString& row :
         firstColumn(db, QStringLiteral("SELECT name || char(10) || sql FROM sqlite_master "
                                        "WHERE type='trigger'"))) {
        const qsizetype cut = row.indexOf(QLatin1Char('\n'));
        const QString name = row.left(cut);
        const QString sql = row.mid(cut + 1);
        if (sql.contains(QLatin1String("vok_datetime")))
            work << SqlText::compose("DROP TRIGGER %1", {SqlText::quotedName(name)}).toString();
        else
            present.insert(name.toLower(), sql);
    }
    static const QRegularExpression nameOf(QStringLiteral("^CREATE TRIGGER IF NOT EXISTS (\\w+)"));
    bool changed = !work.isEmpty();
    for (const QString& sql : schema::sqliteTriggers()) {
        const QString name = nameOf.match(sql).captured(1);
        const auto it = present.constFind(name.toLower());
        if (it == present.constEnd()) {
            changed = true;
        } else if (*it != QString(sql).replace(QLatin1String("CREATE TRIGGER IF NOT EXISTS "),
                                               QLatin1String("CREATE TRIGGER "))) {
            work << SqlText::compose("DROP TRIGGER %1", {SqlText::name(name)}).toString();
            changed = true;
        }
    }
    if (!changed)
        return;
    if (sqlite3_db_readonly(db, "main") == 1)
        return; // nothing can be written to it anyway
    execAll(db, work + schema::sqliteTriggers());
}

std::function<void(const QString&)>& upgradeNotice()
{
    static std::function<void(const QString&)> notice;
    return notice;
}

// Files made before the program's indexes gain those they lack, each in a
// transaction of its own (on a large file an index takes a while: each is
// told before it is made). Indexes a site added stay as they are.
void addIndexes(sqlite3* db, const QString& file)
{
    QSet<QString> present;
    for (const QString& name :
         firstColumn(db, QStringLiteral("SELECT name FROM sqlite_master WHERE type='index'")))
        present.insert(name.toLower());
    std::vector<const IndexDef*> missing;
    for (const IndexDef& index : schema::indexes())
        if (!present.contains(index.name.toLower()))
            missing.push_back(&index);
    if (missing.empty() || sqlite3_db_readonly(db, "main") == 1)
        return;
    for (size_t i = 0; i < missing.size(); ++i) {
        if (upgradeNotice())
            upgradeNotice()(QStringLiteral("正在为数据库文件“%1”建立索引 %2（%3/%4），"
                                           "请稍候…")
                                .arg(QDir::toNativeSeparators(file), missing[i]->name)
                                .arg(i + 1)
                                .arg(missing.size()));
        execAll(db, {schema::createIndex(*missing[i], Engine::Sqlite)});
    }
    if (upgradeNotice())
        upgradeNotice()(QString());
}

} // namespace

void upgradeSchema(sqlite3* db, const QString& file)
{
    addLaterTables(db);
    addLaterColumns(db);
    upgradeTriggers(db);
    addIndexes(db, file);
}

} // namespace sqlite

void setSchemaUpgradeNotice(std::function<void(const QString&)> notice)
{
    sqlite::upgradeNotice() = std::move(notice);
}

} // namespace vok
