// Imports from workbooks and CSV files on both engines: every importable
// list exported and imported back into an empty table gives the same rows;
// a bad cell late in a file writes nothing and is named; encodings, quoted
// line breaks, date serials and hostile cells are read or refused exactly.
#include "core/ImportReader.h"
#include "core/ListExport.h"
#include "core/RecordListModel.h"
#include "core/TableAccess.h"
#include "core/TableImport.h"
#include "core/ZipWriter.h"
#include "support/FormTest.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>
#include <QTest>

#include <algorithm>
#include <cstring>

using namespace vok;

namespace {

// The rows every test starts from.
void seedRows(Connection& c)
{
    test::seed(c, "DEVICE_CODE", {{"A1", "扫描仪"}, {"B2", "打印机, 彩色"}});
    test::seed(c, "DEVICE", {{"A1", 0, 10, 2, 8}, {"B2", 12.5, 100, 2, 20}});
    test::seed(c, "DEVICE_IN",
               {{"A1", "2004-1-5 9:3:7", "O'Brien \"甲\"", "123", 2.5, 9.9, "王"},
                {"B2", "2004-10-1 0:0:0", "公司", "", 3, 12, "李"}});
    test::seed(c, "DEVICE_OUT",
               {{"A1", "部门A", "2004-2-1 8:0:0", "3", "张", 1, "赵", "第一行\n第二行"},
                {"B2", "", "2004-2-2 8:0:0", "0", "张", 4, "钱", ""}});
    test::seed(c, "DEVICE_RETURN",
               {{"A1", "2004-3-1 8:0:0", "王", 1, "赵"}, {"B2", "2004-3-2 8:0:0", "王", 2, "钱"}});
    test::seed(c, "DEVICE_NEED",
               {{"A1", "部门A", "2004-1-1", "2004-2-1", "3.000000"},
                {"B2", "部门B", "2004-5-1", "2004-6-1", "1.500000"}});
    test::seed(c, "DEVICE_WANTBUY",
               {{"A1", "5.000000", "8.000000", "10.000000", "5.000000", "公司", "9.900000",
                 "2004-5-1 10:0:0"},
                {"B2", "1.000000", "1.000000", "10.000000", "9.000000", "", "12.000000",
                 "2004-5-2 10:0:0"}});
}

// Why the file cannot be imported, as opening and checking it say; empty
// when it can.
QString failureOf(TableImport& import, Connection& c, const QString& path)
{
    return test::failureText([&] {
        import.open(path);
        import.check(c);
    });
}

// Writes the table's list (as its browser shows it) to a file.
void exportTable(Connection& c, const TableDescription& t, const QString& path)
{
    RecordListModel list(t.listColumns());
    TableAccess(c, t).fill(list, TableAccess(c, t).all());
    QVERIFY(exportList(exportSourceOf(list), path, exportFormatFor(path)));
}

// A file of the rows given, headings first, written as the exports write.
void writeFile(const QString& path, const QStringList& headings, const QList<QStringList>& rows,
               const QList<int>& numeric = {})
{
    ExportSource s;
    s.rows = int(rows.size());
    s.columns = int(headings.size());
    s.heading = [&](int c) { return headings.at(c); };
    s.text = [&](int r, int c) { return rows.at(r).value(c); };
    s.numeric = [&](int c) { return numeric.contains(c); };
    QVERIFY(exportList(s, path, exportFormatFor(path)));
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A workbook as other programs write it: shared strings (the headings
// and "A1" in runs, "公司" with its reading), the sheet's heading row and
// then the rows given; the sheet's elements may carry the prefix x:.
void writeWorkbook(const QString& path, const QByteArray& rows, const QByteArray& prolog = {})
{
    const QByteArray ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    const QByteArray shared =
        "<sst xmlns=\"" + ns +
        "\"><si><t>设备号</t></si><si><t>入库时间</t></si><si><t>数量</t></si>"
        "<si><t>价格</t></si><si><t>供应商</t></si><si><r><t>A</t></r><r><rPr><b/></rPr>"
        "<t>1</t></r></si><si><t>公司</t><rPh sb=\"0\" eb=\"2\"><t>gōngsī</t></rPh></si></sst>";
    const QByteArray sheet =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + prolog + "<x:worksheet xmlns:x=\"" + ns +
        "\" xmlns=\"" + ns +
        "\"><sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c t=\"s\"><v>1</v></c>"
        "<c t=\"s\"><v>2</v></c><c t=\"s\"><v>3</v></c><c t=\"s\"><v>4</v></c></row>" +
        rows + "</sheetData></x:worksheet>";
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    ZipWriter zip(f.handle());
    zip.add("xl/workbook.xml",
            "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
            "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/"
            "relationships\"><sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/>"
            "</sheets></workbook>");
    zip.add("xl/_rels/workbook.xml.rels",
            "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
            "relationships\"><Relationship Id=\"rId1\" Target=\"worksheets/data.xml\"/>"
            "</Relationships>");
    zip.add("xl/sharedStrings.xml", shared.toStdString());
    zip.add("xl/worksheets/data.xml", sheet.toStdString());
    zip.finish();
}

// A workbook whose sheet (or table of shared strings) is head, filler
// repeated and tail, deflated as it is made: a part of gigabytes is
// written without being held.
void writeBomb(const QString& path, bool shared, const QByteArray& head, const QByteArray& filler,
               qint64 repeats, const QByteArray& tail)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    ZipWriter zip(f.handle());
    zip.add("xl/workbook.xml", "<workbook><sheets><sheet r:id=\"rId1\" "
                               "xmlns:r=\"urn:r\"/></sheets></workbook>");
    zip.add("xl/_rels/workbook.xml.rels",
            "<Relationships><Relationship Id=\"rId1\" Target=\"worksheets/data.xml\"/>"
            "</Relationships>");
    if (shared)
        zip.add("xl/worksheets/data.xml", "<worksheet><sheetData><row r=\"1\"><c t=\"s\"><v>0"
                                          "</v></c></row></sheetData></worksheet>");
    zip.beginStream(shared ? "xl/sharedStrings.xml" : "xl/worksheets/data.xml", {});
    SheetStream part(f.handle());
    const auto put = [&](const QByteArray& bytes) {
        char* p = part.reserve(size_t(bytes.size()));
        std::memcpy(p, bytes.constData(), size_t(bytes.size()));
        part.commit(p + bytes.size());
    };
    put(head);
    for (qint64 i = 0; i < repeats; ++i)
        put(filler);
    put(tail);
    part.finish();
    zip.endStream({}, part);
    zip.finish();
}

// The peak of the process's resident memory in MB since the last reset.
qint64 peakMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toLongLong() / 1024;
    return -1;
}

void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

} // namespace

