// The printed table reports: the drawing of each layout recorded and
// checked against the report geometry; one PDF per layout rendered.
#include "browse/PrintReport.h"
#include "browse/TableReport.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QPrinter>
#include <QTest>

using namespace vok;

namespace {

struct Op
{
    enum Kind
    {
        Text,
        Line
    } kind;
    int x1, y1, x2, y2;
    QString text;
    QString face;
    int points;
    bool dashed;
};

// Records what a report draws. A font's text height is 12 units a point,
// so cy is 96 for 8 points, 120 for 10 and 144 for 12.
class RecordingCanvas : public ReportCanvas
{
public:
    void setFont(const QString& face, int points) override
    {
        m_face = face;
        m_points = points;
    }
    int textHeight(const QString&) override { return m_points * 12; }
    void drawText(int x, int y, const QString& text) override
    {
        ops.push_back({Op::Text, x, y, x, y, text, m_face, m_points, m_dashed});
    }
    void setPen(Pen pen) override { m_dashed = pen == Pen::Dashed; }
    void drawLine(int x1, int y1, int x2, int y2) override
    {
        ops.push_back({Op::Line, x1, y1, x2, y2, {}, m_face, m_points, m_dashed});
    }

    std::vector<Op> texts() const { return only(Op::Text); }
    std::vector<Op> lines() const { return only(Op::Line); }
    // The text drawn at (x, y), or a null string.
    QString textAt(int x, int y) const
    {
        for (const Op& o : ops)
            if (o.kind == Op::Text && o.x1 == x && o.y1 == y)
                return o.text;
        return {};
    }
    bool hasLine(int x1, int y1, int x2, int y2, bool dashed = false) const
    {
        for (const Op& o : ops)
            if (o.kind == Op::Line && o.x1 == x1 && o.y1 == y1 && o.x2 == x2 && o.y2 == y2 &&
                o.dashed == dashed)
                return true;
        return false;
    }

    std::vector<Op> ops;

private:
    std::vector<Op> only(Op::Kind k) const
    {
        std::vector<Op> out;
        for (const Op& o : ops)
            if (o.kind == k)
                out.push_back(o);
        return out;
    }
    QString m_face;
    int m_points = 0;
    bool m_dashed = false;
};

using Rows = QList<QStringList>;

ReportCell cellsOf(const Rows& rows)
{
    return [rows](int r, int c) {
        return r < rows.size() && c < rows[r].size() ? rows[r][c] : QString();
    };
}

const QDateTime kPrintTime(QDate(2004, 1, 5), QTime(9, 3, 7));

struct Expected
{
    const ReportLayout* layout;
    const char* title;
    int points;
    std::vector<std::pair<const char*, int>> columns;
    std::vector<int> rules;
    int dash[4];
    int preparerX, timeX, underlineEnd;
};

std::vector<Expected> expectedLayouts()
{
    return {
        {&reports::stock,
         "库存信息表",
         12,
         {{"设备号", 1300},
          {"现在数量", 2300},
          {"最大数量", 3300},
          {"最小数量", 4300},
          {"总　数", 5300}},
         {1200, 2200, 3200, 4200, 5200, 6200},
         {2200, 3200, 4200, 6200},
         1300,
         3300,
         5000},
        {&reports::stockIn,
         "入库信息表",
         8,
         {{"设备号", 300},
          {"入库时间", 1000},
          {"供　应　商", 3000},
          {"供应商电话", 4000},
          {"数　量", 5300},
          {"价　格", 6100},
          {"采购员", 6900}},
         {200, 900, 2900, 3900, 5200, 6000, 6800, 7600},
         {1200, 2200, 6200, 7500},
         300,
         5300,
         4500},
        {&reports::stockOut,
         "出库信息表",
         8,
         {{"设备号", 300},
          {"使用部门", 1000},
          {"出　库　时　间", 2000},
          {"出库状况", 3400},
          {"经手人", 4300},
          {"出库数量", 5000},
          {"领取人", 6000},
          {"用　　　途", 6700}},
         {200, 900, 1900, 3300, 4200, 4900, 5900, 6600, 7600},
         {1200, 2200, 6200, 7500},
         300,
         5300,
         4500},
        {&reports::returns,
         "还库信息表",
         10,
         {{"设备号", 1300},
          {"　还　库　时　间", 2300},
          {"管　理　员", 4300},
          {"数　　　量", 5300},
          {"归　还　人", 6300}},
         {1200, 2200, 4200, 5200, 6200, 7200},
         {2200, 3200, 4200, 6200},
         1300,
         3300,
         5000},
        {&reports::demand,
         "需求信息表",
         10,
         {{"设备号", 700},
          {"需求部门", 1700},
          {"　开　始　时　间", 2700},
          {"　结　束　时　间", 4700},
          {"数　　量", 6700}},
         {700, 1600, 2600, 4600, 6600, 7600},
         {1200, 2200, 6200, 7500},
         600,
         5300,
         5000},
        {&reports::purchasePlan,
         "采购计划报表",
         10,
         {{"设备号", 300},
          {"现有库存", 1000},
          {"总库存", 1800},
          {"最大库存", 2600},
          {"购买数量", 3400},
          {"供应商", 4200},
          {"价　格", 5000},
          {"　计　划　时　间", 5800}},
         {200, 900, 1700, 2500, 3300, 4100, 4900, 5700, 7600},
         {1200, 2200, 6200, 7500},
         300,
         5300,
         4500},
    };
}

// Sample rows for a layout: three rows, then one whose code is not a
// number (it ends the table), then one more that must not print.
Rows sampleRows(int columns)
{
    Rows rows;
    for (const char* code : {"12", "0013", "7", "abc", "9"}) {
        QStringList r{QString::fromUtf8(code)};
        for (int c = 1; c < columns; ++c)
            r << QStringLiteral("%1.500000").arg(c);
        rows << r;
    }
    return rows;
}

} // namespace

