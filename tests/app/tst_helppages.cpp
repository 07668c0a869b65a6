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
};

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

QTEST_GUILESS_MAIN(TestHelpPages)
#include "tst_helppages.moc"
