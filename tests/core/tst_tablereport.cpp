// The printed table reports: the drawing of each layout recorded and
// checked against the report geometry; one PDF per layout rendered.
#include "core/CommandLine.h"
#include "core/RecordListModel.h"
#include "core/TableReport.h"
#include "core/Tables.h"
#include "db/DbError.h"
#include "support/TestSupport.h"
#include "ui/ComErrorBox.h"
#include "ui/PrintReport.h"
#include "ui/ReportCommand.h"

#include <QFile>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>
#include <cmath>

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
    double points;
    bool dashed;
    int page;
};

bool isWide(QChar c)
{
    return c.unicode() >= 0x2E80;
}

// The recording canvas's font model: a text's height is 12 units a point
// (so cy is 96 for 8 points, 120 for 10 and 144 for 12); a Chinese
// character is an em wide (a point is 1000/72 units) with ink reaching
// below the Latin line, as the fallback font's glyphs do; a Latin one is
// 0.556 em wide.
ReportCanvas::Ink modelInk(const QString& text, double points)
{
    const double h = points * 12;
    const double em = points * 1000 / 72;
    double width = 0;
    double top = h, bottom = 0;
    for (QChar c : text) {
        width += isWide(c) ? em : 0.556 * em;
        top = std::min(top, isWide(c) ? 0.05 * h : 0.2 * h);
        bottom = std::max(bottom, isWide(c) ? 0.93 * h : 0.79 * h);
    }
    if (text.isEmpty())
        top = bottom = 0;
    return {0, int(std::ceil(width)), int(top), int(std::ceil(bottom))};
}

// Records what a report draws.
class RecordingCanvas : public ReportCanvas
{
public:
    void setFont(const QString& face, double points) override
    {
        m_face = face;
        m_points = points;
    }
    int textHeight(const QString&) override { return int(m_points * 12); }
    Ink measure(const QString& text) override { return modelInk(text, m_points); }
    void drawText(int x, int y, const QString& text) override
    {
        ops.push_back({Op::Text, x, y, x, y, text, m_face, m_points, m_dashed, page});
    }
    void setPen(Pen pen) override { m_dashed = pen == Pen::Dashed; }
    void drawLine(int x1, int y1, int x2, int y2) override
    {
        ops.push_back({Op::Line, x1, y1, x2, y2, {}, m_face, m_points, m_dashed, page});
    }
    void newPage() override { ++page; }

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
    const Op* findText(const QString& text, int onPage = 0) const
    {
        for (const Op& o : ops)
            if (o.kind == Op::Text && o.text == text && o.page == onPage)
                return &o;
        return nullptr;
    }
    bool hasLine(int x1, int y1, int x2, int y2, bool dashed = false, int onPage = 0) const
    {
        for (const Op& o : ops)
            if (o.kind == Op::Line && o.x1 == x1 && o.y1 == y1 && o.x2 == x2 && o.y2 == y2 &&
                o.dashed == dashed && o.page == onPage)
                return true;
        return false;
    }

    std::vector<Op> ops;
    int page = 0;

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
    double m_points = 0;
    bool m_dashed = false;
};

// The ink box of a recorded text on the page (y upward).
QRect inkBox(const Op& o)
{
    const ReportCanvas::Ink ink = modelInk(o.text, o.points);
    return QRect(QPoint(o.x1 + ink.left, o.y1 - ink.bottom),
                 QPoint(o.x1 + ink.right - 1, o.y1 - ink.top - 1));
}

