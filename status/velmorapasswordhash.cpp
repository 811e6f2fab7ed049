#include "velmorapasswordhash.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QStringList>

namespace {

const char kScheme[] = "pbkdf2-sha256";
// A stored text naming more rounds than this is not ours: checking it would
// hold a request's thread for minutes.
const int kMaxIterations = 10000000;

QByteArray derive(const QString &password, const QByteArray &salt, int iterations)
{
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(), salt, iterations,
                                              VelmoraPasswordHash::kHashBytes);
}

struct Parsed
{
    int iterations = 0;
    QByteArray salt;
    QByteArray hash;
};

bool parse(const QString &stored, Parsed *parsed)
{
    const QStringList parts = stored.split(QLatin1Char('$'));
    if (parts.size() != 4 || parts.at(0) != QLatin1String(kScheme))
        return false;
    bool converted = false;
    parsed->iterations = parts.at(1).toInt(&converted);
    parsed->salt = QByteArray::fromBase64(parts.at(2).toLatin1());
    parsed->hash = QByteArray::fromBase64(parts.at(3).toLatin1());
    return converted && parsed->iterations > 0 && parsed->iterations <= kMaxIterations && !parsed->salt.isEmpty()
        && parsed->hash.size() == VelmoraPasswordHash::kHashBytes;
}

} // namespace

QString VelmoraPasswordHash::make(const QString &password)
{
    QByteArray salt(kSaltBytes, '\0');
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(salt.data()), kSaltBytes / 4);
    return QStringLiteral("%1$%2$%3$%4")
        .arg(QLatin1String(kScheme), QString::number(kIterations), QString::fromLatin1(salt.toBase64()),
             QString::fromLatin1(derive(password, salt, kIterations).toBase64()));
}

bool VelmoraPasswordHash::matches(const QString &password, const QString &stored)
{
    Parsed parsed;
    if (!parse(stored, &parsed))
        return false;
    const QByteArray derived = derive(password, parsed.salt, parsed.iterations);
    // Every byte compared, so the time taken tells nothing of where they differ.
    unsigned char difference = 0;
    for (int index = 0; index < derived.size(); ++index)
        difference |= static_cast<unsigned char>(derived.at(index) ^ parsed.hash.at(index));
    return difference == 0;
}

bool VelmoraPasswordHash::isHash(const QString &stored)
{
    Parsed parsed;
    return parse(stored, &parsed);
}
