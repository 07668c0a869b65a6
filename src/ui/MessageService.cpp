#include "ui/MessageService.h"

#include <QApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QMessageBox>
#include <QQueue>

namespace vok {

QString appTitle()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

namespace Messages {

namespace {
struct State
{
    bool testMode = false;
    QQueue<Answer> answers;
    QList<Shown> shown;
};
State& state()
{
    static State s;
    return s;
}

Answer defaultAnswer(Buttons b)
{
    switch (b) {
    case Buttons::YesNo:
    case Buttons::YesNoCancel:
        return Answer::Yes;
    default:
        return Answer::Ok;
    }
}
} // namespace

std::unique_ptr<QMessageBox> makeBox(const QString& text, const QString& caption, Icon icon,
                                     Buttons buttons, QWidget* parent)
{
    const QString title = caption.isEmpty() ? appTitle() : caption;
    auto box = std::make_unique<QMessageBox>(parent ? parent : QApplication::activeWindow());
    box->setWindowTitle(title);
    QString shownText = text;
    shownText.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    box->setText(shownText);
    switch (icon) {
    case Icon::None:
        box->setIcon(QMessageBox::NoIcon);
        break;
    case Icon::Information:
        box->setIcon(QMessageBox::Information);
        break;
    case Icon::Exclamation:
        box->setIcon(QMessageBox::Warning);
        break;
    case Icon::Stop:
        box->setIcon(QMessageBox::Critical);
        break;
    case Icon::Question:
        box->setIcon(QMessageBox::Question);
        break;
    }
    switch (buttons) {
    case Buttons::Ok:
        box->setStandardButtons(QMessageBox::Ok);
        break;
    case Buttons::OkCancel:
        box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case Buttons::YesNo:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case Buttons::YesNoCancel:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    // The caption shares the title bar with the icon and the window buttons:
    // a row as wide as both keeps it whole.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout()))
        grid->addItem(new QSpacerItem(box->fontMetrics().horizontalAdvance(title) + 160, 0),
                      grid->rowCount(), 0, 1, grid->columnCount());
    return box;
}

Answer show(const QString& text, const QString& caption, Icon icon, Buttons buttons,
            QWidget* parent)
{
    State& s = state();
    s.shown.append({text, caption.isEmpty() ? appTitle() : caption, icon, buttons});
    if (s.testMode)
        return s.answers.isEmpty() ? defaultAnswer(buttons) : s.answers.dequeue();

    switch (makeBox(text, caption, icon, buttons, parent)->exec()) {
    case QMessageBox::Ok:
        return Answer::Ok;
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

void notice(const QString& text, QWidget* parent, const QString& caption, Icon icon)
{
    show(text, caption, icon, Buttons::Ok, parent);
}

void setTestMode(bool on)
{
    state().testMode = on;
    state().answers.clear();
}

bool testMode()
{
    return state().testMode;
}

void queueAnswer(Answer answer)
{
    state().answers.enqueue(answer);
}

const QList<Shown>& shown()
{
    return state().shown;
}

QStringList shownTexts()
{
    QStringList t;
    for (const Shown& s : state().shown)
        t << s.text;
    return t;
}

void clearShown()
{
    state().shown.clear();
}

} // namespace Messages

} // namespace vok
