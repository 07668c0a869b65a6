#include "ui/DialogStyle.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPalette>
#include <QProxyStyle>
#include <QScreen>
#include <QWidget>

namespace vok {

namespace {

// Moves a window to the centre of its parent when that is shown, else of
// the screen, as it is about to be shown for the first time.
class CentreOnShow : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Show || watched != parent())
            return false;
        auto* w = static_cast<QWidget*>(watched);
        const QWidget* over = w->parentWidget() ? w->parentWidget()->window() : nullptr;
        QRect area;
        if (over && over->isVisible() && !over->isMinimized())
            area = over->frameGeometry();
        else if (QScreen* s = w->screen() ? w->screen() : QGuiApplication::primaryScreen())
            area = s->availableGeometry();
        if (area.isValid()) {
            QRect r = w->frameGeometry();
            r.moveCenter(area.center());
            w->move(r.topLeft());
        }
        w->removeEventFilter(this);
        deleteLater();
        return false;
    }
};

// The default style with a password mask of text size: the large circle
// of CJK faces nearly fills an edit.
class InterfaceStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return 0x2022;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

void applyInterfaceStyle()
{
    QApplication::setStyle(new InterfaceStyle);
    QApplication::setFont(dialogFont());
}

QFont dialogFont()
{
    QFont f(QStringLiteral("WenQuanYi Zen Hei"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(9);
    return f;
}

void showReadOnly(QLineEdit* edit)
{
    edit->setReadOnly(true);
    QPalette p = edit->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        p.setColor(g, QPalette::Base, p.color(g, QPalette::Window));
    edit->setPalette(p);
}

void applyProgramStyle(QWidget* dialog)
{
    QPalette p = dialog->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        for (QPalette::ColorRole r :
             {QPalette::Window, QPalette::Base, QPalette::Button, QPalette::AlternateBase})
            p.setColor(g, r, programBackground());
    }
    dialog->setPalette(p);
    dialog->setAutoFillBackground(true);
    dialog->setFont(dialogFont());
    dialog->installEventFilter(new CentreOnShow(dialog));
}

} // namespace vok
