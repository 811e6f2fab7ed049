#include "velmorajournalrole.h"

#include "svelmoralogline.h"
#include "velmoracom.h"
#include "velmoraeventstore.h"
#include "velmorapgdevicestore.h"
#include "velmoraprogram.h"
#include "velmorasharedjournal.h"

#include <QCoreApplication>
#include <QDir>
#include <QSysInfo>

namespace {

// The start-up texts were first the window's, and are translated there.
const char kTranslationContext[] = "Velmora";

} // namespace

VelmoraJournalRole::VelmoraJournalRole(VelmoraClock &clockToUse, Report reportTo, Warn warnTo, QObject *parent)
    : QObject(parent), clock(clockToUse), report(std::move(reportTo)), warn(std::move(warnTo))
{
}

VelmoraJournalRole::~VelmoraJournalRole() = default;

int VelmoraJournalRole::open(const QString &connectionString, const QString &applicationDirectory)
{
    connection = connectionString;
    sharedJournal = new VelmoraSharedJournal(clock);
    const QString owner = QStringLiteral("%1:%2:%3")
                              .arg(QSysInfo::machineHostName())
                              .arg(QCoreApplication::applicationPid())
                              .arg(QDir::toNativeSeparators(applicationDirectory));
    if (!sharedJournal->start(connectionString, owner)) {
        const char *text = QT_TRANSLATE_NOOP("Velmora", "[%1] Can not use the event journal in PostgreSQL: %2.");
        report(text, true, {sharedJournal->errorString()});
        warn(SVelmoraLogLine::fill(QCoreApplication::translate(kTranslationContext, text),
                                   {VelmoraProgram::name(), sharedJournal->errorString()}),
             false);
        return -1;
    }
    standby = true;
    connect(sharedJournal, &VelmoraSharedJournal::activeSignal, this, &VelmoraJournalRole::becomeActive);
    connect(sharedJournal, &VelmoraSharedJournal::standbySignal, this, &VelmoraJournalRole::becomeStandby);
    connect(sharedJournal, &VelmoraSharedJournal::databaseSignal, this, &VelmoraJournalRole::reportDatabase);
    report(QT_TRANSLATE_NOOP("Velmora", "[%1] Standby: waiting for the lease of the event journal in PostgreSQL."),
           false, {});
    emit standbyChangedSignal(true);
    return 1;
}

VelmoraEventStore *VelmoraJournalRole::eventStore() const
{
    return sharedJournal ? sharedJournal->store() : nullptr;
}

std::unique_ptr<VelmoraDeviceStore> VelmoraJournalRole::makeDeviceStore() const
{
    return std::make_unique<VelmoraPgDeviceStore>(connection, *sharedJournal);
}

std::function<bool()> VelmoraJournalRole::outputGate() const
{
    VelmoraSharedJournal *shared = sharedJournal;
    return [shared] { return shared->holdsLease(); };
}

void VelmoraJournalRole::becomeActive(int sentBefore)
{
    standby = false;
    emit standbyChangedSignal(false);
    report(QT_TRANSLATE_NOOP("Velmora", "[%1] Active: this instance holds the journal's lease; events to send: %2."),
           false, {QString::number(sharedJournal->store()->pendingCount())});
    if (sentBefore > 0) {
        report(QT_TRANSLATE_NOOP("Velmora", "[%1] %2 of them had been sent before the takeover and may reach the "
                                            "monitoring software twice."),
               true, {QString::number(sentBefore)});
    }
    // Queued ahead of the start request, so the port opens on the events
    // the store holds now.
    QMetaObject::invokeMethod(serialWorker, &VelmoraCom::reloadHeldSlot, Qt::QueuedConnection);
    emit activeSignal();
}

void VelmoraJournalRole::becomeStandby(const QString &reason)
{
    // The store and the line's gate refuse already; this closes the rest.
    standby = true;
    emit standbySignal();
    QMetaObject::invokeMethod(serialWorker, &VelmoraCom::dropHeldSlot, Qt::QueuedConnection);
    emit standbyChangedSignal(true);
    report(QT_TRANSLATE_NOOP("Velmora", "[%1] Standby: %2. Devices are disconnected and the line is closed until "
                                        "this instance holds the lease again."),
           true, {reason});
}

void VelmoraJournalRole::reportDatabase(bool lost, const QString &reason)
{
    if (lost) {
        report(QT_TRANSLATE_NOOP("Velmora", "[%1] The journal's database does not answer: %2. Devices get no ACK "
                                            "until it does."),
               true, {reason});
    } else {
        report(QT_TRANSLATE_NOOP("Velmora", "[%1] The journal's database answers again."), false, {});
    }
}
