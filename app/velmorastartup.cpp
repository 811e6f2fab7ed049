#include "velmorastartup.h"

#include "serialindexmaps.h"
#include "svelmoralinestate.h"
#include "svelmoralogline.h"
#include "svelmoramsg.h"
#include "velmora.h"
#include "velmoraapplicationfolder.h"
#include "velmoraclock.h"
#include "velmoracom.h"
#include "velmoracomthread.h"
#include "velmoraconf.h"
#include "velmoradevicestatefile.h"
#include "velmoraeventjournal.h"
#include "velmorajournaldamagenotice.h"
#include "velmorajournalrole.h"
#include "velmoralog.h"
#include "velmoraloghousekeeper.h"
#include "velmoranetworkserver.h"
#include "velmoranetworkthread.h"
#include "velmoraprogram.h"
#include "velmoraservicewatchdog.h"
#include "velmorastatusendpoint.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

namespace {

const char kOffscreenPlatform[] = "offscreen";
const char kListenAddress[] = "0.0.0.0";
const char kDeviceListFileName[] = "devices.csv";
// The start-up texts were first the window's, and are translated there.
const char kTranslationContext[] = "Velmora";

const int kStatusIntervalMs = 1000;

} // namespace

VelmoraStartup::VelmoraStartup(Velmora &mainWindow, VelmoraClock &programClock, QObject *parent)
    : QObject(parent)
    , window(mainWindow)
    , clock(programClock)
    , appDirectory(QCoreApplication::applicationDirPath())
    , startupBoxes(QGuiApplication::platformName() != QLatin1String(kOffscreenPlatform))
{
}

VelmoraStartup::~VelmoraStartup() = default;

void VelmoraStartup::setApplicationDirectory(const QString &directory)
{
    appDirectory = directory;
}

void VelmoraStartup::setStartupBoxesShown(bool shown)
{
    startupBoxes = shown;
}

int VelmoraStartup::run()
{
    registerVelmoraMsgType();
    window.setApplicationDirectory(appDirectory);

    folder = new VelmoraApplicationFolder(
        appDirectory,
        [this](const char *sourceText, bool isError, const QStringList &args) { report(sourceText, isError, args); },
        [this](const QString &text, bool alsoToDayLog) { showStartupWarning(text, alsoToDayLog); }, this);
    if (folder->openDayLog(clock) == -1)
        return -1;

    if (window.initGui() != 1) {
        VelmoraCommon_LogInfo(QStringLiteral("[%1] Can not init gui...").arg(VelmoraProgram::name()));
        return -1;
    }

    window.Put2Log(QStringLiteral("[%1] Запуск...").arg(VelmoraProgram::name()));
    VelmoraCommon_LogInfo(QStringLiteral("[%1] Starting...").arg(VelmoraProgram::name()));
    report(QT_TRANSLATE_NOOP("Velmora", "[%1] Initialization log file was successfull."), false);

    if (folder->lock() == -1 || folder->loadConfiguration() == -1)
        return -1;
    connect(folder->makeLogHousekeeper(), &VelmoraLogHousekeeper::logSignal, &window, &Velmora::Put2Log,
            Qt::QueuedConnection);
    folder->startLogHousekeeping();

    const QString sharedJournalConnection = VelmoraCommon_GetConf()->journal;
    if (sharedJournalConnection.isEmpty()) {
        journal = folder->openEventJournal();
        store = journal;
        reportJournalDamage();
    } else if (openSharedJournal(sharedJournalConnection) == -1) {
        return -1;
    }

    // The serial worker first: it holds the journal's pending events before
    // any new one arrives. Every connection is made before either worker
    // is asked to start.
    if (startComThread() == -1) {
        report(QT_TRANSLATE_NOOP("Velmora", "[%1] Can not create com thread..."), false);
        return -1;
    }
    if (startNetworkThread() == -1) {
        report(QT_TRANSLATE_NOOP("Velmora", "[%1] Can not create network thread..."), false);
        return -1;
    }
    wire();

    startServing();
    startStatusEndpoint();

    statusTimer = new QTimer(this);
    connect(statusTimer, &QTimer::timeout, this, &VelmoraStartup::showStatus);
    statusTimer->start(kStatusIntervalMs);

    // The offscreen platform has nobody to hear or see it: the log and the
    // metrics carry the failure there.
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        window.enableLineAlert(clock, [] { QApplication::beep(); });
    window.showMainWindow();
    return 1;
}

