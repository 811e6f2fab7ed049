#ifndef PGCLUSTER_H
#define PGCLUSTER_H

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A throwaway PostgreSQL cluster in a temporary directory, listening on a
// loopback port, torn down by the destructor. The server refuses to run as
// root, so under root it runs as the "postgres" user the Debian package
// makes (through runuser); otherwise as the user running the test.
class PgCluster
{
public:
    PgCluster();
    ~PgCluster();
    PgCluster(const PgCluster &) = delete;
    PgCluster &operator=(const PgCluster &) = delete;

    // Where initdb and pg_ctl are; empty when the server is not installed.
    static QString binDirectory();

    // initdb and start; false with the reason.
    bool start(QString *why);
    bool stop();
    // Starts it again on the same port after stop().
    bool restart(QString *why);
    QString connectionString() const;
    // Runs SQL through psql; false with its output in *output.
    bool sql(const QString &statement, QString *output = nullptr) const;

private:
    // Whether this process has the rights the server refuses to run with.
    static bool runsAsRoot();
    bool run(const QString &program, const QStringList &arguments, QString *output, int timeoutMs = 60000) const;

    QTemporaryDir dir;
    quint16 port = 0;
    bool running = false;
};

#endif // PGCLUSTER_H
