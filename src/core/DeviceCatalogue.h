#pragma once

#include "db/Connection.h"

#include <QStringList>
#include <utility>
#include <vector>

namespace vok {

// The device code catalogue (DEVICE_CODE): a code names one device, so a
// code is never blank and never held twice. A database of an earlier
// version may hold duplicates; they are listed as they are.

// A code as it is checked and stored: blanks around it are no part of it
// (" F7001 " is F7001). Every code typed or imported for a new row goes
// through it; a code that only finds rows is taken as it is.
QString codeAsStored(const QString& typed);

// The catalogue's device codes, sorted as a sorted combo box lists them:
// case folded first, then by character. Throws DbError.
QStringList catalogueCodes(Connection& connection);
// Each code once, in code order, with the first of its names.
std::vector<std::pair<QString, QString>> catalogueNames(Connection& connection);
// The name of a code; empty when the catalogue has none.
QString deviceName(Connection& connection, const QString& code);
// Whether the catalogue holds the code.
bool inCatalogue(Connection& connection, const QString& code);

// The texts of a blank code and of a code the catalogue has.
QString blankCodeText();
QString codeInCatalogueText(const QString& code);
// Why a code cannot be added (empty: it can), named in the text; the code
// is taken as stored.
QString codeToAddProblem(Connection& connection, const QString& code);
// Why a code cannot be renamed (empty: it can).
QString codeToRenameProblem(const QString& code);

// The changes, each refused with DbError for a read-only class and for a
// code with a problem (then nothing is written). A code added is stored as
// codeAsStored() gives it.
void addDeviceCode(Connection& connection, int classNumber, const QString& code,
                   const QString& name);
void renameDeviceCode(Connection& connection, int classNumber, const QString& code,
                      const QString& name);
void deleteDeviceCode(Connection& connection, int classNumber, const QString& code);

} // namespace vok