// Every text's ink clear of every line and of every other text of its page.
void verifyNothingOverlaps(const RecordingCanvas& canvas)
{
    const std::vector<Op> texts = canvas.texts();
    for (const Op& t : texts) {
        const QRect box = inkBox(t);
        for (const Op& l : canvas.lines()) {
            if (l.page != t.page)
                continue;
            const QRect line = QRect(QPoint(std::min(l.x1, l.x2), std::min(l.y1, l.y2)),
                                     QPoint(std::max(l.x1, l.x2), std::max(l.y1, l.y2)));
            if (box.intersects(line.adjusted(0, 0, 1, 1)))
                QFAIL(
                    qPrintable(QStringLiteral("“%1” at (%2, %3) crosses the line (%4, %5)-(%6, %7)")
                                   .arg(t.text)
                                   .arg(t.x1)
                                   .arg(t.y1)
                                   .arg(l.x1)
                                   .arg(l.y1)
                                   .arg(l.x2)
                                   .arg(l.y2)));
        }
        for (const Op& u : texts)
            if (&u != &t && u.page == t.page && !(u.x1 == t.x1 && u.y1 == t.y1) &&
                box.intersects(inkBox(u)))
                QFAIL(qPrintable(QStringLiteral("“%1” overlaps “%2”").arg(t.text, u.text)));
    }
}

using Rows = QList<QStringList>;

ReportCell cellsOf(const Rows& rows)
{
    return [rows](int r, int c) {
        return r < rows.size() && c < rows[r].size() ? rows[r][c] : QString();
    };
}

const QDateTime kPrintTime(QDate(2004, 1, 5), QTime(9, 3, 7));

// What a layout says of its drawing, read from the layout itself: the
// tests check that the drawing follows it.
struct Expected
{
    const ReportLayout* layout;
    QByteArray title;
    int points;
    std::vector<std::pair<QString, int>> columns;
    std::vector<int> rules;
    int dash[4];
    int preparerX, timeX, underlineEnd;
};

std::vector<Expected> expectedLayouts()
{
    std::vector<Expected> out;
    for (const ReportLayout* l :
         {&reports::stock, &reports::stockIn, &reports::stockOut, &reports::returns,
          &reports::demand, &reports::purchasePlan, &reports::reconcile, &reports::stocktake,
          &reports::consumption, &reports::operationLog}) {
        Expected e{l,
                   l->title.toString().toUtf8(),
                   l->bodyPoints,
                   {},
                   {l->rules.begin(), l->rules.end()},
                   {l->leftDash.from, l->leftDash.to, l->rightDash.from, l->rightDash.to},
                   l->preparerX,
                   l->timeLabelX,
                   l->underlineEnd};
        for (const ReportColumn& c : l->columns)
            e.columns.emplace_back(c.heading.toString(), c.x);
        out.push_back(std::move(e));
    }
    return out;
}

// Sample rows for a layout: codes that are and are not numbers; every
// row prints.
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

void draw(RecordingCanvas& canvas, const ReportLayout& layout, const Rows& rows,
          const QString& user = QStringLiteral("u"))
{
    drawTableReport(canvas, layout, int(rows.size()), cellsOf(rows), user, kPrintTime);
}

} // namespace

class TestTableReport : public QObject
{
    Q_OBJECT
private slots:
    void geometry_data();
    void geometry();
    void everyCodePrints_data();
    void everyCodePrints();
    void emptyList();
    void longListsContinueOnFurtherPages_data();
    void longListsContinueOnFurtherPages();
    void wideTextsAreFitted_data();
    void wideTextsAreFitted();
    void rendersToPdf_data();
    void rendersToPdf();
    void reportCommand_data();
    void reportCommand();
    void everyBrowsedTableReports_data();
    void everyBrowsedTableReports();
    void damagedDepartment();
};

void TestTableReport::geometry_data()
{
    QTest::addColumn<int>("which");
    const auto all = expectedLayouts();
    for (int i = 0; i < int(all.size()); ++i)
        QTest::newRow(all[size_t(i)].title.constData()) << i;
}

