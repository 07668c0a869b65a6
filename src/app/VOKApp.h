#pragma once

namespace vok {

// The application object: the first-run administrator, the automation
// object, then the main window until it closes.
class CVOKApp
{
public:
    // Runs the program on the QApplication already made; returns the exit code.
    int run();
};

} // namespace vok
