#include "ui/FileDialogService.h"

#include <QApplication>
#include <QFileDialog>
#include <QQueue>

namespace vok::FileDialogs {

namespace {
struct State
{
    bool testMode = false;
    QQueue<QString> answers;
    QList<Asked> asked;
};
State& state()
{
    static State s;
    return s;
}
} // namespace

QString saveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                     const QStringList& filters, QString* selectedFilter)
{
    State& s = state();
    s.asked.append({caption, suggested, filters});
    if (s.testMode) {
        const QString answer = s.answers.isEmpty() ? QString() : s.answers.dequeue();
        if (selectedFilter)
            *selectedFilter = filters.value(0);
        return answer;
    }
    QString chosen = filters.value(0);
    const QString path =
        QFileDialog::getSaveFileName(parent ? parent : QApplication::activeWindow(), caption,
                                     suggested, filters.join(QLatin1String(";;")), &chosen);
    if (selectedFilter)
        *selectedFilter = chosen;
    return path;
}

QString openFileName(QWidget* parent, const QString& caption, const QString& folder,
                     const QStringList& filters)
{
    State& s = state();
    s.asked.append({caption, folder, filters});
    if (s.testMode)
        return s.answers.isEmpty() ? QString() : s.answers.dequeue();
    return QFileDialog::getOpenFileName(parent ? parent : QApplication::activeWindow(), caption,
                                        folder, filters.join(QLatin1String(";;")));
}

void setTestMode(bool on)
{
    state().testMode = on;
}

void queueAnswer(const QString& path)
{
    state().answers.enqueue(path);
}

const QList<Asked>& asked()
{
    return state().asked;
}

void clear()
{
    state().answers.clear();
    state().asked.clear();
}

} // namespace vok::FileDialogs
