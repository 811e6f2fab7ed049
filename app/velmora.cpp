#include "velmora.h"

#include "serialindexmaps.h"
#include "svelmoramsg.h"
#include "velmoracom.h"
#include "velmoracomthread.h"
#include "velmoraconf.h"
#include "velmoraconfwidget.h"
#include "velmoradeviceswindow.h"
#include "velmoraeventjournal.h"
#include "velmoraeventswindow.h"
#include "velmoraimages.h"
#include "velmorainstancelock.h"
#include "velmoralog.h"
#include "velmoralinestatetext.h"
#include "velmoralogpane.h"
#include "velmoranetworkserver.h"
#include "velmoranetworkthread.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSizePolicy>
#include <QStyle>
#include <QStatusBar>
#include <QStringList>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>

#include <cstdio>
#include <cstdlib>

namespace {

const QString programName = QStringLiteral("Lumari");
const char kVersion[] = "1.2.1.0";
const char kReleaseDate[] = "02.03.2016";
const char kWebAddress[] = "https://lumari.example.org";

const char kLogDirectory[] = "/log/";
const char kConfDirectory[] = "/conf/";
const char kConfFileName[] = "Lumari.conf";
const char kSpoolDirectory[] = "/spool/";
const char kInstanceLockFileName[] = "Lumari.lock";
const char kOffscreenPlatform[] = "offscreen";
const char kListenAddress[] = "0.0.0.0";

const int kLogThreshold = kLogDebug;
const int kUpdateIntervalMs = 1000;
const int kLogoMaxHeight = 48;
const int kWindowWidth = 700;
const int kWindowHeight = 500;

const QString kWarningTitle = QStringLiteral("Внимание!");

// The log pane belongs to the program, not to a window instance: Put2Log
// works without one. QPointer forgets a pane that is gone.
QPointer<VelmoraLogPane> logPane;

QString confFilePath(const QString &appDirectory)
{
    return appDirectory + QLatin1String(kConfDirectory) + QLatin1String(kConfFileName);
}

void makeDirectory(const QString &path)
{
    if (!QDir(path).exists())
        QDir().mkpath(path);
}

} // namespace

Velmora::Velmora(QWidget *parent)
    : QMainWindow(parent)
    , appDirectory(QCoreApplication::applicationDirPath())
    , startupBoxes(QGuiApplication::platformName() != QLatin1String(kOffscreenPlatform))
{
}

// Out of line because the lock's class is complete only here.
Velmora::~Velmora() = default;

void Velmora::setStartupBoxesShown(bool shown)
{
    startupBoxes = shown;
}

void Velmora::setApplicationDirectory(const QString &directory)
{
    appDirectory = directory;
}

int Velmora::init()
{
    updateTimer = new QTimer(this);
    connect(updateTimer, &QTimer::timeout, this, &Velmora::timeoutSlot);
    updateTimer->start(kUpdateIntervalMs);

    registerVelmoraMsgType();

    const QString logDirectory = appDirectory + QLatin1String(kLogDirectory);
    makeDirectory(logDirectory);
    if (VelmoraCommon_LogInit(logDirectory, kLogThreshold) == -1) {
        showStartupWarning(
            QStringLiteral("Невозможно инициализировать log-file! Запустите программу с правами администратора!"),
            false);
        return -1;
    }

    if (initGui() != 1) {
        VelmoraCommon_LogInfo(QStringLiteral("[%1] Can not init gui...").arg(programName));
        return -1;
    }

    Put2Log(QStringLiteral("[%1] Запуск...").arg(programName));
    VelmoraCommon_LogInfo(QStringLiteral("[%1] Starting...").arg(programName));
    Put2Log(tr("[%1] Initialization log file was successfull.").arg(programName));
    VelmoraCommon_LogInfo(QStringLiteral("[%1] Initialization log file was successfull.").arg(programName));

    if (lockApplicationDirectory() == -1 || loadConfiguration() == -1)
        return -1;

    openEventJournal();

    if (createComThread() == -1) {
        reportFailure(QT_TR_NOOP("[%1] Can not create com thread..."));
        return -1;
    }
    if (startComThread() == -1) {
        reportFailure(QT_TR_NOOP("[%1] Can not start com thread..."));
        return -1;
    }
    if (createNetworkThread() == -1) {
        reportFailure(QT_TR_NOOP("[%1] Can not create network thread..."));
        return -1;
    }
    if (startNetworkThread() == -1) {
        reportFailure(QT_TR_NOOP("[%1] Can not start network thread..."));
        return -1;
    }
    // The road of every event: from the network thread straight into the
    // serial worker's thread. The window is not on it, so a busy window
    // delays no alarm and no keepalive.
    connect(networkThread->worker(), &VelmoraNetworkServer::msgsSignal, comThread->eventReceiver(),
            &VelmoraCom::msgsSlot, Qt::QueuedConnection);

    showMainWindow();
    return 1;
}