void TestTableReport::geometry()
{
    QFETCH(int, which);
    const Expected e = expectedLayouts()[size_t(which)];
    const ReportLayout& layout = *e.layout;
    const int columns = int(e.columns.size());
    RecordingCanvas canvas;
    draw(canvas, layout, sampleRows(columns), QStringLiteral("admin"));
    const int cy = e.points * 12;
    const int step = cy + 20;
    const int left = e.rules.front();
    const int right = e.rules.back();
    QCOMPARE(canvas.page, 0);

    // Title and its underline.
    const Op title = canvas.texts().back();
    QCOMPARE(title.text, QString::fromUtf8(e.title));
    QCOMPARE(title.x1, 3000);
    QCOMPARE(title.y1, 10500);
    QCOMPARE(title.face, QStringLiteral("楷体"));
    QCOMPARE(title.points, 22.0);
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

    // Headings at their column's x between the header rules; rows cy + 20
    // apart, all five of them, codes as they are, the stock report's
    // quantities as integers.
    for (int c = 0; c < columns; ++c) {
        // A text placed on a rule (the demand report's first column) stands
        // just clear of it.
        int x = e.columns[size_t(c)].second;
        if (std::find(e.rules.begin(), e.rules.end(), x) != e.rules.end())
            x += 3;
        const Op* heading = canvas.findText(e.columns[size_t(c)].first);
        QVERIFY(heading);
        QCOMPARE(heading->x1, x);
        QVERIFY(inkBox(*heading).bottom() < 9030 + cy && inkBox(*heading).top() > 9040);
        for (int k = 0; k < 5; ++k) {
            const QString expected =
                c == 0 ? QStringList{"12", "0013", "7", "abc", "9"}[k]
                       : (layout.integerQuantities ? QString::number(c)
                                                   : QStringLiteral("%1.500000").arg(c));
            QCOMPARE(canvas.textAt(x, 9000 - k * step), expected);
        }
        QVERIFY(canvas.textAt(x, 9000 - 5 * step).isNull());
    }
    for (const Op& o : canvas.texts()) {
        if (o.y1 <= 9020 + cy && o.y1 > 9000 - 5 * step)
            QVERIFY2(o.points <= e.points, qPrintable(o.text));
        if (o.y1 <= 9000)
            QCOMPARE(o.points, double(e.points));
        QCOMPARE(o.dashed, false);
    }

    // Header frame, a rule under each row, vertical rules to the last one.
    QVERIFY(canvas.hasLine(left, 9030 + cy, right, 9030 + cy));
    QVERIFY(canvas.hasLine(left, 9040, right, 9040));
    for (int k = 0; k < 5; ++k)
        QVERIFY(canvas.hasLine(left, 8990 - cy - k * step, right, 8990 - cy - k * step));
    const int bottom = 8990 - 4 * step - cy;
    for (int x : e.rules)
        QVERIFY2(canvas.hasLine(x, 9030 + cy, x, bottom), qPrintable(QString::number(x)));
    // Title underline + 2 frame rules + 5 row rules + the verticals + 2 dashed.
    QCOMPARE(int(canvas.lines().size()), 1 + 2 + 5 + int(e.rules.size()) + 2);
    // One page: no page line.
    for (const Op& o : canvas.texts())
        QVERIFY(!o.text.startsWith(u'第'));
    verifyNothingOverlaps(canvas);
}

void TestTableReport::everyCodePrints_data()
{
    QTest::addColumn<QStringList>("codes");
    QTest::newRow("letters and Chinese") << QStringList{"D001", "投影仪-1", "A1"};
    QTest::newRow("code 0 and blank") << QStringList{"1", "0", "", "2"};
    QTest::newRow("leading blanks and sign") << QStringList{" 3", "-4", "5x"};
}

void TestTableReport::everyCodePrints()
{
    QFETCH(QStringList, codes);
    for (const ReportLayout* layout : {&reports::stockIn, &reports::stock}) {
        Rows rows;
        for (const QString& c : codes)
            rows << QStringList{c, QStringLiteral("3.000000")};
        RecordingCanvas canvas;
        draw(canvas, *layout, rows);
        const int cy = layout->bodyPoints * 12;
        const int x = layout->columns[0].x;
        for (int k = 0; k < codes.size(); ++k)
            QCOMPARE(canvas.textAt(x, 9000 - k * (cy + 20)),
                     codes[k].isEmpty() ? QString() : codes[k]);
        const int bottom = 8990 - (int(codes.size()) - 1) * (cy + 20) - cy;
        QVERIFY(canvas.hasLine(layout->rules.front(), 9030 + cy, layout->rules.front(), bottom));
        QCOMPARE(canvas.textAt(layout->columns[1].x, 9000),
                 layout->integerQuantities ? QStringLiteral("3") : QStringLiteral("3.000000"));
    }
}

