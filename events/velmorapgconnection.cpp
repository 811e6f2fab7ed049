#include "velmorapgconnection.h"

#include <QCoreApplication>

#include <libpq-fe.h>

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <vector>

namespace {

// A connection string without a connect_timeout of its own waits this many
// seconds per host: a standby asks again soon anyway.
const char kDefaultConnectTimeout[] = "3";

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString trimmedMessage(const char *message)
{
    return QString::fromUtf8(message).trimmed();
}

} // namespace

VelmoraPgConnection::VelmoraPgConnection(const QString &connectionString) : conninfo(connectionString.toUtf8())
{
}

VelmoraPgConnection::~VelmoraPgConnection()
{
    close();
}

bool VelmoraPgConnection::checkConnectionString(const QString &connectionString, QString *error)
{
    char *message = nullptr;
    PQconninfoOption *options = PQconninfoParse(connectionString.toUtf8().constData(), &message);
    if (options) {
        PQconninfoFree(options);
        return true;
    }
    *error = message ? trimmedMessage(message) : QStringLiteral("out of memory");
    PQfreemem(message);
    return false;
}

bool VelmoraPgConnection::open()
{
    if (isOpen())
        return true;
    close();
    // The connection string comes last so that what it says overrides the
    // time-out given here.
    // Sessions are named after the process, so that an administrator (or a
    // test) can tell the instances' sessions apart in pg_stat_activity.
    const QByteArray applicationName = "lumari " + QByteArray::number(QCoreApplication::applicationPid());
    const char *keywords[] = {"connect_timeout", "fallback_application_name", "dbname", nullptr};
    const char *values[] = {kDefaultConnectTimeout, applicationName.constData(), conninfo.constData(), nullptr};
    connection = PQconnectdbParams(keywords, values, 1);
    if (connection && PQstatus(connection) == CONNECTION_OK) {
        // The server's notices ("already exists, skipping" at every start)
        // would go to standard error; they say nothing an operator needs.
        PQsetNoticeProcessor(connection, [](void *, const char *) {}, nullptr);
        lastError.clear();
        return true;
    }
    lastError = connection ? trimmedMessage(PQerrorMessage(connection)) : QStringLiteral("out of memory");
    close();
    return false;
}

bool VelmoraPgConnection::isOpen() const
{
    return connection && PQstatus(connection) == CONNECTION_OK;
}

void VelmoraPgConnection::close()
{
    if (connection)
        PQfinish(connection);
    connection = nullptr;
}

void VelmoraPgConnection::closeIfEndedByServer()
{
    // The server's farewell, then the end of the stream: a few reads at
    // most, each only of what has arrived already.
    for (int read = 0; connection && read < 4; ++read) {
        pollfd descriptor{PQsocket(connection), POLLIN, 0};
        if (poll(&descriptor, 1, 0) <= 0)
            return;
        if (!PQconsumeInput(connection) || PQstatus(connection) != CONNECTION_OK) {
            close();
            return;
        }
    }
}

VelmoraPgConnection::Result VelmoraPgConnection::exec(const char *sql, const QVector<QByteArray> &params,
                                                      qint64 timeoutMs)
{
    const qint64 deadline = steadyMs() + timeoutMs;
    Result result;
    if (!open()) {
        result.error = lastError;
        return result;
    }
    std::vector<const char *> values;
    values.reserve(static_cast<size_t>(params.size()));
    for (const QByteArray &param : params)
        values.push_back(param.isNull() ? nullptr : param.constData());
    if (!PQsendQueryParams(connection, sql, params.size(), nullptr, values.data(), nullptr, nullptr, 0)) {
        fail(result, trimmedMessage(PQerrorMessage(connection)));
        return result;
    }
    return waitForResult(deadline);
}

