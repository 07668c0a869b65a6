#pragma once

#include <QString>
#include <QStringList>

namespace vok {

// Labels of devices written to a PDF file without a window
// (vok --labels CODE… --pdf FILE [--layout a4|label]): each code with its
// name from the department's catalogue.
struct LabelRequest
{
    QStringList codes;
    QString pdfFile;
    QString layout = QStringLiteral("a4");
    QString department = QStringLiteral("部门A");
    // The position of the first label on an A4 sheet, from 1.
    int firstPosition = 1;
};

// Writes the labels. A request that cannot be served (no code, a code the
// catalogue does not hold, an unknown layout or department) is thrown as a
// refusal; a failure of the database or the file leaves no file.
void writeLabels(const LabelRequest& request);

} // namespace vok