void TestTableReport::emptyList()
{
    RecordingCanvas canvas;
    draw(canvas, reports::returns, {});
    // Headings, preparer line, title; the frame and the verticals to 9010.
    QCOMPARE(int(canvas.texts().size()), 5 + 4 + 1);
    QVERIFY(canvas.hasLine(1200, 9030 + 120, 7200, 9030 + 120));
    QVERIFY(canvas.hasLine(1200, 9040, 7200, 9040));
    QVERIFY(canvas.hasLine(7200, 9030 + 120, 7200, 9010));
    QCOMPARE(int(canvas.lines().size()), 1 + 2 + 6 + 2);
    QCOMPARE(canvas.page, 0);
}

void TestTableReport::longListsContinueOnFurtherPages_data()
{
    // Stock-in: cy 96, rows 116 apart; the first rule at 8894, so 77 rows
    // fit one page, and 76 above a page line (8 points, 40 under the table).
    QTest::addColumn<int>("rows");
    QTest::addColumn<QList<int>>("perPage");
    QTest::newRow("77 rows fill one page") << 77 << QList<int>{77};
    QTest::newRow("78 rows take two") << 78 << QList<int>{76, 2};
    QTest::newRow("200 rows") << 200 << QList<int>{76, 76, 48};
}

void TestTableReport::longListsContinueOnFurtherPages()
{
    QFETCH(int, rows);
    QFETCH(QList<int>, perPage);
    Rows list;
    for (int i = 0; i < rows; ++i)
        list << QStringList{QStringLiteral("D%1").arg(i, 3, 10, QLatin1Char('0')),
                            QStringLiteral("2004-1-5 9:3:%1").arg(i % 60)};
    RecordingCanvas canvas;
    draw(canvas, reports::stockIn, list, QStringLiteral("管理员"));
    const int pages = int(perPage.size());
    QCOMPARE(canvas.page, pages - 1);
    const int cy = 96, step = 116;

    int next = 0;
    for (int p = 0; p < pages; ++p) {
        // The same title, preparer line and headings at the same places.
        QVERIFY(canvas.findText(QStringLiteral("入库信息表"), p));
        QCOMPARE(canvas.findText(QStringLiteral("入库信息表"), p)->y1, 10500);
        QCOMPARE(canvas.findText(QStringLiteral("管理员"), p)->y1, 9150 + 2 * cy);
        QCOMPARE(canvas.findText(QStringLiteral("设备号"), p)->x1, 300);
        QVERIFY(canvas.hasLine(200, 9040, 7600, 9040, false, p));
        // The rows continue in the list's order.
        for (int k = 0; k < perPage[p]; ++k, ++next) {
            const Op* code = canvas.findText(list[next][0], p);
            QVERIFY2(code, qPrintable(list[next][0]));
            QCOMPARE(code->y1, 9000 - k * step);
        }
        const int last = 8990 - cy - (perPage[p] - 1) * step;
        QVERIFY(canvas.hasLine(7600, 9030 + cy, 7600, last, false, p));
        QVERIFY(!canvas.hasLine(200, last - step, 7600, last - step, false, p));
        const Op* line =
            canvas.findText(QStringLiteral("第 %1 页，共 %2 页").arg(p + 1).arg(pages), p);
        if (pages == 1) {
            QVERIFY(!line);
            continue;
        }
        QVERIFY(line);
        QVERIFY(inkBox(*line).top() < last && inkBox(*line).bottom() >= 0);
    }
    QCOMPARE(next, rows);
    verifyNothingOverlaps(canvas);
}