void VelmoraStartup::wire()
{
    VelmoraCom *com = comThread->worker();
    VelmoraNetworkServer *server = networkThread->worker();
    // The road of every event: each pass of the network thread hands its
    // events straight to the serial worker's thread, in one queued call.
    // The window is not on it, so a busy window delays no alarm and no
    // keepalive.
    connect(server, &VelmoraNetworkServer::msgsSignal, com, &VelmoraCom::msgsSlot, Qt::QueuedConnection);

    connect(this, &VelmoraStartup::networkStopSignal, server, &VelmoraNetworkServer::stopSlot, Qt::QueuedConnection);
    connect(this, &VelmoraStartup::networkStartSignal, server, &VelmoraNetworkServer::startSlot,
            Qt::QueuedConnection);
    connect(this, &VelmoraStartup::comStopSignal, com, &VelmoraCom::stopSlot, Qt::QueuedConnection);
    connect(this, &VelmoraStartup::comStartSignal, comThread, &VelmoraComThread::comStartSlot, Qt::QueuedConnection);

    connect(server, &VelmoraNetworkServer::logSignal, &window, &Velmora::Put2Log, Qt::QueuedConnection);
    connect(com, &VelmoraCom::logSignal, &window, &Velmora::Put2Log, Qt::QueuedConnection);
    connect(com, &VelmoraCom::lineStateSignal, &window, &Velmora::setLineState, Qt::QueuedConnection);
    connect(com, &VelmoraCom::lineStateSignal, this, [this](const SVelmoraLineState &state) {
        portClosedReason = state.kind == SVelmoraLineState::PortClosed ? state.reason : QString();
    }, Qt::QueuedConnection);

    connect(&window, &Velmora::heldRowsWantedSignal, this, [this](bool wanted) { setHeldRowsWanted(true, wanted); });
    connect(com, &VelmoraCom::heldRowsSignal, &window, &Velmora::heldRowsSlot, Qt::QueuedConnection);
    connect(&window, &Velmora::sendAgainSignal, com, &VelmoraCom::sendAgainSlot, Qt::QueuedConnection);
    connect(&window, &Velmora::releaseSignal, com, &VelmoraCom::releaseSlot, Qt::QueuedConnection);

    // The window asks, the network thread copies its records and sends the
    // copy back: the window never reads the live records.
    connect(&window, &Velmora::deviceSnapshotRequestSignal, server, &VelmoraNetworkServer::deviceSnapshotSlot,
            Qt::QueuedConnection);
    connect(server, &VelmoraNetworkServer::deviceSnapshotSignal, &window, &Velmora::deviceSnapshotSlot,
            Qt::QueuedConnection);
    connect(&window, &Velmora::acceptDeviceMacSignal, server, &VelmoraNetworkServer::acceptDeviceMacSlot,
            Qt::QueuedConnection);
    connect(&window, &Velmora::forgetDeviceSignal, server, &VelmoraNetworkServer::forgetDeviceSlot,
            Qt::QueuedConnection);

    if (journalRole)
        journalRole->setSerialWorker(com);
    connect(com, &VelmoraCom::stopSignal, this, &VelmoraStartup::comStopped, Qt::QueuedConnection);
    connect(com, &VelmoraCom::portReadySignal, this, &VelmoraStartup::comReady, Qt::QueuedConnection);
    connect(&window, &Velmora::settingsAppliedSignal, this, &VelmoraStartup::applySettings);
}

void VelmoraStartup::report(const char *sourceText, bool isError, const QStringList &args)
{
    const SVelmoraLogLine line =
        SVelmoraLogLine::make(kTranslationContext, sourceText, SVelmoraLogLine::Screen::Translated, sourceText,
                              isError ? kLogError : kLogInfo, QStringList(VelmoraProgram::name()) + args);
    window.Put2Log(line.screenText);
    line.writeToDayLog();
}

void VelmoraStartup::showStartupWarning(const QString &text, bool alsoToDayLog)
{
    if (startupBoxes) {
        QMessageBox::warning(&window, VelmoraProgram::warningTitle(), text, QMessageBox::Ok, QMessageBox::NoButton);
        return;
    }
    std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    std::fflush(stderr);
    if (alsoToDayLog)
        VelmoraCommon_LogError(QStringLiteral("[%1] ").arg(VelmoraProgram::name()) + text);
}

