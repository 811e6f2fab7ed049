#ifndef VELMORADEVICESUPERVISOR_H
#define VELMORADEVICESUPERVISOR_H

#include "svelmoradevicesnapshot.h"
#include "svelmoradevicestate.h"
#include "svelmoralogline.h"
#include "svelmoramsg.h"
#include "velmoradeviceadmission.h"
#include "velmoradevicelist.h"
#include "velmoradevicestatekeeper.h"
#include "velmorasupervisionschedule.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVector>

#include <atomic>
#include <functional>

class VelmoraClock;
class VelmoraDeviceListSource;
class VelmoraDeviceStore;
class VelmoraTimer;

// The known devices, in the network thread: which may report (the device
// list and what was learned of each), which are absent (supervision), and
// what of it must survive a restart (the device store). The receive pass
// asks it about every valid frame and tells it which devices were heard;
// its timer finds the devices that were not, and hands their E350 events
// over the way the pass hands over the devices' own.
class VelmoraDeviceSupervisor : public QObject
{
    Q_OBJECT

public:
    // Journals the events and hands them on; false when they could not be
    // journaled (they are made again later).
    using EventHandOver = std::function<bool(QVector<SVelmoraMsg> &events, QString *reason)>;

    static constexpr int kCheckIntervalMs = 1000;
    // The list file is looked at this often besides the watcher's word,
    // which does not come for a file replaced by a rename.
    static constexpr int kListPollMs = 2000;
    // A refused device is reported once in this time.
    static constexpr qint64 kRefusalReportMs = 3600 * 1000;
    // The time a device was last heard is kept to this step: it is only
    // shown (periods count from the start after a restart), and a write per
    // frame would cost more than the frame.
    static constexpr qint64 kHeardKeptStepMs = 60 * 1000;
    // Times heard handed to the store per check at most: the minute's
    // times of ten thousand devices are kept over ten seconds, not in one
    // pause of the network thread.
    static constexpr int kHeardKeptPerCheck = 1000;
    // Contact ID "communication trouble", new (E) and restore (R).
    static constexpr char kAbsenceEvent[] = "1350";
    static constexpr char kRestoreEvent[] = "3350";

    explicit VelmoraDeviceSupervisor(VelmoraClock &clock, QObject *parent = nullptr);
    ~VelmoraDeviceSupervisor() override;

    void setReporter(SVelmoraLogLine::Sink sink);
    // Set before configure(); null: nothing is kept across restarts.
    void setStore(VelmoraDeviceStore *store);
    void setListPath(const QString &path);
    void setEventHandOver(EventHandOver handOver);

    // Applies the settings and reads the list again. The first call also
    // reads the store and starts the checks.
    void configure(bool onlyListed, int defaultPeriodS);

    // While the receiver does not listen no device can be heard, so none
    // is found absent; when it listens again every period starts anew.
    void setListening(bool listening);

    // Whether a valid frame of the device may be served; logs a refusal
    // (once an hour per device) or a changed MAC.
    VelmoraDeviceAdmission::Decision admit(const QString &deviceId, const QString &presentedMac,
                                           const QString &peerAddress, quint16 peerPort);
    // Its absence was reported and its restore is due when it is heard.
    bool isAbsent(const QString &deviceId) const;
    // The devices were heard (their events, and restores, are journaled).
    void heard(const QVector<QString> &deviceIds);
    // Keeps durably what admit() and heard() learned that must not be lost
    // (a new device, a MAC, a restore), before the devices get their ACKs.
    bool commit();

    // Events made by the receiver for a device.
    SVelmoraMsg absenceEvent(const QString &deviceId, const QDateTime &at) const;
    SVelmoraMsg restoreEvent(const QString &deviceId, const QDateTime &at, const QString &peerAddress) const;

    QVector<SVelmoraKnownDevice> knownDevices() const;
    // Devices whose absence is reported, and devices refused lately; as of
    // the last check, readable from any thread.
    int absentCount() const { return publishedAbsent.load(); }
    int refusedCount() const { return publishedRefused.load(); }
    // What the checks have cost so far: their number and their time in
    // microseconds. Any thread.
    qint64 checksRun() const { return checkCount.load(); }
    qint64 checksMicroseconds() const { return checkTimeUs.load(); }
    int supervisedCount() const { return schedule.size(); }

    // The operator's word from the devices window.
    // The MAC the device was refused for becomes its learned one.
    void acceptPresentedMac(const QString &deviceId);
    // The device is no longer known, nor supervised.
    void forget(const QString &deviceId);
    // The list file changed; it is read again.
    void reloadList();

    // One round of the checks, as the timer runs it.
    void check();

private:
    // What the supervisor holds of one known device. A frame touches only
    // this: the schedule is brought up to the time heard when the device's
    // deadline comes up.
    struct KnownDevice
    {
        SVelmoraDeviceState state;
        // Its row in the list; -1 when it is not listed.
        int listRow = -1;
        // When it was last heard, on the monotonic clock; -1: not since the
        // start.
        qint64 heardMs = -1;
        // When its time heard was last handed to the store.
        qint64 heardKeptAt = 0;
    };

    struct Refusal
    {
        VelmoraDeviceAdmission::Decision decision;
        qint64 loggedAtMs = 0;
        bool logged = false;
    };

    bool supervises(const QString &deviceId) const;
    int periodOf(const QString &deviceId) const;
    KnownDevice &recordOf(const QString &deviceId);
    void reschedule();
    void pollList();
    void markChanged(const SVelmoraDeviceState &state, bool durable);
    void runCheck();
    void publishCounts();
    void report(const SVelmoraLogLine &line) const;

    VelmoraClock &clock;
    SVelmoraLogLine::Sink reporter;
    VelmoraDeviceStore *store = nullptr;
    EventHandOver handOver;
    VelmoraDeviceListSource *listSource = nullptr;
    VelmoraDeviceList::Parsed list;
    QHash<QString, int> listIndex;
    qint64 listPolledAtMs = 0;

    bool configured = false;
    bool listening = true;
    bool onlyListed = false;
    int defaultPeriodS = 0;
    QHash<QString, KnownDevice> known;
    // Of them, those whose absence is reported.
    int absentDevices = 0;
    QHash<QString, Refusal> refusals;
    VelmoraSupervisionSchedule schedule;
    VelmoraDeviceStateKeeper keeper;
    VelmoraTimer *checkTimer = nullptr;
    std::atomic<int> publishedAbsent{0};
    std::atomic<int> publishedRefused{0};
    std::atomic<qint64> checkCount{0};
    std::atomic<qint64> checkTimeUs{0};
};

#endif // VELMORADEVICESUPERVISOR_H
