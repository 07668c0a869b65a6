#include "login/DialogStyle.h"

#include <QPalette>
#include <QWidget>

namespace vok {

QFont dialogFont()
{
    QFont f(QStringLiteral("AR PL UMing CN"));
    f.setPointSize(9);
    return f;
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
}

} // namespace vok