VelmoraPgConnection::Result VelmoraPgConnection::execScript(const char *sql, qint64 timeoutMs)
{
    const qint64 deadline = steadyMs() + timeoutMs;
    Result result;
    if (!open()) {
        result.error = lastError;
        return result;
    }
    if (!PQsendQuery(connection, sql)) {
        fail(result, trimmedMessage(PQerrorMessage(connection)));
        return result;
    }
    return waitForResult(deadline);
}

VelmoraPgConnection::Result VelmoraPgConnection::waitForResult(qint64 deadlineMs)
{
    Result result;
    result.ok = true;
    const int socket = PQsocket(connection);
    // Sends what libpq could not write at once, then waits for the whole
    // answer, each wait bounded by the deadline.
    for (;;) {
        const int flushed = PQflush(connection);
        if (flushed < 0) {
            fail(result, trimmedMessage(PQerrorMessage(connection)));
            return result;
        }
        if (flushed == 0 && !PQisBusy(connection)) {
            PGresult *answer = PQgetResult(connection);
            if (!answer)
                break;
            const ExecStatusType status = PQresultStatus(answer);
            if (status == PGRES_TUPLES_OK) {
                result.rows.clear();
                const int rowCount = PQntuples(answer);
                const int fieldCount = PQnfields(answer);
                result.rows.reserve(rowCount);
                for (int row = 0; row < rowCount; ++row) {
                    QVector<QByteArray> fields;
                    fields.reserve(fieldCount);
                    for (int field = 0; field < fieldCount; ++field) {
                        fields.append(PQgetisnull(answer, row, field)
                                          ? QByteArray()
                                          : QByteArray(PQgetvalue(answer, row, field),
                                                       PQgetlength(answer, row, field)));
                    }
                    result.rows.append(fields);
                }
            } else if (status != PGRES_COMMAND_OK && result.ok) {
                result.ok = false;
                result.error = trimmedMessage(PQresultErrorMessage(answer));
            }
            PQclear(answer);
            continue;
        }
        const qint64 left = deadlineMs - steadyMs();
        if (left <= 0) {
            fail(result, QStringLiteral("no answer from the database within the time allowed"));
            return result;
        }
        pollfd descriptor{socket, short(flushed == 1 ? POLLIN | POLLOUT : POLLIN), 0};
        const int ready = poll(&descriptor, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) {
            fail(result, QStringLiteral("cannot wait for the database"));
            return result;
        }
        if (ready > 0 && (descriptor.revents & (POLLIN | POLLHUP | POLLERR)) && !PQconsumeInput(connection)) {
            fail(result, trimmedMessage(PQerrorMessage(connection)));
            return result;
        }
    }
    if (PQstatus(connection) != CONNECTION_OK) {
        fail(result, trimmedMessage(PQerrorMessage(connection)));
        return result;
    }
    if (!result.ok)
        lastError = result.error;
    return result;
}

void VelmoraPgConnection::fail(Result &result, const QString &reason)
{
    result.ok = false;
    result.rows.clear();
    result.error = reason.isEmpty() ? QStringLiteral("the connection to the database was lost") : reason;
    lastError = result.error;
    // A statement left half-way makes the connection useless; the next call
    // opens a new one.
    close();
}

QByteArray VelmoraPgConnection::byteaText(const QByteArray &bytes)
{
    return QByteArrayLiteral("\\x") + bytes.toHex();
}

QByteArray VelmoraPgConnection::fromByteaText(const QByteArray &text)
{
    return text.startsWith("\\x") ? QByteArray::fromHex(text.mid(2)) : QByteArray();
}

QByteArray VelmoraPgConnection::arrayText(const QVector<QByteArray> &elements)
{
    QByteArray text = "{";
    for (int index = 0; index < elements.size(); ++index) {
        if (index > 0)
            text += ',';
        text += '"';
        for (const char byte : elements.at(index)) {
            if (byte == '"' || byte == '\\')
                text += '\\';
            text += byte;
        }
        text += '"';
    }
    text += '}';
    return text;
}
