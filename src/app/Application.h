#pragma once

namespace vok {

// Parses the command line, sets up the application and runs it.
//   --data-dir DIR   folder of the embedded department databases
//   --init           create the five department databases and exit
int runApplication(int argc, char** argv);

} // namespace vok