class TestTableReport : public QObject
{
    Q_OBJECT
private slots:
    void geometry_data();
    void geometry();
    void stopsAtFirstNonIntegerCode_data();
    void stopsAtFirstNonIntegerCode();
    void emptyList();
    void rowsBelowThePageAreNotDrawn();
    void rendersToPdf_data();
    void rendersToPdf();
};

void TestTableReport::geometry_data()
{
    QTest::addColumn<int>("which");
    const auto all = expectedLayouts();
    for (int i = 0; i < int(all.size()); ++i)
        QTest::newRow(all[size_t(i)].title) << i;
}

void TestTableReport::geometry()
{
    QFETCH(int, which);
    const Expected e = expectedLayouts()[size_t(which)];
    const ReportLayout& layout = *e.layout;
    const int columns = int(e.columns.size());
    RecordingCanvas canvas;
    drawTableReport(canvas, layout, cellsOf(sampleRows(columns)), QStringLiteral("admin"),
                    kPrintTime);
    const int cy = e.points * 12;
    const int step = cy + 20;
    const int left = e.rules.front();
    const int right = e.rules.back();

    // Title and its underline.
    const Op title = canvas.texts().back();
    QCOMPARE(title.text, QString::fromUtf8(e.title));
    QCOMPARE(title.x1, 3000);
    QCOMPARE(title.y1, 10500);
    QCOMPARE(title.face, QStringLiteral("楷体"));
    QCOMPARE(title.points, 22);
    QVERIFY(canvas.hasLine(3000, 10100, e.underlineEnd, 10100));

    // Preparer line and the dashed segments under name and time.
    const int py = 9150 + 2 * cy;
    QCOMPARE(canvas.textAt(e.preparerX, py), QStringLiteral("制表人："));
    QCOMPARE(canvas.textAt(e.preparerX + 1000, py), QStringLiteral("admin"));
    QCOMPARE(canvas.textAt(e.timeX, py), QStringLiteral("制表时间："));
    QCOMPARE(canvas.textAt(e.timeX + 1000, py), QStringLiteral("2004-1-5  9-3-7"));
    QVERIFY(canvas.hasLine(e.dash[0], 9100 + cy, e.dash[1], 9100 + cy, true));
    QVERIFY(canvas.hasLine(e.dash[2], 9100 + cy, e.dash[3], 9100 + cy, true));
    int dashed = 0;
    for (const Op& o : canvas.lines())
        dashed += o.dashed;
    QCOMPARE(dashed, 2);

    // Headings, rows cy + 20 apart, three of them: "abc" ends the table.
    for (int c = 0; c < columns; ++c) {
        const int x = e.columns[size_t(c)].second;
        QCOMPARE(canvas.textAt(x, 9020 + cy), QString::fromUtf8(e.columns[size_t(c)].first));
        for (int k = 0; k < 3; ++k) {
            const QString expected =
                c == 0 ? (layout.integerCells ? QStringList{"12", "13", "7"}[k]
                                              : QStringList{"12", "0013", "7"}[k])
                       : (layout.integerCells ? QString::number(c)
                                              : QStringLiteral("%1.500000").arg(c));
            QCOMPARE(canvas.textAt(x, 9000 - k * step), expected);
        }
        QVERIFY(canvas.textAt(x, 9000 - 3 * step).isNull());
    }
    for (const Op& o : canvas.texts()) {
        if (o.text == QStringLiteral("abc") || o.text == QStringLiteral("9"))
            QFAIL("a row after the end of the table was printed");
        if (o.y1 <= 9020 + cy)
            QCOMPARE(o.points, e.points);
        QCOMPARE(o.dashed, false);
    }

    // Header frame, a rule under each row, vertical rules to the last one.
    QVERIFY(canvas.hasLine(left, 9030 + cy, right, 9030 + cy));
    QVERIFY(canvas.hasLine(left, 9040, right, 9040));
    for (int k = 0; k < 3; ++k)
        QVERIFY(canvas.hasLine(left, 8990 - cy - k * step, right, 8990 - cy - k * step));
    const int bottom = 8990 - 2 * step - cy;
    for (int x : e.rules)
        QVERIFY2(canvas.hasLine(x, 9030 + cy, x, bottom), qPrintable(QString::number(x)));
    // Title underline + 2 frame rules + 3 row rules + the verticals + 2 dashed.
    QCOMPARE(int(canvas.lines().size()), 1 + 2 + 3 + int(e.rules.size()) + 2);
}

