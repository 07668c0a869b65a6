#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

// Every help page reads as Chinese text: a line break in the page source
// between two Chinese characters would show as a stray blank.
class TestHelpPages : public QObject
{
    Q_OBJECT
private slots:
    void noBreakInsideChineseText();
    void indexListsEveryPageAndEveryPageLinksBack();
};

namespace {

QStringList helpPages()
{
    return QDir(QStringLiteral(VOK_HELP_SOURCE)).entryList({QStringLiteral("*.htm")}, QDir::Files);
}

QString pageText(const QString& page)
{
    QFile f(QDir(QStringLiteral(VOK_HELP_SOURCE)).filePath(page));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// The pages a page links to.
QStringList linksOf(const QString& text)
{
    static const QRegularExpression href(QStringLiteral("href=\"([a-z]+\\.htm)\""));
    QStringList links;
    for (auto m = href.globalMatch(text); m.hasNext();)
        links << m.next().captured(1);
    return links;
}

} // namespace

void TestHelpPages::noBreakInsideChineseText()
{
    const QDir dir(QStringLiteral(VOK_HELP_SOURCE));
    const QStringList pages = dir.entryList({QStringLiteral("*.htm")}, QDir::Files);
    QVERIFY(!pages.isEmpty());
    // CJK characters, full-width forms and CJK or curly punctuation.
    static const QRegularExpression wrap(
        QStringLiteral("([\\x{2E80}-\\x{9FFF}\\x{FF00}-\\x{FFEF}\\x{3000}-\\x{303F}“”‘’…—])"
                       "[ \\t]*\\r?\\n[ \\t]*"
                       "[\\x{2E80}-\\x{9FFF}\\x{FF00}-\\x{FFEF}\\x{3000}-\\x{303F}“”‘’…—]"));
    QStringList found;
    for (const QString& page : pages) {
        QFile f(dir.filePath(page));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        for (auto m = wrap.globalMatch(text); m.hasNext();) {
            const auto hit = m.next();
            found << page + QStringLiteral(": ") + text.mid(hit.capturedStart() - 8, 18);
        }
    }
    QCOMPARE(found, QStringList{});
}

void TestHelpPages::indexListsEveryPageAndEveryPageLinksBack()
{
    const QStringList pages = helpPages();
    QVERIFY(pages.contains(QStringLiteral("index.htm")));
    QStringList indexed = linksOf(pageText(QStringLiteral("index.htm")));
    indexed.sort();
    QStringList others = pages;
    others.removeAll(QStringLiteral("index.htm"));
    QCOMPARE(indexed, others);
    QStringList withoutWayBack;
    for (const QString& page : others) {
        if (!linksOf(pageText(page)).contains(QStringLiteral("index.htm")))
            withoutWayBack << page;
    }
    QCOMPARE(withoutWayBack, QStringList{});
}

QTEST_GUILESS_MAIN(TestHelpPages)
#include "tst_helppages.moc"
