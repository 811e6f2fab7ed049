#include "lumariinstance.h"

#include "velmoraconf.h"

#include <QCoreApplication>
#include <QDate>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QThread>

#include <csignal>

#include <unistd.h>

LumariInstance::LumariInstance()
{
    if (!dir.isValid())
        return;
    const QString target = dir.filePath(QStringLiteral("Lumari"));
    copied = QFile::copy(QStringLiteral(LUMARI_BINARY), target)
        && QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    process.setProcessChannelMode(QProcess::MergedChannels);
}

LumariInstance::~LumariInstance()
{
    kill();
}

bool LumariInstance::writeConf(const SVelmoraConf &conf)
{
    const QString confDir = dir.filePath(QStringLiteral("conf"));
    return QDir().mkpath(confDir)
        && VelmoraCommon_WriteConf(&conf, confDir + QStringLiteral("/Lumari.conf")) == 1;
}

namespace {

void prepare(QProcess *process, const QString &directory)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(directory);
}

} // namespace

bool LumariInstance::startListening(const SVelmoraConf &conf, int timeoutMs)
{
    const QString listening = QStringLiteral("Server start listening");
    const int earlier = dayLog().count(listening);
    if (!isValid() || !writeConf(conf) || !start())
        return false;
    if (waitForLog(listening, timeoutMs, earlier + 1))
        return true;
    qWarning("Lumari did not start listening; day log:\n%s\noutput:\n%s",
             qPrintable(dayLog()), qPrintable(output()));
    return false;
}

bool LumariInstance::start()
{
    prepare(&process, dir.path());
    const QString program = dir.filePath(QStringLiteral("Lumari"));
    if (descriptorLimit > 0) {
        // prlimit sets the limit and becomes the program: one process.
        process.start(QStringLiteral("prlimit"),
                      {QStringLiteral("--nofile=%1:%1").arg(descriptorLimit), QStringLiteral("--"), program});
    } else {
        process.start(program, QStringList());
    }
    return process.waitForStarted(10000);
}

qint64 LumariInstance::cpuTimeMs() const
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(process.processId()));
    if (process.state() == QProcess::NotRunning || !stat.open(QIODevice::ReadOnly))
        return -1;
    // The fields after the command name, which is in parentheses and may
    // hold spaces: utime and stime are the 12th and 13th of them.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const long ticks = ::sysconf(_SC_CLK_TCK);
    return (fields.at(11).toLongLong() + fields.at(12).toLongLong()) * 1000 / (ticks > 0 ? ticks : 100);
}

qint64 LumariInstance::peakMemoryKiB() const
{
    QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
    if (process.state() == QProcess::NotRunning || !status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

void LumariInstance::sendSignal(int signalNumber)
{
    if (process.state() != QProcess::NotRunning)
        ::kill(static_cast<pid_t>(process.processId()), signalNumber);
}

int LumariInstance::runAnotherCopy(int timeoutMs, QString *output)
{
    QProcess copy;
    copy.setProcessChannelMode(QProcess::MergedChannels);
    prepare(&copy, dir.path());
    copy.start(dir.filePath(QStringLiteral("Lumari")), QStringList());
    const bool finished = copy.waitForStarted(10000) && copy.waitForFinished(timeoutMs);
    if (!finished) {
        copy.kill();
        copy.waitForFinished(10000);
    }
    *output = QString::fromLocal8Bit(copy.readAll());
    if (!finished)
        return -2;
    return copy.exitStatus() == QProcess::NormalExit ? copy.exitCode() : -3;
}

void LumariInstance::kill()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(10000);
}

QString LumariInstance::dayLog() const
{
    QFile file(dir.filePath(QStringLiteral("log/")
                            + QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))
                            + QStringLiteral("_Lumari.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool LumariInstance::waitForLog(const QString &text, int timeoutMs, int occurrences) const
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (dayLog().count(text) >= occurrences)
            return true;
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(20);
    }
}

QString LumariInstance::output()
{
    return QString::fromLocal8Bit(process.readAll());
}

quint16 LumariInstance::freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}