int VelmoraStartup::openSharedJournal(const QString &connectionString)
{
    journalRole = new VelmoraJournalRole(
        clock, [this](const char *sourceText, bool isError, const QStringList &args) { report(sourceText, isError, args); },
        [this](const QString &text, bool alsoToDayLog) { showStartupWarning(text, alsoToDayLog); }, this);
    connect(journalRole, &VelmoraJournalRole::standbyChangedSignal, &window, &Velmora::setStandby);
    connect(journalRole, &VelmoraJournalRole::activeSignal, this, [this] {
        receiverStoppedForPort = false;
        tellWhyNotListening();
        startServing();
    });
    connect(journalRole, &VelmoraJournalRole::standbySignal, this, [this] {
        emit networkStopSignal();
        tellWhyNotListening();
    });
    if (journalRole->open(connectionString, appDirectory) == -1)
        return -1;
    store = journalRole->eventStore();
    return 1;
}

bool VelmoraStartup::isStandby() const
{
    return journalRole && journalRole->isStandby();
}

void VelmoraStartup::startServing()
{
    if (isStandby())
        return;
    applyComSettings();
    // A standby neither hears devices nor reports them absent.
    configureDevices();
    listen();
}

int VelmoraStartup::startComThread()
{
    comThread = new VelmoraComThread(clock);
    comThread->setEventStore(store);
    if (journalRole)
        comThread->setOutputGate(journalRole->outputGate());
    comThread->startWorker();
    return comThread->worker() ? 1 : -1;
}

void VelmoraStartup::applyComSettings()
{
    const SVelmoraConf *conf = VelmoraCommon_GetConf();
    comThread->setPortName(conf->comName);
    comThread->setBaudRate(baudRateFromIndex(conf->baudRateIndex));
    comThread->setParity(checkThreeWayIndex(conf->parityIndex));
    comThread->setDataBits(dataBitsFromIndex(conf->dataBitsIndex));
    comThread->setStopBits(checkStopBitsIndex(conf->stopBitsIndex));
    comThread->setServer(conf->server);
    comThread->setLine(conf->line);
    comThread->setKeepAlive(conf->keepAlive);
    comThread->setUseTime(conf->useTime != 0);
    comThread->setAckWait(conf->comAckWaitMs);
    comThread->setFallbackName(conf->comFallback);
    emit comStartSignal();
}

int VelmoraStartup::startNetworkThread()
{
    networkThread = new VelmoraNetworkThread(clock);
    networkThread->setEventStore(store);
    // Opened in the network thread; beside the journal, wherever it is.
    if (journalRole)
        deviceStore = journalRole->makeDeviceStore();
    else
        deviceStore = std::make_unique<VelmoraDeviceStateFile>(VelmoraProgram::spoolDirectory(appDirectory));
    networkThread->setDeviceStore(deviceStore.get());
    networkThread->setDeviceListPath(deviceListPath());
    networkThread->startWorker();
    return networkThread->worker() ? 1 : -1;
}

QString VelmoraStartup::deviceListPath() const
{
    return QDir(VelmoraProgram::confDirectory(appDirectory)).filePath(QLatin1String(kDeviceListFileName));
}

void VelmoraStartup::configureDevices()
{
    const SVelmoraConf *conf = VelmoraCommon_GetConf();
    VelmoraNetworkServer *server = networkThread->worker();
    const bool onlyListed = conf->onlyListedDevices();
    const int supervisionS = conf->supervisionS;
    QMetaObject::invokeMethod(
        server, [server, onlyListed, supervisionS] { server->configureDevicesSlot(onlyListed, supervisionS); },
        Qt::QueuedConnection);
}

void VelmoraStartup::listen()
{
    networkThread->worker()->setListenAddress(QLatin1String(kListenAddress), VelmoraCommon_GetConf()->tcpPort);
    emit networkStartSignal();
}

void VelmoraStartup::applySettings()
{
    emit networkStopSignal();
    // Queued calls reach each thread object in the order they were made, so
    // every stop arrives before its start. A standby starts neither.
    if (!isStandby()) {
        configureDevices();
        listen();
    }
    receiverStoppedForPort = false;
    tellWhyNotListening();
    emit comStopSignal();
    if (!isStandby())
        applyComSettings();
    folder->setLogKeepDays(VelmoraCommon_GetConf()->logDays);
    endpoint->apply(VelmoraCommon_GetConf()->httpAddress, VelmoraCommon_GetConf()->httpPasswordHash);
}