void TestTableReport::wideTextsAreFitted_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("points");
    QTest::addColumn<bool>("cut");
    QTest::newRow("longest supplier")
        << 2 << QStringLiteral("北京海淀电子设备公司") << 6.0 << false;
    QTest::newRow("largest price") << 5 << QStringLiteral("10000.000000") << 7.5 << false;
    QTest::newRow("a short text") << 6 << QStringLiteral("张三") << 8.0 << false;
    QTest::newRow("too long at the floor")
        << 3 << QStringLiteral("一二三四五六七八九十一二三四五六七八九十") << 6.0 << true;
}

void TestTableReport::wideTextsAreFitted()
{
    QFETCH(int, column);
    QFETCH(QString, text);
    QFETCH(double, points);
    QFETCH(bool, cut);
    QStringList row(7, QStringLiteral("1"));
    row[column] = text;
    RecordingCanvas canvas;
    draw(canvas, reports::stockIn, {row, row});
    const int x = reports::stockIn.columns[size_t(column)].x;
    for (int k = 0; k < 2; ++k) {
        // A smaller text is lowered onto the row's line.
        const Op* drawn = nullptr;
        for (const Op& o : canvas.ops)
            if (o.kind == Op::Text && o.x1 == x && o.y1 <= 9000 - k * 116 &&
                o.y1 > 9000 - k * 116 - 50)
                drawn = &o;
        QVERIFY(drawn);
        if (cut) {
            QVERIFY(drawn->text.endsWith(QStringLiteral("…")));
            QVERIFY(text.startsWith(drawn->text.chopped(1)));
        } else {
            QCOMPARE(drawn->text, text);
        }
        QCOMPARE(drawn->points, points);
    }
    // The next cell's text still at the body size.
    for (const Op& o : canvas.texts())
        if (o.y1 == 9000 && o.x1 != x)
            QCOMPARE(o.points, 8.0);
    verifyNothingOverlaps(canvas);
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
    // The stock-in report gets two pages' worth of rows, with the longest
    // supplier and the largest numbers.
    const bool stockIn = e.layout == &reports::stockIn;
    Rows rows;
    for (int i = 1; i <= (stockIn ? 100 : 12); ++i) {
        QStringList r{i % 3 == 0 ? QStringLiteral("投影仪-%1").arg(i)
                                 : QStringLiteral("D%1").arg(i, 3, 10, QLatin1Char('0'))};
        for (int c = 1; c < int(e.columns.size()); ++c)
            r << (c == 1 ? QStringLiteral("2004-01-05 09:03:07") : QStringLiteral("文字%1").arg(c));
        if (stockIn) {
            r[2] = QStringLiteral("北京海淀电子设备公司");
            r[3] = QStringLiteral("0101234567");
            r[4] = QStringLiteral("10000.000000");
            r[5] = QStringLiteral("%1.500000").arg(i * 97);
        }
        if (e.layout == &reports::stock)
            for (int c = 1; c < 5; ++c)
                r[c] = QStringLiteral("%1.000000").arg(i * c);
        rows << r;
    }
    QVERIFY(printTableReport(printer, *e.layout, int(rows.size()), cellsOf(rows),
                             QStringLiteral("管理员"), kPrintTime));
    QVERIFY(QFile(file).size() > 1000);
}