void TestTableReport::stopsAtFirstNonIntegerCode_data()
{
    QTest::addColumn<QStringList>("codes");
    QTest::addColumn<int>("printed");
    QTest::newRow("code 0") << QStringList{"1", "0", "2"} << 1;
    QTest::newRow("blank first") << QStringList{"", "2"} << 0;
    QTest::newRow("letter first") << QStringList{"A1", "2"} << 0;
    QTest::newRow("leading blanks and sign") << QStringList{" 3", "-4", "5x"} << 3;
}

void TestTableReport::stopsAtFirstNonIntegerCode()
{
    QFETCH(QStringList, codes);
    QFETCH(int, printed);
    Rows rows;
    for (const QString& c : codes)
        rows << QStringList{c, QStringLiteral("t")};
    RecordingCanvas canvas;
    drawTableReport(canvas, reports::stockIn, cellsOf(rows), QStringLiteral("u"), kPrintTime);
    const int cy = 96;
    int cells = 0;
    for (const Op& o : canvas.texts())
        cells += o.y1 <= 9000;
    // Each printed row draws all seven columns.
    QCOMPARE(cells, printed * 7);
    const int bottom = printed == 0 ? 9010 : 8990 - (printed - 1) * (cy + 20) - cy;
    QVERIFY(canvas.hasLine(200, 9030 + cy, 200, bottom));
}

void TestTableReport::emptyList()
{
    RecordingCanvas canvas;
    drawTableReport(canvas, reports::returns, cellsOf({}), QStringLiteral("u"), kPrintTime);
    // Headings, preparer line, title; the frame and the verticals to 9010.
    QCOMPARE(int(canvas.texts().size()), 5 + 4 + 1);
    QVERIFY(canvas.hasLine(1200, 9030 + 120, 7200, 9030 + 120));
    QVERIFY(canvas.hasLine(1200, 9040, 7200, 9040));
    QVERIFY(canvas.hasLine(7200, 9030 + 120, 7200, 9010));
    QCOMPARE(int(canvas.lines().size()), 1 + 2 + 6 + 2);
}

void TestTableReport::rowsBelowThePageAreNotDrawn()
{
    Rows rows;
    for (int i = 1; i <= 500; ++i)
        rows << QStringList{QString::number(i), QStringLiteral("x")};
    RecordingCanvas canvas;
    drawTableReport(canvas, reports::stockIn, cellsOf(rows), QStringLiteral("u"), kPrintTime);
    const int step = 96 + 20;
    // Rows whose top is at or above the bottom edge: 9000 / 116 + 1.
    const int onPage = 9000 / step + 1;
    int cells = 0;
    for (const Op& o : canvas.texts())
        if (o.y1 <= 9000) {
            ++cells;
            QVERIFY(o.y1 >= 0);
        }
    QCOMPARE(cells, onPage * 7);
    // The vertical rules still end under the last row counted.
    QVERIFY(canvas.hasLine(7600, 9030 + 96, 7600, 8990 - 499 * step - 96));
}

void TestTableReport::rendersToPdf_data()
{
    geometry_data();
}

void TestTableReport::rendersToPdf()
{
    QFETCH(int, which);
    const Expected e = expectedLayouts()[size_t(which)];
    test::Sandbox sandbox;
    // VOK_REPORT_DIR keeps the PDFs for a look.
    QString dir = qEnvironmentVariable("VOK_REPORT_DIR");
    if (dir.isEmpty())
        dir = sandbox.dataDir();
    const QString file = dir + QStringLiteral("/report%1.pdf").arg(which);
    QFile::remove(file);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file);
    Rows rows;
    for (int i = 1; i <= 12; ++i) {
        QStringList r{QString::number(i)};
        for (int c = 1; c < int(e.columns.size()); ++c)
            r << (c == 1 ? QStringLiteral("2004-01-05 09:03:07") : QStringLiteral("文字%1").arg(c));
        rows << r;
    }
    printTableReport(printer, *e.layout, cellsOf(rows), QStringLiteral("管理员"));
    QVERIFY(QFile(file).size() > 1000);
}

QTEST_MAIN(TestTableReport)
#include "tst_tablereport.moc"
