#include "velmorastartup.h"

#include "diskspace.h"
#include "serialindexmaps.h"
#include "svelmoralogline.h"
#include "svelmoramsg.h"
#include "velmora.h"
#include "velmoraclock.h"
#include "velmoracom.h"
#include "velmoracomthread.h"
#include "velmoraconf.h"
#include "velmoraeventjournal.h"
#include "velmorainstancelock.h"
#include "velmorajournaldamagenotice.h"
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
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace {

const char kInstanceLockFileName[] = "Lumari.lock";
const char kOffscreenPlatform[] = "offscreen";
const char kListenAddress[] = "0.0.0.0";
// The start-up texts were first the window's, and are translated there.
const char kTranslationContext[] = "Velmora";

const int kLogThreshold = kLogDebug;
const int kStatusIntervalMs = 1000;

void makeDirectory(const QString &path)
{
    if (!QDir(path).exists())
        QDir().mkpath(path);
}

} // namespace

VelmoraStartup::VelmoraStartup(Velmora &mainWindow, VelmoraClock &programClock, QObject *parent)
    : QObject(parent)
    , window(mainWindow)
    , clock(programClock)
    , appDirectory(QCoreApplication::applicationDirPath())
    , startupBoxes(QGuiApplication::platformName() != QLatin1String(kOffscreenPlatform))
{
}

// The program itself ends without this; a start-up made and dropped (as
// tests do) stops the housekeeping thread it started.
VelmoraStartup::~VelmoraStartup()
{
    if (logHousekeepingThread) {
        logHousekeepingThread->quit();
        logHousekeepingThread->wait();
    }
}

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

    // The day log's stamps and days come from the program's clock too.
    VelmoraCommon_SetLogClock(&clock);
    const QString logDirectory = VelmoraProgram::logDirectory(appDirectory);
    makeDirectory(logDirectory);
    if (VelmoraCommon_LogInit(logDirectory, kLogThreshold) == -1) {
        showStartupWarning(
            QStringLiteral("Невозможно инициализировать log-file! Запустите программу с правами администратора!"),
            false);
        return -1;
    }

    if (window.initGui() != 1) {
        VelmoraCommon_LogInfo(QStringLiteral("[%1] Can not init gui...").arg(VelmoraProgram::name()));
        return -1;
    }

    window.Put2Log(QStringLiteral("[%1] Запуск...").arg(VelmoraProgram::name()));
    VelmoraCommon_LogInfo(QStringLiteral("[%1] Starting...").arg(VelmoraProgram::name()));
    report(QT_TRANSLATE_NOOP("Velmora", "[%1] Initialization log file was successfull."), false);

    if (lockApplicationDirectory() == -1 || loadConfiguration() == -1)
        return -1;
    startLogHousekeeping();

    openEventJournal();
    reportJournalDamage();

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

    applyComSettings();
    listen();
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

int VelmoraStartup::lockApplicationDirectory()
{
    const QString spoolDirectory = VelmoraProgram::spoolDirectory(appDirectory);
    makeDirectory(spoolDirectory);
    instanceLock = std::make_unique<VelmoraInstanceLock>(spoolDirectory + QLatin1String(kInstanceLockFileName));
    switch (instanceLock->tryLock()) {
    case VelmoraInstanceLock::Locked:
        return 1;
    case VelmoraInstanceLock::HeldElsewhere: {
        const char *text = QT_TRANSLATE_NOOP(
            "Velmora",
            "Lumari is already running in %1. This copy ends without touching its journal or its settings.");
        const QString directory = QDir::toNativeSeparators(appDirectory);
        VelmoraCommon_LogError(QStringLiteral("[%1] ").arg(VelmoraProgram::name())
                               + QString::fromLatin1(text).arg(directory));
        showStartupWarning(QCoreApplication::translate(kTranslationContext, text).arg(directory), false);
        return -1;
    }
    case VelmoraInstanceLock::Failed:
        break;
    }
    // The spool cannot be used at all, so neither can the journal, which
    // says so next and is retried by every event; the program runs as it
    // does without a journal.
    report(QT_TRANSLATE_NOOP("Velmora", "[%1] Can not lock the application directory: %2."), true,
           {instanceLock->errorString()});
    return 1;
}