void Velmora::reportFailure(const char *sourceText)
{
    Put2Log(tr(sourceText).arg(programName));
    VelmoraCommon_LogInfo(QString::fromLatin1(sourceText).arg(programName));
}

int Velmora::lockApplicationDirectory()
{
    const QString spoolDirectory = appDirectory + QLatin1String(kSpoolDirectory);
    makeDirectory(spoolDirectory);
    instanceLock = std::make_unique<VelmoraInstanceLock>(spoolDirectory + QLatin1String(kInstanceLockFileName));
    switch (instanceLock->tryLock()) {
    case VelmoraInstanceLock::Locked:
        return 1;
    case VelmoraInstanceLock::HeldElsewhere:
        VelmoraCommon_LogError(
            QStringLiteral("[%1] Lumari is already running in %2. This copy ends without touching its journal or its settings.")
                .arg(programName, QDir::toNativeSeparators(appDirectory)));
        showStartupWarning(
            tr("Lumari is already running in %1. This copy ends without touching its journal or its settings.")
                .arg(QDir::toNativeSeparators(appDirectory)),
            false);
        return -1;
    case VelmoraInstanceLock::Failed:
        break;
    }
    // The spool cannot be used at all, so neither can the journal, which
    // says so next and is retried by every event; the program runs as it
    // does without a journal.
    const QString reason = instanceLock->errorString();
    Put2Log(tr("[%1] Can not lock the application directory: %2.").arg(programName, reason));
    VelmoraCommon_LogError(QStringLiteral("[%1] Can not lock the application directory: %2.").arg(programName, reason));
    return 1;
}

int Velmora::loadConfiguration()
{
    makeDirectory(appDirectory + QLatin1String(kConfDirectory));
    const QString confPath = confFilePath(appDirectory);
    SVelmoraConf *conf = VelmoraCommon_GetConf();
    QStringList fallbackFields;
    if (VelmoraCommon_ReadConf(confPath, conf, &fallbackFields) == 0) {
        if (!fallbackFields.isEmpty()) {
            const QString fields = fallbackFields.join(QStringLiteral(", "));
            Put2Log(tr("[%1] Settings read from %2; default or replacement values used for: %3.")
                        .arg(programName, confPath, fields));
            VelmoraCommon_LogError(QStringLiteral("[%1] Settings read from %2; default or replacement values used for: %3.")
                                       .arg(programName, confPath, fields));
        }
        return 1;
    }
    VelmoraCommon_SetDefaultConf(conf);
    // A file that is there but could not be read or is not ours is the
    // user's data: it is kept as Lumari.conf.bak before the defaults
    // replace it, and left alone when even that copy cannot be made.
    if (VelmoraCommon_BackupConf(confPath) != 1) {
        Put2Log(tr("[%1] Can not keep a copy of %2; it is left as it is and the default settings are used.")
                    .arg(programName, confPath));
        VelmoraCommon_LogError(
            QStringLiteral("[%1] Can not keep a copy of %2; it is left as it is and the default settings are used.")
                .arg(programName, confPath));
        return 1;
    }
    if (VelmoraCommon_WriteConf(conf, confPath) == -1) {
        showStartupWarning(QStringLiteral("Невозможно получить настройки! Запустите программу с правами администратора!"),
                           true);
        return -1;
    }
    return 1;
}

void Velmora::showStartupWarning(const QString &text, bool alsoToDayLog)
{
    if (startupBoxes) {
        QMessageBox::warning(this, kWarningTitle, text, QMessageBox::Ok, QMessageBox::NoButton);
        return;
    }
    std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    std::fflush(stderr);
    if (alsoToDayLog)
        VelmoraCommon_LogError(QStringLiteral("[%1] ").arg(programName) + text);
}

