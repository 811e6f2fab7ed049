#ifndef VELMORAPGCONNECTION_H
#define VELMORAPGCONNECTION_H

#include <QByteArray>
#include <QString>
#include <QVector>

struct pg_conn;

// One connection to PostgreSQL through libpq, opened when first needed and
// again after it was lost. Every statement is given a deadline: the call
// returns by then, answered or not, so that no caller waits on a server
// that has gone silent longer than it may. A statement that misses its
// deadline drops the connection (the next call opens a new one); whether
// the server still carried it out cannot be known.
//
// Not safe from several threads at once: each thread that talks to the
// database has a connection of its own.
class VelmoraPgConnection
{
public:
    struct Result
    {
        bool ok = false;
        // Each row's fields in libpq's text form; a NULL is a null QByteArray.
        QVector<QVector<QByteArray>> rows;
        // libpq's or the server's reason when not ok.
        QString error;
    };

    explicit VelmoraPgConnection(const QString &connectionString);
    ~VelmoraPgConnection();
    VelmoraPgConnection(const VelmoraPgConnection &) = delete;
    VelmoraPgConnection &operator=(const VelmoraPgConnection &) = delete;

    // Checks the connection string without connecting; false with the reason.
    static bool checkConnectionString(const QString &connectionString, QString *error);

    // Opens the connection unless it is open; false with errorString().
    bool open();
    bool isOpen() const;
    void close();
    // Closes an idle connection the server has ended meanwhile (a restart
    // of the server, an administrator), so that the next statement opens a
    // new one instead of failing on it. Reads what the server sent without
    // waiting. A connection whose loss must count as a failure (the
    // lease's) does not call it.
    void closeIfEndedByServer();
    QString errorString() const { return lastError; }

    // Runs one statement with $1… parameters in text form (a null
    // QByteArray is NULL), returning within timeoutMs.
    Result exec(const char *sql, const QVector<QByteArray> &params, qint64 timeoutMs);
    // Several statements without parameters, in one round trip.
    Result execScript(const char *sql, qint64 timeoutMs);

    // A bytea parameter or field in libpq's text form, and back.
    static QByteArray byteaText(const QByteArray &bytes);
    static QByteArray fromByteaText(const QByteArray &text);
    // A text[] or bigint[] parameter in PostgreSQL's array form.
    static QByteArray arrayText(const QVector<QByteArray> &elements);

private:
    Result waitForResult(qint64 deadlineMs);
    void fail(Result &result, const QString &reason);

    QByteArray conninfo;
    pg_conn *connection = nullptr;
    QString lastError;
};

#endif // VELMORAPGCONNECTION_H