int VelmoraStartup::loadConfiguration()
{
    makeDirectory(VelmoraProgram::confDirectory(appDirectory));
    const QString confPath = VelmoraProgram::confFilePath(appDirectory);
    SVelmoraConf *conf = VelmoraCommon_GetConf();
    QStringList fallbackFields;
    if (VelmoraCommon_ReadConf(confPath, conf, &fallbackFields) == 0) {
        if (!fallbackFields.isEmpty())
            report(QT_TRANSLATE_NOOP("Velmora",
                                     "[%1] Settings read from %2; default or replacement values used for: %3."),
                   true, {confPath, fallbackFields.join(QStringLiteral(", "))});
        return 1;
    }
    VelmoraCommon_SetDefaultConf(conf);
    // A file that is there but could not be read or is not ours is the
    // user's data: it is kept as Lumari.conf.bak before the defaults
    // replace it, and left alone when even that copy cannot be made.
    if (VelmoraCommon_BackupConf(confPath) != 1) {
        report(QT_TRANSLATE_NOOP("Velmora",
                                 "[%1] Can not keep a copy of %2; it is left as it is and the default settings are used."),
               true, {confPath});
        return 1;
    }
    if (VelmoraCommon_WriteConf(conf, confPath) == -1) {
        showStartupWarning(QStringLiteral("Невозможно получить настройки! Запустите программу с правами администратора!"),
                           true);
        return -1;
    }
    return 1;
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

int VelmoraStartup::openEventJournal()
{
    const QString spoolDirectory = VelmoraProgram::spoolDirectory(appDirectory);
    makeDirectory(spoolDirectory);
    // Lives as long as the threads that use it, which is the process.
    journal = new VelmoraEventJournal(spoolDirectory);
    if (journal->open())
        return 1;
    // The program still runs: the journal retries on every append, and until
    // one succeeds the devices get no ACK and keep their events.
    report(QT_TRANSLATE_NOOP("Velmora",
                             "[%1] Can not open the event journal: %2. Devices get no ACK until it can be written."),
           true, {journal->errorString()});
    return -1;
}

int VelmoraStartup::startComThread()
{
    comThread = new VelmoraComThread(clock);
    comThread->setEventStore(journal);
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
    networkThread->setEventStore(journal);
    networkThread->startWorker();
    return networkThread->worker() ? 1 : -1;
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
    // every stop arrives before its start.
    listen();
    receiverStoppedForPort = false;
    emit comStopSignal();
    applyComSettings();
    logKeepDays = VelmoraCommon_GetConf()->logDays;
    endpoint->apply(VelmoraCommon_GetConf()->httpAddress, VelmoraCommon_GetConf()->httpPasswordHash);
}

void VelmoraStartup::comStopped()
{
    emit networkStopSignal();
    receiverStoppedForPort = true;
}

void VelmoraStartup::comReady()
{
    if (!receiverStoppedForPort)
        return;
    receiverStoppedForPort = false;
    listen();
}

void VelmoraStartup::showStatus()
{
    window.setConnectionCount(networkThread->connectionCount());
    window.setHeldCount(comThread->heldCount());
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

void VelmoraStartup::startLogHousekeeping()
{
    VelmoraLogHousekeeper::Settings settings;
    settings.directory = VelmoraProgram::logDirectory(appDirectory);
    settings.journalFloorBytes = DiskSpace::kJournalFloorBytes;
    settings.freeSpace = [](const QString &directory) { return DiskSpace::freeBytes(directory, nullptr); };
    logKeepDays = VelmoraCommon_GetConf()->logDays;
    settings.keepDays = [this] { return logKeepDays.load(); };
    logHousekeepingThread = new QThread(this);
    auto *housekeeper = new VelmoraLogHousekeeper(settings);
    housekeeper->moveToThread(logHousekeepingThread);
    connect(logHousekeepingThread, &QThread::started, housekeeper, &VelmoraLogHousekeeper::start);
    connect(logHousekeepingThread, &QThread::finished, housekeeper, &QObject::deleteLater);
    connect(housekeeper, &VelmoraLogHousekeeper::logSignal, &window, &Velmora::Put2Log, Qt::QueuedConnection);
    logHousekeepingThread->start(QThread::LowestPriority);
}

void VelmoraStartup::reportJournalDamage()
{
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
    connect(endpoint, &VelmoraStatusEndpoint::deviceSnapshotRequestSignal, networkThread->worker(),
            &VelmoraNetworkServer::deviceSnapshotSlot, Qt::QueuedConnection);
    connect(networkThread->worker(), &VelmoraNetworkServer::deviceSnapshotSignal, endpoint,
            &VelmoraStatusEndpoint::setDevices,
            Qt::QueuedConnection);
    endpoint->apply(VelmoraCommon_GetConf()->httpAddress, VelmoraCommon_GetConf()->httpPasswordHash);

    watchdog = new VelmoraServiceWatchdog;
    watchdog->watch(&window);
    watchdog->watch(networkThread->worker());
    watchdog->watch(comThread->worker(), true);
    watchdog->start();
}