void VelmoraStartup::comStopped()
{
    emit networkStopSignal();
    receiverStoppedForPort = true;
    tellWhyNotListening();
}

void VelmoraStartup::tellWhyNotListening()
{
    if (!watchdog)
        return;
    QString reason;
    if (isStandby())
        reason = QStringLiteral("standby, waiting for the lease of the event journal");
    else if (receiverStoppedForPort)
        // The line state that says why came through the same queue just before.
        reason = QStringLiteral("serial port %1 closed (%2)").arg(VelmoraCommon_GetConf()->comName, portClosedReason);
    watchdog->setReceiverStopped(reason.toUtf8());
}

void VelmoraStartup::comReady()
{
    if (!receiverStoppedForPort || isStandby())
        return;
    receiverStoppedForPort = false;
    tellWhyNotListening();
    listen();
}

void VelmoraStartup::showStatus()
{
    window.setConnectionCount(networkThread->connectionCount());
    window.setHeldCount(comThread->heldCount());
    window.setDeviceTroubleCounts(networkThread->absentDeviceCount(), networkThread->refusedDeviceCount());
    if (endpoint)
        endpoint->setStatusTexts(window.statusTexts());
}

void VelmoraStartup::setHeldRowsWanted(bool byWindow, bool wanted)
{
    (byWindow ? windowWantsHeldRows : endpointWantsHeldRows) = wanted;
    const bool anyWants = windowWantsHeldRows || endpointWantsHeldRows;
    VelmoraCom *com = comThread->worker();
    QMetaObject::invokeMethod(com, [com, anyWants] { com->setHeldRowsWanted(anyWants); }, Qt::QueuedConnection);
}

void VelmoraStartup::reportJournalDamage()
{
    if (!journal)
        return;
    const VelmoraEventJournal::Damage damage = journal->damageFound();
    if (damage.records == 0)
        return;
    window.Put2Log(VelmoraJournalDamageNotice::reportLine(damage, journal->filePath(), true));
    VelmoraCommon_LogError(VelmoraJournalDamageNotice::reportLine(damage, journal->filePath(), false));
    window.showJournalDamage(damage);
}

void VelmoraStartup::startStatusEndpoint()
{
    endpoint = new VelmoraStatusEndpoint(this);
    connect(endpoint, &VelmoraStatusEndpoint::logSignal, &window, &Velmora::Put2Log);
    connect(endpoint, &VelmoraStatusEndpoint::heldRowsWantedSignal, this,
            [this](bool wanted) { setHeldRowsWanted(false, wanted); });
    connect(comThread->worker(), &VelmoraCom::heldRowsSignal, endpoint, &VelmoraStatusEndpoint::setHeldRows,
            Qt::QueuedConnection);
    connect(endpoint, &VelmoraStatusEndpoint::sendAgainSignal, comThread->worker(), &VelmoraCom::sendAgainSlot,
            Qt::QueuedConnection);
    connect(endpoint, &VelmoraStatusEndpoint::releaseSignal, comThread->worker(), &VelmoraCom::releaseSlot,
            Qt::QueuedConnection);
    connect(endpoint, &VelmoraStatusEndpoint::admitDeviceSignal, &window, &Velmora::admitDeviceSlot);
    connect(endpoint, &VelmoraStatusEndpoint::deviceSnapshotRequestSignal, networkThread->worker(),
            &VelmoraNetworkServer::deviceSnapshotSlot, Qt::QueuedConnection);
    connect(networkThread->worker(), &VelmoraNetworkServer::deviceSnapshotSignal, endpoint,
            &VelmoraStatusEndpoint::setDevices, Qt::QueuedConnection);
    endpoint->apply(VelmoraCommon_GetConf()->httpAddress, VelmoraCommon_GetConf()->httpPasswordHash);

    watchdog = new VelmoraServiceWatchdog;
    watchdog->watch(&window);
    watchdog->watch(networkThread->worker());
    watchdog->watch(comThread->worker(), true);
    tellWhyNotListening();
    watchdog->start();
}
