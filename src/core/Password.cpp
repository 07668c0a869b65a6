#include "core/Password.h"

#include "db/DbError.h"

#include <sodium.h>

namespace vok {

namespace {

bool minimumCost = false;

void initSodium()
{
    static const bool ready = sodium_init() >= 0;
    if (!ready)
        throw DbError(DbError::Kind::Engine, QStringLiteral("无法初始化密码的散列（libsodium）。"));
}

} // namespace

QString Password::hash(const QString& password)
{
    initSodium();
    const QByteArray utf8 = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    const unsigned long long ops =
        minimumCost ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE;
    const size_t mem =
        minimumCost ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE;
    if (crypto_pwhash_str_alg(out, utf8.constData(), size_t(utf8.size()), ops, mem,
                              crypto_pwhash_ALG_ARGON2ID13) != 0)
        throw DbError(DbError::Kind::Engine, QStringLiteral("内存不足，无法计算密码的散列。"));
    return QString::fromLatin1(out);
}

bool Password::isHash(const QString& stored)
{
    return stored.startsWith(QLatin1String("$argon2id$")) ||
           stored.startsWith(QLatin1String("$argon2i$"));
}

bool Password::verify(const QString& stored, const QString& typed)
{
    if (!isHash(stored))
        return stored == typed;
    initSodium();
    const QByteArray h = stored.toLatin1();
    const QByteArray utf8 = typed.toUtf8();
    return crypto_pwhash_str_verify(h.constData(), utf8.constData(), size_t(utf8.size())) == 0;
}

void Password::useMinimumCostForTests(bool on)
{
    minimumCost = on;
}

} // namespace vok