class TestImport : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_sandbox = std::make_unique<test::Sandbox>();
        m_db = m_sandbox->open();
        seedRows(*m_db);
    }
    void cleanup()
    {
        m_db.reset();
        m_sandbox.reset();
    }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("suffix");
        for (const QString& name : tables::importedNames())
            for (const char* suffix : {"xlsx", "csv"})
                QTest::addRow("%s.%s", qPrintable(name), suffix)
                    << name << QString::fromLatin1(suffix);
    }
    void roundTrip()
    {
        QFETCH(QString, table);
        QFETCH(QString, suffix);
        const TableDescription& t = *tables::find(table);
        const QString path = m_sandbox->dataDir() + QStringLiteral("/list.") + suffix;
        exportTable(*m_db, t, path);
        const QList<QStringList> before = test::table(*m_db, t.name());
        TableAccess(*m_db, t, 1).clear();

        TableImport import(t);
        import.open(path);
        QVERIFY(import.ignoredHeadings().isEmpty());
        QVERIFY(import.check(*m_db));
        QCOMPARE(import.problemCount(), 0);
        QVERIFY(import.write(*m_db, 1, QStringLiteral("admin")));
        QCOMPARE(test::table(*m_db, t.name()), before);
        QCOMPARE(test::logged(*m_db), QStringList{import.logText(before.size())});
    }

    // One bad cell near the end: nothing is written, the cell is named.
    void badLateCell_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::newRow("csv") << QStringLiteral("csv");
        QTest::newRow("xlsx") << QStringLiteral("xlsx");
    }
    void badLateCell()
    {
        QFETCH(QString, suffix);
        QList<QStringList> rows;
        for (int i = 0; i < 10000; ++i)
            rows << QStringList{QStringLiteral("A1"), QStringLiteral("2024-1-1 8:00"),
                                QString::number(1 + i % 100), QStringLiteral("2.5")};
        rows[8999][2] = QStringLiteral("10001");
        const QString path = m_sandbox->dataDir() + QStringLiteral("/in.") + suffix;
        writeFile(path,
                  {QStringLiteral("设备号"), QStringLiteral("入库时间"), QStringLiteral("数量"),
                   QStringLiteral("价格")},
                  rows);
        const qint64 before = test::table(*m_db, tables::deviceIn.name()).size();
        TableImport import(tables::deviceIn);
        import.open(path);
        QVERIFY(import.check(*m_db));
        QCOMPARE(import.problemCount(), 1);
        QCOMPARE(import.problems().front().describe(),
                 QStringLiteral("第9001行，C列“数量”：“10001”不在1和10000之间。"));
        QCOMPARE(test::failureText([&] { import.write(*m_db, 1, QStringLiteral("admin")); }),
                 QStringLiteral("文件中有1个问题，没有导入任何记录。"));
        QCOMPARE(test::table(*m_db, tables::deviceIn.name()).size(), before);
    }

    // Files as other programs write them: the rows of DEVICE_IN they give.
    void readsFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("stored");
        const QByteArray head = "设备号,入库时间,数量,价格,供应商\r\n";
        QTest::newRow("utf-8 bom")
            << QByteArray("\xEF\xBB\xBF" + head + "A1,2024/3/5 9:3,2,3,甲\r\n")
            << QStringLiteral("A1|2024-03-05 09:03:00|2|3|甲");
        QTest::newRow("gbk") << QStringEncoder("GBK")
                                    .encode(QString::fromUtf8(head + "A1,2024-3-5,2,3,供应商乙\n"))
                                    .
                                    operator QByteArray()
                             << QStringLiteral("A1|2024-03-05 00:00:00|2|3|供应商乙");
        // (A quoted line break in a multi-line field: the round trip of
        // DEVICE_OUT.)
        QTest::newRow("quoted") << QByteArray(head +
                                              "A1,2024-3-5 8:0:0,2,3,\"第一,第\"\"二\"\"\"\n")
                                << QStringLiteral("A1|2024-03-05 08:00:00|2|3|第一,第\"二\"");
        QTest::newRow("semicolons, serial")
            << QByteArray("设备号;入库时间;数量;价格;供应商\nA1;45000.5;2;3;\"a;b\"\n")
            << QStringLiteral("A1|2023-03-15 12:00:00|2|3|a;b");
        QTest::newRow("tabs") << QByteArray("code\tin_date\tin_number\tprice\nA1\t2024-3-5\t2\t3\n")
                              << QStringLiteral("A1|2024-03-05 00:00:00|2|3|");
        // Fields past a spreadsheet's cell and row are refused, not held.
        QTest::newRow("endless field")
            << head + "A1,2024-3-5,2,3,\"" + QByteArray(40000, 'x')
            << QStringLiteral("第2行E列的单元格长于32767个字符，不能导入。");
        QTest::newRow("endless row")
            << head + QByteArray(40000, ',') << QStringLiteral("第2行多于16384列，不能导入。");
    }
    void readsFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, stored);
        const QString path = m_sandbox->dataDir() + QStringLiteral("/in.csv");
        writeBytes(path, bytes);
        if (!stored.endsWith(u'。'))
            return checkImported(path, stored);
        TableImport import(tables::deviceIn);
        QCOMPARE(failureOf(import, *m_db, path), stored);
    }

    // A workbook's date serials (number cells) are dates.
    void workbookDateSerials()
    {
        const QString path = m_sandbox->dataDir() + QStringLiteral("/in.xlsx");
        writeFile(path,
                  {QStringLiteral("设备号"), QStringLiteral("入库时间"), QStringLiteral("数量"),
                   QStringLiteral("价格"), QStringLiteral("供应商")},
                  {{QStringLiteral("A1"), QStringLiteral("45000.5"), QStringLiteral("2"),
                    QStringLiteral("3"), QStringLiteral("0012")}},
                  {1, 2, 3});
        checkImported(path, QStringLiteral("A1|2023-03-15 12:00:00|2|3|0012"));
    }

    // Workbooks of other programs: shared strings in runs and with
    // readings, prefixed elements, rows and cells without references,
    // formulas with their last value, entities and escapes; a sheet cut
    // short is named, not read as far as it goes.
    void readsWorkbooks_data()
    {
        QTest::addColumn<QByteArray>("rows");
        QTest::addColumn<QString>("stored"); // or the failure
        QTest::addColumn<QByteArray>("prolog");
        QTest::newRow("shared, formula")
            << QByteArray(
                   "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>5</v></c><c r=\"B2\" "
                   "t=\"str\"><f>TEXT(1)</f><v>2024-3-5</v></c><c r=\"C2\"><v>2</v></c>"
                   "<c r=\"D2\"><f>1+2</f><v>3</v></c><c r=\"E2\" t=\"s\"><v>6</v></c></row>")
            << QStringLiteral("A1|2024-03-05 00:00:00|2|3|公司") << QByteArray();
        QTest::newRow("prefixed, inline, no references")
            << QByteArray("<x:row><x:c t=\"inlineStr\"><x:is><x:t>A1</x:t></x:is></x:c>"
                          "<x:c t=\"inlineStr\"><x:is><x:t>2024/3/5 8:00</x:t></x:is></x:c>"
                          "<x:c><x:v>2</x:v></x:c><x:c><x:v>3</x:v></x:c><x:c t=\"inlineStr\">"
                          "<x:is><x:r><x:t>O&apos;B &amp; </x:t></x:r><x:r><x:t>&#x7532;_x0041_"
                          "</x:t></x:r></x:is></x:c></x:row>")
            << QStringLiteral("A1|2024-03-05 08:00:00|2|3|O'B & 甲A") << QByteArray();
        QTest::newRow("blank row, gap, serial")
            << QByteArray("<row r=\"2\"><c r=\"E2\"/></row><row r=\"3\"><c r=\"A3\" "
                          "t=\"inlineStr\"><is><t>A1</t></is></c><c r=\"B3\" s=\"2\"><v>45000.5"
                          "</v></c><c r=\"C3\"><v>2</v></c><c r=\"D3\"><v>3</v></c></row>")
            << QStringLiteral("A1|2023-03-15 12:00:00|2|3|") << QByteArray();
        QTest::newRow("cut short")
            << QByteArray("<row r=\"2\"><c r=\"A2\" t=\"s\"><v>5</v></c></row><row r=\"3\"><c")
            << QStringLiteral("工作表第2行之后的内容无法读取（not well-formed (invalid token)）。")
            << QByteArray();
        // Cells that cannot be read are refused, never read as empty.
        const QByteArray a2 = "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>5</v></c>";
        QTest::newRow("shared string missing")
            << a2 + "<c r=\"E2\" t=\"s\"><v>7</v></c></row>"
            << QStringLiteral("工作表第2行E列引用的共享字符串“7”在工作簿中不存在（工作簿共有7个"
                              "共享字符串），不能导入。")
            << QByteArray();
        QTest::newRow("shared string not a number")
            << a2 + "<c r=\"E2\" t=\"s\"><v>x</v></c></row>"
            << QStringLiteral("工作表第2行E列引用的共享字符串“x”在工作簿中不存在（工作簿共有7个"
                              "共享字符串），不能导入。")
            << QByteArray();
        QTest::newRow("formula, no value")
            << a2 + "<c r=\"B2\"><f>NOW()</f></c></row>"
            << QStringLiteral("工作表第2行B列的公式没有保存计算结果，请在电子表格程序中重新计算"
                              "并保存后再导入。")
            << QByteArray();
        const QString doctype =
            QStringLiteral("工作簿的部件“xl/worksheets/data.xml”含有文档类型声明（DOCTYPE）或实体，"
                           "不能导入。");
        QTest::newRow("external entity")
            << a2 + "<c r=\"E2\" t=\"inlineStr\"><is><t>&e;</t></is></c></row>" << doctype
            << QByteArray("<!DOCTYPE x [<!ENTITY e SYSTEM \"file:///etc/hostname\">]>");
        QTest::newRow("internal entity")
            << a2 + "<c r=\"E2\" t=\"inlineStr\"><is><t>&e;</t></is></c></row>" << doctype
            << QByteArray("<!DOCTYPE x [<!ENTITY e \"公司\">]>");
    }
    void readsWorkbooks()
    {
        QFETCH(QByteArray, rows);
        QFETCH(QString, stored);
        QFETCH(QByteArray, prolog);
        const QString path = m_sandbox->dataDir() + QStringLiteral("/other.xlsx");
        writeWorkbook(path, rows, prolog);
        if (!stored.endsWith(u'。')) {
            checkImported(path, stored);
            return;
        }
        TableImport import(tables::deviceIn);
        QCOMPARE(failureOf(import, *m_db, path), stored);
    }

    // Workbooks made to exhaust memory are refused while they inflate,
    // the process never holding more than a few hundred megabytes.
    void workbookBombs_data()
    {
        QTest::addColumn<bool>("shared");
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QByteArray>("filler");
        QTest::addColumn<qint64>("repeats");
        QTest::addColumn<QByteArray>("tail");
        QTest::addColumn<QString>("error");
        const QByteArray x64k(65536, 'x');
        const QByteArray x30k(30000, 'x');
        const QByteArray inlineCell = "<c t=\"inlineStr\"><is><t>";
        QTest::newRow("1 GiB cell")
            << false
            << "<worksheet><sheetData><row r=\"1\">" + inlineCell + "设备号</t></is></c>" +
                   inlineCell + "入库时间</t></is></c>" + inlineCell + "数量</t></is></c>" +
                   inlineCell + "价格</t></is></c></row><row r=\"2\"><c r=\"C2\"><v>"
            << x64k << qint64(16384) << QByteArray("</v></c></row></sheetData></worksheet>")
            << QStringLiteral("工作表第2行C列的单元格长于32767个字符，不能导入。");
        QTest::newRow("1 GiB row")
            << false << QByteArray("<worksheet><sheetData><row r=\"3\">")
            << inlineCell + x30k + "</t></is></c>" << qint64(35000)
            << QByteArray("</row></sheetData></worksheet>")
            << QStringLiteral("工作表第3行的单元格共长于1048576个字符，不能导入。");
        QTest::newRow("1 GiB shared string")
            << true << QByteArray("<sst><si><t>") << x64k << qint64(16384)
            << QByteArray("</t></si></sst>")
            << QStringLiteral("工作簿的共享字符串表（xl/sharedStrings.xml）中第1个字符串长于32767"
                              "个字符，不能导入。");
        QTest::newRow("1 GiB of shared strings")
            << true << QByteArray("<sst>") << "<si><t>" + x30k + "</t></si>" << qint64(35000)
            << QByteArray("</sst>")
            << QStringLiteral("工作簿的共享字符串表（xl/sharedStrings.xml）超过160 MB，不能导入。");
        QTest::newRow("120 MB of empty rows")
            << false << QByteArray("<worksheet><sheetData>") << QByteArray("<row/>").repeated(10000)
            << qint64(2000) << QByteArray("</sheetData></worksheet>")
            << QStringLiteral("工作簿的部件“xl/worksheets/data.xml”解压后超过100 MB，是其压缩大小"
                              "的100倍以上，不是正常的工作簿，不能导入。");
    }
    void workbookBombs()
    {
        QFETCH(bool, shared);
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, filler);
        QFETCH(qint64, repeats);
        QFETCH(QByteArray, tail);
        QFETCH(QString, error);
        const QString path = m_sandbox->dataDir() + QStringLiteral("/bomb.xlsx");
        writeBomb(path, shared, head, filler, repeats, tail);
        QVERIFY(QFileInfo(path).size() < 8 << 20);
        resetPeak();
        TableImport import(tables::deviceIn);
        QCOMPARE(failureOf(import, *m_db, path), error);
        QCOMPARE_LT(peakMegabytes(), 300);
    }

    // Cells no form would take are refused, never cut; SQL is data.
    void hostileCells_data()
    {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QString>("problem");
        QTest::newRow("10 kB") << QString(10240, QLatin1Char('x'))
                               << QStringLiteral("“xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx…”太长："
                                                 "这一列最多20个字符（一个汉字算两个）。");
        QTest::newRow("NUL") << QStringLiteral("a") + QChar(0) + QStringLiteral("b")
                             << QStringLiteral(
                                    "“文字中有不能保存的控制字符（U+0000），请删除它。”");
        QTest::newRow("emoji") << QStringLiteral("箱😀")
                               << QStringLiteral("字符“😀”无法保存到数据库中，请改用其他字符。");
        QTest::newRow("sql") << QStringLiteral("'); DROP TABLE x;--") << QString();
        // The quote by which a CSV export keeps a formula from running
        // is gone when the file is read back.
        QTest::newRow("formula") << QStringLiteral("=1+1") << QString();
        QTest::newRow("quote, formula") << QStringLiteral("'@x") << QString();
        QTest::newRow("negative") << QStringLiteral("-2") << QString();
    }
    void hostileCells()
    {
        QFETCH(QString, provider);
        QFETCH(QString, problem);
        for (const char* suffix : {"xlsx", "csv"}) {
            const QString path =
                m_sandbox->dataDir() + QStringLiteral("/in.") + QString::fromLatin1(suffix);
            writeFile(path,
                      {QStringLiteral("设备号"), QStringLiteral("入库时间"), QStringLiteral("数量"),
                       QStringLiteral("价格"), QStringLiteral("供应商")},
                      {{QStringLiteral("A1"), QStringLiteral("2024-1-1"), QStringLiteral("1"),
                        QStringLiteral("1"), provider}});
            if (problem.isEmpty()) {
                checkImported(path, QStringLiteral("A1|2024-01-01 00:00:00|1|1|") + provider);
                continue;
            }
            TableImport import(tables::deviceIn);
            import.open(path);
            QVERIFY(import.check(*m_db));
            QCOMPARE(import.problemCount(), 1);
            QCOMPARE(import.problems().front().text, problem);
        }
    }

    // A cell outside GBK is refused on its own row; the Chinese after it is not.
    void foreignCharacterOnce()
    {
        const QString path = m_sandbox->dataDir() + QStringLiteral("/in.csv");
        const QStringList providers{QStringLiteral("ä"), QStringLiteral("普通犇"),
                                    QStringLiteral("新设备")};
        QList<QStringList> rows;
        for (const QString& p : providers)
            rows << QStringList{QStringLiteral("A1"), QStringLiteral("2024-1-1"),
                                QStringLiteral("1"), QStringLiteral("1"), p};
        writeFile(path,
                  {QStringLiteral("设备号"), QStringLiteral("入库时间"), QStringLiteral("数量"),
                   QStringLiteral("价格"), QStringLiteral("供应商")},
                  rows);
        TableImport import(tables::deviceIn);
        import.open(path);
        QVERIFY(import.check(*m_db));
        QStringList problems;
        for (const ImportProblem& p : import.problems())
            problems << p.describe();
        QCOMPARE(problems,
                 QStringList{QStringLiteral("第2行，E列“供应商”：字符“ä”无法保存到数据库中，"
                                            "请改用其他字符。")});
    }

    // What stops an import before any row is read, and the codes checked.
    void fileProblems_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("problems");
        QTest::newRow("missing column")
            << QStringLiteral("DEVICE_IN") << QByteArray("设备号,数量,备注\nA1,1,x\n")
            << QStringList{QStringLiteral("缺少必需的列“入库时间”。"),
                           QStringLiteral("缺少必需的列“价格”。")};
        QTest::newRow("codes")
            << QStringLiteral("DEVICE_CODE")
            << QByteArray("设备号,设备名\nC3,甲\nA1,乙\nC3,丙\n ,丁\n")
            << QStringList{
                   QStringLiteral("第3行，A列“设备号”：设备号“A1”已在设备代码表中，不能重复添加。"),
                   QStringLiteral("第4行，A列“设备号”：设备号“C3”在文件中重复（第2行已有）。"),
                   QStringLiteral("第5行，A列“设备号”：设备号不能为空，请填入设备号。")};
        QTest::newRow("codes with blanks around them")
            << QStringLiteral("DEVICE_CODE")
            << QByteArray("设备号,设备名\nF7001,甲\n F7001 ,乙\n A1\t,丙\n")
            << QStringList{
                   QStringLiteral("第3行，A列“设备号”：设备号“F7001”在文件中重复（第2行已有）。"),
                   QStringLiteral(
                       "第4行，A列“设备号”：设备号“A1”已在设备代码表中，不能重复添加。")};
        QTest::newRow("unknown device, stock row")
            << QStringLiteral("DEVICE")
            << QByteArray("设备号,现存数量,最大数量,最小数量,总数\nZ9,1,10,1,1\nA1,1,10,1,1\n")
            << QStringList{QStringLiteral("第2行，A列“设备号”：设备号“Z9”不在设备代码表中。"),
                           QStringLiteral("第3行，A列“设备号”：设备号“A1”已有库存记录。")};
    }
    void fileProblems()
    {
        QFETCH(QString, table);
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, problems);
        const QString path = m_sandbox->dataDir() + QStringLiteral("/f.csv");
        writeBytes(path, bytes);
        TableImport import(*tables::find(table));
        import.open(path);
        QVERIFY(import.check(*m_db));
        QStringList got;
        for (const ImportProblem& p : import.problems())
            got << p.describe();
        QCOMPARE(got, problems);
    }

    // A code is stored without the blanks around it, and found so.
    void codesAreTrimmed()
    {
        const QString path = m_sandbox->dataDir() + QStringLiteral("/codes.csv");
        writeBytes(path, "设备号,设备名\n F7001 ,甲\n");
        TableImport codes(tables::deviceCode);
        codes.open(path);
        QVERIFY(codes.check(*m_db));
        QVERIFY(codes.write(*m_db, 1, QStringLiteral("admin")));
        QCOMPARE(test::rows(*m_db, "SELECT name FROM DEVICE_CODE WHERE code=?", {"F7001"}),
                 QList<QStringList>{{QStringLiteral("甲")}});
        writeBytes(path, "设备号,入库时间,数量,价格\nF7001 ,2024-1-1,1,1\n");
        checkImported(path, QStringLiteral("F7001|2024-01-01 00:00:00|1|1|"));
    }

    // Headings the program gives the same columns elsewhere are matched.
    void otherHeadings_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QByteArray>("headings");
        QTest::newRow("catalogue")
            << QStringLiteral("DEVICE_CODE") << QByteArray("设备编号,设备名称");
        QTest::newRow("stock") << QStringLiteral("DEVICE")
                               << QByteArray("设备代码,账面数量,最大库存,最小数量");
        QTest::newRow("stock-in") << QStringLiteral("DEVICE_IN")
                                  << QByteArray(
                                         "入库设备,入库日期,供应商,商家电话,入库数量,价格,采购员");
        QTest::newRow("stock-out")
            << QStringLiteral("DEVICE_OUT")
            << QByteArray("出库设备,部门,出库日期,出库状态,经手人,数量,领取人,用途");
        QTest::newRow("return") << QStringLiteral("DEVICE_RETURN")
                                << QByteArray("设备编号,还库日期,管理员,还库数量,归还人");
        QTest::newRow("demand") << QStringLiteral("DEVICE_NEED")
                                << QByteArray("设备编号,部门,开始时间,结束时间,设备数量");
        QTest::newRow("plan")
            << QStringLiteral("DEVICE_WANTBUY")
            << QByteArray("设备编号,现有数量,总数,最大数量,采购数量,供应商,价格,报表时间");
    }
    void otherHeadings()
    {
        QFETCH(QString, table);
        QFETCH(QByteArray, headings);
        const QString path = m_sandbox->dataDir() + QStringLiteral("/h.csv");
        writeBytes(path, headings + "\n");
        TableImport import(*tables::find(table));
        import.open(path);
        QCOMPARE(import.ignoredHeadings(), QStringList());
        QCOMPARE(import.missingHeadings(), QStringList());
    }

    // A bad value is quoted, with its row and column.
    void valuesQuoted_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QString>("problem");
        const QByteArray in = "设备号,入库时间,供应商电话,数量,价格\n";
        QTest::newRow("not a number") << QStringLiteral("DEVICE_IN")
                                      << QByteArray(in + "A1,2024-1-1,,1,1\nA1,2024-1-1,,abc,1\n")
                                      << QStringLiteral("第3行，D列“数量”：“abc”不是一个数。");
        QTest::newRow("empty") << QStringLiteral("DEVICE_IN")
                               << QByteArray(in + "A1,2024-1-1,,1, \n")
                               << QStringLiteral("第2行，E列“价格”：没有填数。");
        QTest::newRow("11-digit telephone")
            << QStringLiteral("DEVICE_IN") << QByteArray(in + "A1,2024-1-1,13812345678,1,1\n")
            << QStringLiteral("第2行，C列“供应商电话”：“13812345678”太长：这一列最多10个字符（一个"
                              "汉字算两个）。");
        QTest::newRow("state") << QStringLiteral("DEVICE_OUT")
                               << QByteArray(
                                      "设备号,出库时间,出库状况,出库数量\nA1,2024-1-1,好,1\n")
                               << QStringLiteral("第2行，C列“出库状况”：“好”不是0到9之间的整数。");
        QTest::newRow("stock below 0")
            << QStringLiteral("DEVICE")
            << QByteArray("设备号,现存数量,最大数量,最小数量\nC3,-1,10,1\n")
            << QStringLiteral("第2行，B列“现存数量”：“-1”小于0。");
    }
    void valuesQuoted()
    {
        QFETCH(QString, table);
        QFETCH(QByteArray, csv);
        test::seed(*m_db, "DEVICE_CODE", {{"C3", "扫描仪"}});
        const QString path = m_sandbox->dataDir() + QStringLiteral("/v.csv");
        writeBytes(path, csv);
        TableImport import(*tables::find(table));
        import.open(path);
        QVERIFY(import.check(*m_db));
        QCOMPARE(import.problemCount(), 1);
        QTEST(import.problems().front().describe(), "problem");
    }

    // Columns matched as told ("--columns", a remembered choice); a
    // mistake is named and changes nothing.
    void matchColumns_data()
    {
        QTest::addColumn<QString>("pairs");
        QTest::addColumn<bool>("onlyPresent");
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QString>("byHand"); // afterwards
        QTest::newRow("headings, a letter, none")
            << QStringLiteral("入库时间=日期，in_number＝C, 价格=D,供应商=") << false << QString()
            << QStringLiteral("入库时间=日期,供应商=,数量=件数,价格=单价");
        QTest::newRow("no such table column")
            << QStringLiteral("件数=件数") << false
            << QStringLiteral(
                   "入库记录中没有“件数”列；它的列是：设备号、入库时间、供应商、供应商电话、"
                   "数量、价格、采购员。")
            << QString();
        QTest::newRow("no such file column") << QStringLiteral("数量=个数,价格=单价") << false
                                             << QStringLiteral("文件中没有“个数”列。") << QString();
        QTest::newRow("no such file column, remembered")
            << QStringLiteral("数量=个数,价格=单价") << true << QString()
            << QStringLiteral("价格=单价");
        QTest::newRow("no =") << QStringLiteral("数量") << false
                              << QStringLiteral("“数量”中缺少“=”：请写成“表中的列=文件中的列”。")
                              << QString();
    }
    void matchColumns()
    {
        QFETCH(QString, pairs);
        QFETCH(bool, onlyPresent);
        const QString path = m_sandbox->dataDir() + QStringLiteral("/m.csv");
        writeBytes(path, "设备号,日期,件数,单价,供应商\nA1,2024-1-1,2,3,甲\n");
        TableImport import(tables::deviceIn);
        import.open(path);
        QTEST(import.matchColumns(pairs, onlyPresent), "problem");
        QTEST(import.matchedByHand(), "byHand");
    }

    // The stock without its total: what is on hand is all there was.
    void stockWithoutTotal()
    {
        TableAccess(*m_db, tables::device, 1).clear();
        const QString path = m_sandbox->dataDir() + QStringLiteral("/stock.csv");
        writeBytes(path, "设备号,现存数量,最大数量,最小数量\nA1,7,10,1\nB2,0,10,1\n");
        TableImport import(tables::device);
        import.open(path);
        QVERIFY(import.check(*m_db));
        QCOMPARE(import.problemCount(), 0);
        QVERIFY(import.write(*m_db, 1, QStringLiteral("admin")));
        QCOMPARE(test::rows(*m_db, QStringLiteral("SELECT code,now_number,total_number FROM DEVICE "
                                                  "ORDER BY code")),
                 (QList<QStringList>{{"A1", "7", "7"}, {"B2", "0", "0"}}));
    }

    // The stock comes in as opening stock: one adjustment a device, and the
    // opening total of those whose total differs; an optional 单价 column
    // prices the opening quantity (an empty cell: none, a bad one: the row
    // is refused).
    void stockIsOpeningStock_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("problem"); // the file's first; none: written
        QTest::addColumn<QList<QStringList>>("adjustments");
        const QByteArray head = "设备号,现存数量,最大数量,最小数量,总数";
        QTest::newRow("no price") << head + "\nA1,7,10,1,9\nB2,0,10,1,1\n"
                                  << QString()
                                  << QList<QStringList>{{"A1", "0", "7", "期初库存", "admin", ""},
                                                        {"A1", "9", "9", "期初总数", "admin", ""},
                                                        {"B2", "0", "0", "期初库存", "admin", ""},
                                                        {"B2", "1", "1", "期初总数", "admin", ""}};
        QTest::newRow("priced") << head + ",单价\nA1,7,10,1,9,12.5\nB2,0,10,1,1, \n"
                                << QString()
                                << QList<QStringList>{{"A1", "0", "7", "期初库存", "admin", "12.5"},
                                                      {"A1", "9", "9", "期初总数", "admin", ""},
                                                      {"B2", "0", "0", "期初库存", "admin", ""},
                                                      {"B2", "1", "1", "期初总数", "admin", ""}};
        QTest::newRow("bad price")
            << head + ",单价\nA1,7,10,1,9,-2\nB2,0,10,1,1,3\n"
            << QStringLiteral("第2行，F列“单价”：“-2”不在0和10000之间。") << QList<QStringList>{};
    }
    void stockIsOpeningStock()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, problem);
        QFETCH(QList<QStringList>, adjustments);
        TableAccess(*m_db, tables::device, 1).clear();
        const QString path = m_sandbox->dataDir() + QStringLiteral("/stock.csv");
        writeBytes(path, file);
        TableImport import(tables::device);
        import.open(path);
        QVERIFY(import.check(*m_db));
        QCOMPARE(import.problems().empty() ? QString() : import.problems().front().describe(),
                 problem);
        if (problem.isEmpty())
            QVERIFY(import.write(*m_db, 1, QStringLiteral("admin")));
        else
            QVERIFY(!test::failureText([&] {
                         import.write(*m_db, 1, QStringLiteral("admin"));
                     }).isEmpty());
        QCOMPARE(test::rows(*m_db, QStringLiteral("SELECT code,before_number,after_number,reason,"
                                                  "user_name,price FROM DEVICE_ADJUST ORDER BY "
                                                  "code, after_number")),
                 adjustments);
    }

    // A cancel part-way through the writing leaves the table as it was.
    void cancelWrites()
    {
        QList<QStringList> rows;
        for (int i = 0; i < 9000; ++i)
            rows << QStringList{QStringLiteral("A1"), QStringLiteral("2024-1-1"),
                                QStringLiteral("1"), QStringLiteral("1")};
        const QString path = m_sandbox->dataDir() + QStringLiteral("/in.csv");
        writeFile(path,
                  {QStringLiteral("设备号"), QStringLiteral("入库时间"), QStringLiteral("数量"),
                   QStringLiteral("价格")},
                  rows);
        const auto before = test::table(*m_db, tables::deviceIn.name());
        TableImport import(tables::deviceIn);
        import.open(path);
        QVERIFY(import.check(*m_db));
        QVERIFY(!import.write(*m_db, 1, QStringLiteral("admin"),
                              [](qint64 done, qint64) { return done < 4096; }));
        QCOMPARE(test::table(*m_db, tables::deviceIn.name()), before);
        QVERIFY(test::logged(*m_db).isEmpty());
    }

    // A large import into a table holding fewer rows makes the table's
    // indexes afresh on the embedded engine: the same indexes after it,
    // also after a cancel while they are made, and the progress ends full.
    void largeImportKeepsTheIndexes_data()
    {
        QTest::addColumn<int>("held");      // rows in the table before
        QTest::addColumn<qint64>("cancel"); // progress from which to cancel; 0 never
        QTest::newRow("empty table") << 0 << qint64(0);
        QTest::newRow("cancelled while indexing") << 0 << qint64(20001);
        QTest::newRow("table holding as many") << 20000 << qint64(0);
    }
    void largeImportKeepsTheIndexes()
    {
        QFETCH(int, held);
        QFETCH(qint64, cancel);
        const int rows = 20000;
        TableAccess(*m_db, tables::deviceIn, 1).clear();
        int added = 0;
        m_db->appendRows(QStringLiteral("DEVICE_IN"), {"code", "in_date", "in_number"},
                         [&](QVariantList& values) {
                             values = {QStringLiteral("B2"), QStringLiteral("2003-1-1 0:0:0"), 1};
                             return added++ < held;
                         });
        QList<QStringList> lines;
        for (int i = 0; i < rows; ++i)
            lines << QStringList{i % 2 ? QStringLiteral("A1") : QStringLiteral("B2"),
                                 QStringLiteral("2024-%1-%2 8:00").arg(1 + i % 12).arg(1 + i % 28),
                                 QStringLiteral("1"), QStringLiteral("2")};
        const QString path = m_sandbox->dataDir() + QStringLiteral("/in.csv");
        writeFile(path,
                  {QStringLiteral("设备号"), QStringLiteral("入库时间"), QStringLiteral("数量"),
                   QStringLiteral("价格")},
                  lines);
        // The program's indexes of the table, as the engine lists them.
        const QString indexSql =
            test::onServer() ? QStringLiteral("SELECT indexname FROM pg_indexes WHERE indexname "
                                              "LIKE 'device\\_in\\_by\\_%' ORDER BY 1")
                             : QStringLiteral("SELECT lower(name) FROM sqlite_master WHERE type = "
                                              "'index' AND name LIKE 'device\\_in\\_by\\_%' "
                                              "ESCAPE '\\' ORDER BY 1");
        QList<QStringList> indexes;
        for (const IndexDef& index : schema::indexes())
            if (index.table == QLatin1String("DEVICE_IN"))
                indexes << QStringList{index.name.toLower()};
        std::sort(indexes.begin(), indexes.end());
        QCOMPARE(test::rows(*m_db, indexSql), indexes);

        TableImport import(tables::deviceIn);
        import.open(path);
        QVERIFY(import.check(*m_db));
        qint64 last = 0, lastTotal = 0;
        bool backwards = false;
        const bool written =
            import.write(*m_db, 1, QStringLiteral("admin"), [&](qint64 done, qint64 total) {
                backwards = backwards || done * lastTotal < last * total;
                last = done;
                lastTotal = total;
                return cancel == 0 || done < cancel;
            });
        // The server places each row in its indexes: nothing is left to
        // cancel once the rows are written.
        const bool cancelled = cancel && !test::onServer();
        QCOMPARE(written, !cancelled);
        QVERIFY(!backwards);
        QCOMPARE(test::rows(*m_db, indexSql), indexes);
        const QString count = QStringLiteral("SELECT COUNT(*) FROM DEVICE_IN WHERE code = 'A1'");
        QCOMPARE(test::rows(*m_db, count).value(0).value(0),
                 QString::number(cancelled ? 0 : rows / 2));
        if (!cancelled)
            QCOMPARE(last, lastTotal);
    }

private:
    // Imports a stock-in file into the empty table and compares its row.
    void checkImported(const QString& path, const QString& stored)
    {
        TableAccess(*m_db, tables::deviceIn, 1).clear();
        TableImport import(tables::deviceIn);
        import.open(path);
        QVERIFY(import.check(*m_db));
        QStringList problems;
        for (const ImportProblem& p : import.problems())
            problems << p.describe();
        QCOMPARE(problems, QStringList());
        QVERIFY(import.write(*m_db, 1, QStringLiteral("admin")));
        const auto rows = test::rows(
            *m_db, QStringLiteral("SELECT code,in_date,in_number,price,provider FROM DEVICE_IN"));
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.front().join(QLatin1Char('|')), stored);
    }

    std::unique_ptr<test::Sandbox> m_sandbox;
    ConnectionPtr m_db;
};

QTEST_GUILESS_MAIN(TestImport)
#include "tst_import.moc"
