#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QWidget;

namespace vok {

// Every file dialog of the program goes through here. In test mode no
// dialog is shown: answers come from a queue set in advance (an empty
// answer, or none queued, is a cancelled dialog) and every question asked
// is recorded.
namespace FileDialogs {

struct Asked
{
    QString caption;
    QString suggested; // the path the dialog started with
    QStringList filters;
};

// Asks for a file to save into, starting at the suggested path; filters
// such as "Excel 工作簿 (*.xlsx)". Returns the chosen path, or an empty
// text when the user cancels. selectedFilter, when given, is set to the
// filter the user chose.
QString saveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                     const QStringList& filters, QString* selectedFilter = nullptr);

// Asks for an existing file to open, starting in the folder given.
QString openFileName(QWidget* parent, const QString& caption, const QString& folder,
                     const QStringList& filters);

// Test hooks.
void setTestMode(bool on);
void queueAnswer(const QString& path);
const QList<Asked>& asked();
void clear();

} // namespace FileDialogs

} // namespace vok
