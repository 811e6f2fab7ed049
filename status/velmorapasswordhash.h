#ifndef VELMORAPASSWORDHASH_H
#define VELMORAPASSWORDHASH_H

#include <QString>

// The status page's password as the configuration keeps it: never the
// password itself, but a salted PBKDF2-HMAC-SHA256 hash in the form
// "pbkdf2-sha256$ITERATIONS$SALT$HASH" (salt and hash in base64).
class VelmoraPasswordHash
{
public:
    static constexpr int kIterations = 100000;
    static constexpr int kSaltBytes = 16;
    static constexpr int kHashBytes = 32;

    static QString make(const QString &password);
    // Also false for a stored text that is not such a hash.
    static bool matches(const QString &password, const QString &stored);
    static bool isHash(const QString &stored);
};

#endif // VELMORAPASSWORDHASH_H
