#ifndef SVELMORACONF_H
#define SVELMORACONF_H

#include <QString>

// The process-wide configuration. The serial indices are positions in the
// lists of the settings panel, not line values (see serialindexmaps.h).
struct SVelmoraConf
{
    qint32 tcpPort = 55555;
    QString comName = QStringLiteral("COM1");
    qint32 baudRateIndex = 7;
    qint32 dataBitsIndex = 1;
    qint32 parityIndex = 0;
    qint32 stopBitsIndex = 0;
    QString server = QStringLiteral("01");
    QString line = QStringLiteral("1");
    qint32 keepAlive = 60;
    // The event's time is appended to its line (1) or not (0); the serial
    // worker is handed it with its other settings.
    qint32 useTime = 0;

    // Settings beyond the ten, each an optional element of the file that is
    // written only when it differs from its default.

    // Day logs whose day is more than this many days past are deleted; 0
    // keeps them all. The log housekeeping thread is handed it.
    qint32 logDays = 0;
    // Ten years; anything longer is kept for ever anyway.
    static constexpr qint32 kMaxLogDays = 3650;
    // Optional elements, written only when set. The status endpoint's
    // "ADDRESS:PORT" (empty: off) and its password as a salted hash.
    QString httpAddress;
    QString httpPasswordHash;

    // The supervision period in seconds of every known device whose row in
    // the device list gives none; 0: devices are not supervised. Periods
    // under kMinSupervisionS are taken from the file for testing only.
    qint32 supervisionS = 0;
    static constexpr qint32 kMinSupervisionS = 30;
    // A week: devices that test once a day need more than a day.
    static constexpr qint32 kMaxSupervisionS = 604800;
    // Which devices may report: any (kDevicesAll, each new one becomes
    // known) or only those in the device list (kDevicesListed).
    QString devices = QString::fromLatin1(kDevicesAll);
    static constexpr char kDevicesAll[] = "all";
    static constexpr char kDevicesListed[] = "listed";
    bool onlyListedDevices() const { return devices == QLatin1String(kDevicesListed); }
    // How long (ms) an event line and a keepalive wait for the monitoring
    // software's answer after each write; the default is the wait the
    // converter has always had.
    qint32 comAckWaitMs = 750;
    static constexpr qint32 kMinComAckWaitMs = 750;
    static constexpr qint32 kMaxComAckWaitMs = 9900;
    // A second output, named as the COM field names one (empty: none): it
    // takes the events while the first does not answer.
    QString comFallback;
    // Optional, written only when set: a libpq connection string for the
    // event journal in PostgreSQL; empty keeps the journal in spool/.
    QString journal;
};

#endif // SVELMORACONF_H
