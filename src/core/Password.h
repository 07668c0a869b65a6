#pragma once

#include <QString>

namespace vok {

// Account passwords. The program stores an Argon2id hash (libsodium's
// crypto_pwhash_str format); rows written by older versions may still hold
// the password as plain text, and those keep working.
namespace Password {

// The stored form of a new password. Throws DbError when the
// hash cannot be made (out of memory).
QString hash(const QString& password);

// True when the stored text is a hash this module wrote.
bool isHash(const QString& stored);

// True when the typed password matches the stored text: a hash is verified,
// any other stored text is compared as plain text.
bool verify(const QString& stored, const QString& typed);

// Tests only: use libsodium's minimum cost so that hashing is quick.
// Production always uses the interactive limits.
void useMinimumCostForTests(bool on);

} // namespace Password

} // namespace vok