int Velmora::openEventJournal()
{
    const QString spoolDirectory = appDirectory + QLatin1String(kSpoolDirectory);
    makeDirectory(spoolDirectory);
    // Lives as long as the threads that use it, which is the process.
    journal = new VelmoraEventJournal(spoolDirectory);
    if (journal->open())
        return 1;
    // The program still runs: the journal retries on every append, and until
    // one succeeds the devices get no ACK and keep their events.
    const QString reason = journal->errorString();
    Put2Log(tr("[%1] Can not open the event journal: %2. Devices get no ACK until it can be written.")
                .arg(programName, reason));
    VelmoraCommon_LogError(
        QStringLiteral("[%1] Can not open the event journal: %2. Devices get no ACK until it can be written.")
            .arg(programName, reason));
    return -1;
}

void Velmora::showMainWindow()
{
    setFixedSize(kWindowWidth, kWindowHeight);
    activateWindow();
    raise();
    show();
}

int Velmora::initGui()
{
    setWindowTitle(programName);
    setWindowIcon(iconFromId(kImageLogo));
    int result = createToolBar();
    if (result != 1)
        return result;
    result = createLogPane();
    if (result != 1)
        return result;
    return createStatusBar();
}

int Velmora::createToolBar()
{
    toolBar = new QToolBar(this);
    addToolBar(toolBar);

    confAction = new QAction(iconFromId(kImageConfAction), tr("Settings"), toolBar);
    confAction->setToolTip(tr("Settings"));
    connect(confAction, &QAction::triggered, this, &Velmora::on_confSlot);
    toolBar->addAction(confAction);

    eventsAction = new QAction(style()->standardIcon(QStyle::SP_FileDialogDetailedView), tr("Events"), toolBar);
    eventsAction->setToolTip(tr("Events held for the monitoring software and set aside"));
    connect(eventsAction, &QAction::triggered, this, &Velmora::on_eventsSlot);
    toolBar->addAction(eventsAction);
    addDevicesAction();

    exitAction = new QAction(iconFromId(kImageExitAction), tr("Exit"), toolBar);
    exitAction->setToolTip(tr("Exit"));
    connect(exitAction, &QAction::triggered, this, &Velmora::on_exitSlot);
    toolBar->addAction(exitAction);

    auto addSpacer = [this]() {
        auto *spacer = new QWidget(this);
        spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
        toolBar->addWidget(spacer);
    };
    addSpacer();
    auto *logoLabel = new QLabel(this);
    logoLabel->setMaximumHeight(kLogoMaxHeight);
    logoLabel->setPixmap(pixmapFromId(kImageBigLogo));
    toolBar->addWidget(logoLabel);
    addSpacer();

    aboutLabel = new QLabel(this);
    aboutLabel->setTextFormat(Qt::PlainText);
    aboutLabel->setText(tr("Program name: ") + programName + QLatin1Char('\n') + tr("Version: ")
                        + QLatin1String(kVersion) + QLatin1Char('\n') + tr("Date: ") + QLatin1String(kReleaseDate)
                        + QLatin1Char('\n') + QLatin1String(kWebAddress));
    toolBar->addWidget(aboutLabel);
    return 1;
}

int Velmora::createLogPane()
{
    auto *pane = new VelmoraLogPane(this);
    setCentralWidget(pane);
    logPane = pane;
    return 1;
}

int Velmora::createStatusBar()
{
    if (!mainStatusBar)
        mainStatusBar = new QStatusBar(this);
    connectionsLabel = new QLabel(this);
    mainStatusBar->addWidget(connectionsLabel, 0);
    heldEventsLabel = new QLabel(this);
    mainStatusBar->addWidget(heldEventsLabel, 0);
    lineStateLabel = new QLabel(this);
    mainStatusBar->addWidget(lineStateLabel, 0);
    setStatusBar(mainStatusBar);
    return 1;
}

QTextEdit *Velmora::logView()
{
    return logPane;
}

int Velmora::logViewLineCount()
{
    return logPane ? logPane->lineCount() : 0;
}

void Velmora::flushLogView()
{
    if (logPane)
        logPane->flushWaitingLines();
}

