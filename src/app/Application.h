#pragma once

class QCoreApplication;

namespace vok {

// Loads Qt's own Chinese translations, so that standard buttons read 确定,
// 取消.
void loadTranslations(QCoreApplication& app);

// Parses the command line, sets up the application and runs it.
//   --data-dir DIR   folder of the embedded department databases
//   --init           create the five department databases and exit
//   --add-user NAME --class C --department 部门A
//                    write one account (password from standard input), exit
//   --backup [--backup-dir DIR]
//                    take one backup generation, exit 0 or non-zero with why
//   --version, --help  print the version or the options (Chinese and English)
int runApplication(int argc, char** argv);

} // namespace vok
