#include "pgcluster.h"

#include <QDir>
#include <QProcess>
#include <QTcpServer>


namespace {

const char kServerUser[] = "postgres";
const char kDatabaseUser[] = "lumari";

quint16 freeLoopbackPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

} // namespace

PgCluster::PgCluster() = default;

PgCluster::~PgCluster()
{
    stop();
}

bool PgCluster::run(const QString &program, const QStringList &arguments, QString *output, int timeoutMs) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(dir.path());
    if (runsAsRoot())
        process.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), QLatin1String(kServerUser),
                                                             QStringLiteral("--"), program} + arguments);
    else
        process.start(program, arguments);
    const bool finished = process.waitForFinished(timeoutMs);
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool PgCluster::start(QString *why)
{
    const QString bin = binDirectory();
    if (bin.isEmpty()) {
        *why = QStringLiteral("the PostgreSQL server binaries are not installed (/usr/lib/postgresql/*/bin)");
        return false;
    }
    if (!dir.isValid()) {
        *why = QStringLiteral("no temporary directory");
        return false;
    }
    if (runsAsRoot()) {
        QString output;
        QProcess::execute(QStringLiteral("chown"), {QLatin1String(kServerUser), dir.path()});
    }
    QString output;
    if (!run(bin + QStringLiteral("/initdb"),
             {QStringLiteral("-D"), dir.filePath(QStringLiteral("data")), QStringLiteral("-U"),
              QLatin1String(kDatabaseUser), QStringLiteral("--auth=trust"), QStringLiteral("-E"),
              QStringLiteral("UTF8"), QStringLiteral("--no-sync")},
             &output)) {
        *why = QStringLiteral("initdb failed: ") + output;
        return false;
    }
    port = freeLoopbackPort();
    return restart(why);
}

bool PgCluster::restart(QString *why)
{
    QString output;
    const QString options = QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off")
                                .arg(port)
                                .arg(dir.path());
    if (!run(binDirectory() + QStringLiteral("/pg_ctl"),
             {QStringLiteral("-D"), dir.filePath(QStringLiteral("data")), QStringLiteral("-o"), options,
              QStringLiteral("-l"), dir.filePath(QStringLiteral("server.log")), QStringLiteral("-w"),
              QStringLiteral("start")},
             &output)) {
        *why = QStringLiteral("pg_ctl start failed: ") + output;
        return false;
    }
    running = true;
    return true;
}

bool PgCluster::stop()
{
    if (!running)
        return true;
    running = false;
    return run(binDirectory() + QStringLiteral("/pg_ctl"),
               {QStringLiteral("-D"), dir.filePath(QStringLiteral("data")), QStringLiteral("-m"),
                QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")},
               nullptr);
}

QString PgCluster::connectionString() const
{
    return QStringLiteral("host=127.0.0.1 port=%1 user=%2 dbname=postgres").arg(port).arg(QLatin1String(kDatabaseUser));
}

bool PgCluster::sql(const QString &statement, QString *output) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("psql"), {QStringLiteral("-XAtq"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                                           connectionString(), QStringLiteral("-c"), statement});
    const bool finished = process.waitForFinished(30000);
    if (output)
        *output = QString::fromLocal8Bit(process.readAll()).trimmed();
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}
