// vok-help: shows one page of the program's help in a window of its own.
//   vok-help [--maximized] FILE
#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QScreen>
#include <QShortcut>
#include <QTextBrowser>
#include <QTranslator>
#include <QUrl>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // Qt's own texts (the Copy and Select All of the right-button menu) in
    // Chinese, like the program's.
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_zh_CN"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtTexts);
    QStringList args = app.arguments().mid(1);
    const bool maximized = args.removeAll(QStringLiteral("--maximized")) > 0;
    if (args.isEmpty())
        return 2;
    const QFileInfo page(args.first());
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/vok/icons/vok.png")));
    QTextBrowser browser;
    browser.setWindowTitle(QStringLiteral("仓库管理系统 帮助"));
    // Esc closes the help as it closes the program's dialogs.
    QObject::connect(new QShortcut(QKeySequence(Qt::Key_Escape), &browser), &QShortcut::activated,
                     &browser, &QWidget::close);
    browser.setOpenExternalLinks(true);
    browser.setSearchPaths({page.absolutePath()});
    browser.setSource(QUrl::fromLocalFile(page.absoluteFilePath()));
    browser.resize(720, 540);
    // Opens centred on the screen, as the program's windows do.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r = browser.frameGeometry();
        r.moveCenter(screen->availableGeometry().center());
        browser.move(r.topLeft());
    }
    if (maximized)
        browser.showMaximized();
    else
        browser.show();
    return app.exec();
}
