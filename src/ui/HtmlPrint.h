#pragma once

#include <QString>

class QWidget;

namespace vok {

// Prints an HTML page (a slip) on a printer the user chooses through the
// print service; false when the choice was cancelled.
bool printHtml(const QString& html, QWidget* parent);

} // namespace vok
