#ifndef LUMARIINSTANCE_H
#define LUMARIINSTANCE_H

#include "svelmoraconf.h"

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The real Lumari program copied into a temporary application directory with
// its own conf/, started on the offscreen platform.
class LumariInstance
{
public:
    LumariInstance();
    ~LumariInstance();

    bool isValid() const { return dir.isValid() && copied; }
    QString appDir() const { return dir.path(); }

    // Writes conf/Lumari.conf from the record.
    bool writeConf(const SVelmoraConf &conf);
    bool start();
    // From the next start on, the program runs with this limit (soft and
    // hard) on open descriptors; 0 leaves the limit as it is.
    void setDescriptorLimit(int limit) { descriptorLimit = limit; }
    // Processor time the running program has used so far, in ms; -1 when
    // it cannot be read.
    qint64 cpuTimeMs() const;
    // Writes the configuration, starts the program and waits until its
    // receiver listens (a restart in the same directory counts only the new
    // listening line); tells why when it does not.
    bool startListening(const SVelmoraConf &conf, int timeoutMs);
    // Ends the program the hard way, as a crash or a power cut would.
    void kill();
    QProcess::ProcessState state() const { return process.state(); }
    bool waitForExit(int timeoutMs) { return process.waitForFinished(timeoutMs); }
    QProcess::ExitStatus exitStatus() const { return process.exitStatus(); }
    int exitCode() const { return process.exitCode(); }
    qint64 pid() const { return process.processId(); }
    void sendSignal(int signalNumber);
    // Runs one more copy of the program in the same directory to its end;
    // its exit code, or -2 when it is still running after timeoutMs.
    int runAnotherCopy(int timeoutMs, QString *output);

    QString dayLog() const;
    // Waits until the day log holds text (counting from the start of the file).
    bool waitForLog(const QString &text, int timeoutMs, int occurrences = 1) const;
    QString output();
    // The most memory the running program has held so far (VmHWM), in KiB;
    // -1 when it cannot be read.
    qint64 peakMemoryKiB() const;

    static quint16 freePort();

private:
    QTemporaryDir dir;
    bool copied = false;
    QProcess process;
    int descriptorLimit = 0;
};

#endif // LUMARIINSTANCE_H