void Velmora::Put2Log(QString str)
{
    if (logPane)
        logPane->addLine(str);
}

void Velmora::on_exitSlot()
{
    QMessageBox box(QMessageBox::Warning, tr("Warning!"), tr("Do you really want to exit?"), QMessageBox::NoButton,
                    this, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    auto *yesButton = new QPushButton(tr("Yes"), &box);
    auto *noButton = new QPushButton(tr("No"), &box);
    connect(yesButton, &QPushButton::clicked, this, &Velmora::onQuitSlot);
    // Both buttons are actions, so the box has no escape button: Esc and the
    // box's close button do nothing, and only an answer leaves it.
    box.addButton(yesButton, QMessageBox::ActionRole);
    box.addButton(noButton, QMessageBox::ActionRole);
    box.exec();
}

void Velmora::onQuitSlot()
{
    // The worker threads are still running and are never stopped. Ending
    // without static destructors means none of them can meet a log writer
    // or configuration record that is being torn down. Every event that a
    // device was told about is already durable in the journal.
    VelmoraCommon_LogEnd();
    std::_Exit(0);
}

void Velmora::closeEvent(QCloseEvent *event)
{
    on_exitSlot();
    event->ignore();
}

void Velmora::on_confSlot()
{
    if (!confWidget) {
        confWidget = new VelmoraConfWidget(this);
        confWidget->setApplicationDirectory(appDirectory);
        connect(confWidget, &VelmoraConfWidget::applySignal, this, &Velmora::confSlot);
    }
    confWidget->loadConf();
    confWidget->raise();
    confWidget->activateWindow();
    confWidget->show();
}

void Velmora::confSlot()
{
    // A new page, but the running count goes on: the next automatic clearing
    // still comes after 1000 lines in all.
    if (logPane)
        logPane->startNewPage();
    if (networkThread)
        emit networkStopSignal();

    Put2Log(QStringLiteral("[%1] Запуск...").arg(programName));
    VelmoraCommon_LogInfo(QStringLiteral("[%1] Starting...").arg(programName));

    // Queued signals reach each thread object in emission order, so every
    // stop arrives before its start.
    if (networkThread) {
        networkThread->worker()->setListenAddress(QLatin1String(kListenAddress), VelmoraCommon_GetConf()->tcpPort);
        emit networkStartSignal();
        receiverStoppedForPort = false;
    }
    if (comThread)
        emit comStopSignal();
    startComThread();

    QMessageBox box(QMessageBox::Warning, kWarningTitle,
                    QStringLiteral("Для применения настроек необходим перезапуск программы"), QMessageBox::Ok, this);
    box.exec();
}

void Velmora::on_eventsSlot()
{
    if (!eventsWindow) {
        eventsWindow = new VelmoraEventsWindow(this);
        if (comThread) {
            connect(comThread, &VelmoraComThread::heldRowsSignal, eventsWindow, &VelmoraEventsWindow::setRowsSlot,
                    Qt::QueuedConnection);
            connect(eventsWindow, &VelmoraEventsWindow::sendAgainSignal, comThread, &VelmoraComThread::sendAgainSlot);
            connect(eventsWindow, &VelmoraEventsWindow::releaseSignal, comThread, &VelmoraComThread::releaseSlot);
            connect(eventsWindow, &VelmoraEventsWindow::shownSignal, comThread,
                    &VelmoraComThread::setHeldRowsWanted);
        }
    }
    eventsWindow->show();
    eventsWindow->raise();
    eventsWindow->activateWindow();
}

int Velmora::createComThread()
{
    if (comThread)
        return -1;
    comThread = new VelmoraComThread();
    connect(comThread, &VelmoraComThread::logSignal, this, &Velmora::Put2Log, Qt::QueuedConnection);
    connect(comThread, &VelmoraComThread::stopSignal, this, &Velmora::comStopSlot, Qt::QueuedConnection);
    connect(comThread, &VelmoraComThread::portReadySignal, this, &Velmora::comReadySlot, Qt::QueuedConnection);
    connect(this, &Velmora::comStopSignal, comThread, &VelmoraComThread::comStopSlot, Qt::QueuedConnection);
    connect(this, &Velmora::comStartSignal, comThread, &VelmoraComThread::comStartSlot, Qt::QueuedConnection);
    connect(
        comThread, &VelmoraComThread::lineStateSignal, this,
        [this](const SVelmoraLineState &state) {
            if (lineStateLabel)
                lineStateLabel->setText(VelmoraLineStateText::text(state, QDateTime::currentDateTime()));
        },
        Qt::QueuedConnection);
    comThread->setEventStore(journal);
    comThread->start(QThread::InheritPriority);
    // A start request that found no worker yet would be lost.
    return comThread->waitUntilReady() ? 1 : -1;
}

int Velmora::startComThread()
{
    if (!comThread)
        return -1;
    const SVelmoraConf *conf = VelmoraCommon_GetConf();
    comThread->setPortName(conf->comName);
    comThread->setBaudRate(baudRateFromIndex(conf->baudRateIndex));
    comThread->setParity(checkThreeWayIndex(conf->parityIndex));
    comThread->setDataBits(dataBitsFromIndex(conf->dataBitsIndex));
    comThread->setStopBits(checkStopBitsIndex(conf->stopBitsIndex));
    comThread->setServer(conf->server);
    comThread->setLine(conf->line);
    comThread->setKeepAlive(conf->keepAlive);
    emit comStartSignal();
    return 1;
}

int Velmora::createNetworkThread()
{
    if (networkThread)
        return -1;
    networkThread = new VelmoraNetworkThread();
    networkThread->setEventStore(journal);
    networkThread->startWorker();
    VelmoraNetworkServer *server = networkThread->worker();
    if (!server)
        return -1;
    connect(server, &VelmoraNetworkServer::logSignal, this, &Velmora::Put2Log, Qt::QueuedConnection);
    connect(this, &Velmora::networkStopSignal, server, &VelmoraNetworkServer::stopSlot, Qt::QueuedConnection);
    connect(this, &Velmora::networkStartSignal, server, &VelmoraNetworkServer::startSlot, Qt::QueuedConnection);
    return 1;
}

int Velmora::startNetworkThread()
{
    if (!networkThread)
        return -1;
    networkThread->worker()->setListenAddress(QLatin1String(kListenAddress), VelmoraCommon_GetConf()->tcpPort);
    emit networkStartSignal();
    return 1;
}

void Velmora::comStopSlot()
{
    // The serial side could not open or configure its port; devices are not
    // served until it opens, on one of its own retries or after new settings.
    if (!networkThread)
        return;
    emit networkStopSignal();
    receiverStoppedForPort = true;
}

void Velmora::comReadySlot()
{
    if (!receiverStoppedForPort)
        return;
    receiverStoppedForPort = false;
    startNetworkThread();
}

void Velmora::timeoutSlot()
{
    if (mainStatusBar && connectionsLabel && networkThread)
        connectionsLabel->setText(tr("Count of connections: ") + QString::number(networkThread->connectionCount()));
    if (heldEventsLabel && comThread) {
        const int held = comThread->heldCount();
        heldEventsLabel->setText(held == 0 ? QString()
                                           : tr("Events waiting for the monitoring software: ")
                                                 + QString::number(held));
    }
}

void Velmora::addDevicesAction()
{
    devicesAction = new QAction(tr("Devices"), toolBar);
    devicesAction->setToolTip(tr("Connected devices and those that left during the last 24 hours"));
    connect(devicesAction, &QAction::triggered, this, &Velmora::on_devicesSlot);
    toolBar->addAction(devicesAction);
}

void Velmora::on_devicesSlot()
{
    if (!devicesWindow) {
        devicesWindow = new VelmoraDevicesWindow(this);
        // The window asks, the network thread copies its records and sends
        // the copy back: the window never reads the live records.
        if (networkThread) {
            connect(devicesWindow, &VelmoraDevicesWindow::snapshotRequestSignal, networkThread->worker(),
                    &VelmoraNetworkServer::deviceSnapshotSlot, Qt::QueuedConnection);
            connect(networkThread->worker(), &VelmoraNetworkServer::deviceSnapshotSignal, devicesWindow,
                    &VelmoraDevicesWindow::snapshotSlot, Qt::QueuedConnection);
        }
    }
    devicesWindow->show();
    devicesWindow->raise();
    devicesWindow->activateWindow();
}