// What a poppler tool prints of a PDF (pdftotext: its text; pdfinfo: its
// title and page size), "" when it cannot be read.
QString pdfTool(const QString& tool, const QString& file)
{
    QProcess p;
    QStringList args{file};
    if (tool == u"pdftotext")
        args << QStringLiteral("-");
    p.start(tool, args);
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

void TestTableReport::reportCommand_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("query");
    QTest::addColumn<QString>("file");
    // 0 written, 2 refused (the problem returned), 1 failed (thrown).
    QTest::addColumn<int>("rc");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("printed");
    // Rows a window of the list reads (0: as many as a list reads).
    QTest::addColumn<int>("windowRows");
    const QStringList all{"D001", "投影仪-1", "007"};
    QTest::newRow("whole table") << "DEVICE_IN" << QStringList{} << "r.pdf" << 0 << "" << all << 0;
    // Read through window after window, counted when the report asks.
    QTest::newRow("a window a row")
        << "DEVICE_IN" << QStringList{} << "r.pdf" << 0 << "" << all << 1;
    QTest::newRow("any case") << "device_in" << QStringList{} << "r.pdf" << 0 << "" << all << 0;
    QTest::newRow("query") << "DEVICE_IN" << QStringList{"供应商c", "=", "厂"} << "r.pdf" << 0 << ""
                           << QStringList{"投影仪-1"} << 0;
    QTest::newRow("unknown table")
        << "DEVICE_X" << QStringList{} << "r.pdf" << 2
        << "没有表“DEVICE_X”的报表，可用：DEVICE DEVICE_IN DEVICE_OUT DEVICE_RETURN DEVICE_NEED "
           "DEVICE_WANTBUY HOWDO DEVICE_ADJUST"
        << QStringList{} << 0;
    QTest::newRow("unknown field") << "DEVICE_IN" << QStringList{"名称c", "=", "x"} << "r.pdf" << 2
                                   << "表 DEVICE_IN 没有查询项“名称c”，可用：设备号c 入库时间c "
                                      "供应商c 供应商电话c 数量d 价格d "
                                      "采购员c"
                                   << QStringList{} << 0;
    QTest::newRow("unknown operator") << "DEVICE_IN" << QStringList{"供应商c", "~", "x"} << "r.pdf"
                                      << 2 << "*" << QStringList{} << 0;
    QTest::newRow("unwritable file") << "DEVICE_IN" << QStringList{} << "missing/r.pdf" << 1
                                     << "文件夹“%1/missing”不存在。" << QStringList{} << 0;
}

void TestTableReport::reportCommand()
{
    QFETCH(QString, table);
    QFETCH(QStringList, query);
    QFETCH(QString, file);
    QFETCH(int, rc);
    QFETCH(QString, error);
    QFETCH(QStringList, printed);
    QFETCH(int, windowRows);
    const int listWindow = RecordListModel::defaultWindowRows();
    const auto restore =
        qScopeGuard([listWindow] { RecordListModel::setDefaultWindowRows(listWindow); });
    if (windowRows > 0)
        RecordListModel::setDefaultWindowRows(windowRows);
    test::Sandbox sandbox;
    const ConnectionPtr c = sandbox.open();
    test::seed(*c, "DEVICE_IN",
               {{"007", "2004-1-5 9:3:7", "公司", "1", 1, 1, "王"},
                {"投影仪-1", "2004-1-5 9:3:7", "厂", "1", 1, 1, "王"},
                {"D001", "2004-1-5 9:3:7", "公司", "1", 1, 1, "王"}});
    ReportRequest request;
    request.table = table;
    request.pdfFile = sandbox.dataDir() + u'/' + file;
    request.preparer = QStringLiteral("管理员");
    if (!query.isEmpty()) {
        request.query = true;
        request.field = query[0];
        request.op = query[1];
        request.value = query[2];
    }
    QString message;
    int outcome = 0;
    try {
        writeTableReport(request);
    } catch (const DbError& e) {
        message = comErrorText(e);
        outcome = CommandLine::exitCode(e);
    }
    QCOMPARE(outcome, rc);
    if (rc != 0) {
        if (error != u"*")
            QCOMPARE(message, error.contains(u"%1") ? error.arg(sandbox.dataDir()) : error);
        QVERIFY(!message.isEmpty());
        QVERIFY(!QFile::exists(request.pdfFile));
        return;
    }
    QVERIFY(message.isEmpty());
    // The rows as the list shows them: the last added first.
    const QString text = pdfTool(QStringLiteral("pdftotext"), request.pdfFile);
    QVERIFY(text.contains(QStringLiteral("入库信息表")));
    QVERIFY(text.contains(QStringLiteral("管理员")));
    // The page and the title a printer's PDF has.
    const QString info = pdfTool(QStringLiteral("pdfinfo"), request.pdfFile);
    QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Title: +仓库管理系统\n"))),
             qPrintable(info));
    QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Page size: +595 x 842 pts"))),
             qPrintable(info));
    qsizetype at = 0;
    for (const QString& code : printed) {
        const qsizetype found = text.indexOf(code, at);
        QVERIFY2(found >= 0, qPrintable(code));
        at = found;
    }
    for (const QString& code : {QStringLiteral("D001"), QStringLiteral("投影仪-1")})
        QCOMPARE(text.contains(code), printed.contains(code));
}

void TestTableReport::everyBrowsedTableReports_data()
{
    // A row of the table after its first column.
    QTest::addColumn<QString>("table");
    QTest::addColumn<QVariantList>("rest");
    QTest::newRow("stock") << "DEVICE" << QVariantList{5, 10, 2, 8};
    QTest::newRow("stock-in") << "DEVICE_IN"
                              << QVariantList{"2004-1-5 9:3:7", "甲", "1", 1, 1, "王"};
    QTest::newRow("stock-out") << "DEVICE_OUT"
                               << QVariantList{"部门A", "2004-2-1 8:0:0", "1", "张", 3, "李",
                                               "维修"};
    QTest::newRow("return") << "DEVICE_RETURN" << QVariantList{"2004-3-1 10:0:0", "张", 4, "赵"};
    QTest::newRow("demand") << "DEVICE_NEED" << QVariantList{"部门A", "2004-1-1", "2004-2-1", "5"};
    QTest::newRow("purchase plan")
        << "DEVICE_WANTBUY" << QVariantList{"5", "10", "20", "15", "abc", "9.5", "2004-1-5 9:3:7"};
    QTest::newRow("log") << "HOWDO" << QVariantList{"登录数据库", "2004-1-5 9:3:7"};
}

void TestTableReport::everyBrowsedTableReports()
{
    QFETCH(QString, table);
    QFETCH(QVariantList, rest);
    const TableDescription* described = tables::find(table);
    QVERIFY(described && described->printedByName && described->report);
    // The report prints a cell for each column its browser lists.
    QCOMPARE(described->report->columns.size(), described->columns.size());
    test::Sandbox sandbox;
    const ConnectionPtr c = sandbox.open();
    test::seed(*c, table, {QVariantList{"RA-1"} + rest, QVariantList{"RB-2"} + rest});
    ReportRequest request;
    request.table = table;
    request.pdfFile = sandbox.dataDir() + QStringLiteral("/r.pdf");
    request.preparer = QStringLiteral("管理员");
    writeTableReport(request);
    const QString text = pdfTool(QStringLiteral("pdftotext"), request.pdfFile);
    QVERIFY(text.contains(described->report->title.toString()));
    // The rows as the browser lists them: the last added first.
    const qsizetype second = text.indexOf(QStringLiteral("RB-2"));
    QVERIFY(second >= 0);
    QVERIFY(text.indexOf(QStringLiteral("RA-1"), second) > second);
}

// The fonts load beside the opening: a department that cannot be opened is
// told as at any opening, and no file is written.
void TestTableReport::damagedDepartment()
{
    test::Sandbox sandbox;
    const QString db = sandbox.dataDir() + QStringLiteral("/vok1.db");
    QFile file(db);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    ReportRequest request;
    request.table = QStringLiteral("DEVICE_IN");
    request.pdfFile = sandbox.dataDir() + QStringLiteral("/r.pdf");
    request.preparer = QStringLiteral("管理员");
    QString message;
    try {
        writeTableReport(request);
    } catch (const DbError& e) {
        message = comErrorText(e);
    }
    QCOMPARE(message,
             QStringLiteral("文件“%1”不是 SQLite 数据库文件。\n程序没有打开这个文件，也没有"
                            "改动它。请用备份恢复数据库，或检查数据文件夹中的文件。")
                 .arg(QDir::toNativeSeparators(db)));
    QVERIFY(!QFile::exists(request.pdfFile));
}

QTEST_MAIN(TestTableReport)
#include "tst_tablereport.moc"
