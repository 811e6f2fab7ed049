#include "velmora.h"

#include "velmoraconfwidget.h"
#include "velmoradeviceswindow.h"
#include "velmoraeventswindow.h"
#include "velmoraimages.h"
#include "velmorajournaldamagenotice.h"
#include "velmoralinealert.h"
#include "velmoralinestatetext.h"
#include "velmoralog.h"
#include "velmoralogpane.h"
#include "velmoraprogram.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSizePolicy>
#include <QStyle>
#include <QStatusBar>
#include <QTextEdit>
#include <QToolBar>
#include <QVBoxLayout>

#include <cstdlib>

namespace {

const int kLogoMaxHeight = 48;
const int kWindowWidth = 700;
const int kWindowHeight = 500;

// The log pane belongs to the program, not to a window instance: Put2Log
// works without one. QPointer forgets a pane that is gone.
QPointer<VelmoraLogPane> logPane;

} // namespace

Velmora::Velmora(QWidget *parent)
    : QMainWindow(parent)
    , appDirectory(QCoreApplication::applicationDirPath())
{
}

Velmora::~Velmora() = default;

void Velmora::setApplicationDirectory(const QString &directory)
{
    appDirectory = directory;
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
    setWindowTitle(VelmoraProgram::name());
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
    aboutLabel->setText(tr("Program name: ") + VelmoraProgram::name() + QLatin1Char('\n') + tr("Version: ")
                        + VelmoraProgram::version() + QLatin1Char('\n') + tr("Date: ")
                        + VelmoraProgram::releaseDate() + QLatin1Char('\n') + VelmoraProgram::webAddress());
    toolBar->addWidget(aboutLabel);
    return 1;
}

int Velmora::createLogPane()
{
    // The alert banner above the log, hidden until an alert is raised.
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    alertBannerWidget = new QWidget(central);
    alertBannerWidget->setObjectName(QStringLiteral("alertBanner"));
    alertBannerWidget->setAttribute(Qt::WA_StyledBackground, true);
    alertBannerWidget->setStyleSheet(QStringLiteral("#alertBanner{background:#c8102e;}"
                                                    "#alertBanner QLabel{color:white;font-weight:bold;font-size:14pt;}"));
    auto *bannerLayout = new QHBoxLayout(alertBannerWidget);
    alertLabel = new QLabel(alertBannerWidget);
    alertLabel->setWordWrap(true);
    silencePushButton = new QPushButton(tr("Silence"), alertBannerWidget);
    bannerLayout->addWidget(alertLabel, 1);
    bannerLayout->addWidget(silencePushButton);
    alertBannerWidget->hide();
    connect(silencePushButton, &QPushButton::clicked, this, [this] {
        if (!alert || !alert->isRaised() || alert->isSilenced())
            return;
        alert->silence();
        const char *text = QT_TR_NOOP("[%1] The operator silenced the alert raised at %2.");
        const QString since = alert->since().toLocalTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
        Put2Log(tr(text).arg(VelmoraProgram::name(), since));
        VelmoraCommon_LogError(QString::fromLatin1(text).arg(VelmoraProgram::name(), since));
    });
    layout->addWidget(alertBannerWidget);
    auto *pane = new VelmoraLogPane(central);
    layout->addWidget(pane, 1);
    setCentralWidget(central);
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
    deviceTroubleLabel = new QLabel(this);
    mainStatusBar->addWidget(deviceTroubleLabel, 0);
    standbyLabel = new QLabel(this);
    mainStatusBar->addWidget(standbyLabel, 0);
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
    Put2Log(QStringLiteral("[%1] Запуск...").arg(VelmoraProgram::name()));
    VelmoraCommon_LogInfo(QStringLiteral("[%1] Starting...").arg(VelmoraProgram::name()));
    emit settingsAppliedSignal();

    QMessageBox box(QMessageBox::Warning, VelmoraProgram::warningTitle(),
                    QStringLiteral("Для применения настроек необходим перезапуск программы"), QMessageBox::Ok, this);
    box.exec();
}

void Velmora::on_eventsSlot()
{
    if (!eventsWindow) {
        eventsWindow = new VelmoraEventsWindow(this);
        connect(eventsWindow, &VelmoraEventsWindow::sendAgainSignal, this, &Velmora::sendAgainSignal);
        connect(eventsWindow, &VelmoraEventsWindow::releaseSignal, this, &Velmora::releaseSignal);
        connect(eventsWindow, &VelmoraEventsWindow::shownSignal, this, &Velmora::heldRowsWantedSignal);
        eventsWindow->setLineStateText(VelmoraLineStateText::text(lastLineState, QDateTime::currentDateTime()));
    }
    eventsWindow->show();
    eventsWindow->raise();
    eventsWindow->activateWindow();
}

void Velmora::heldRowsSlot(const SVelmoraHeldRows &rows)
{
    if (eventsWindow)
        eventsWindow->setRowsSlot(rows);
}

void Velmora::setConnectionCount(int count)
{
    if (connectionsLabel)
        connectionsLabel->setText(tr("Count of connections: ") + QString::number(count));
}

void Velmora::setHeldCount(int count)
{
    if (heldEventsLabel)
        heldEventsLabel->setText(count == 0 ? QString()
                                            : tr("Events waiting for the monitoring software: ")
                                                  + QString::number(count));
}

void Velmora::setDeviceTroubleCounts(int absent, int refused)
{
    if (!deviceTroubleLabel)
        return;
    QStringList parts;
    if (absent > 0)
        parts << tr("Absent devices: %1").arg(absent);
    if (refused > 0)
        parts << tr("Refused devices: %1").arg(refused);
    deviceTroubleLabel->setText(parts.join(QStringLiteral("; ")));
}

void Velmora::setLineState(const SVelmoraLineState &state)
{
    lastLineState = state;
    const QString text = VelmoraLineStateText::text(state, QDateTime::currentDateTime());
    if (lineStateLabel)
        lineStateLabel->setText(text);
    if (eventsWindow)
        eventsWindow->setLineStateText(text);
    if (alert)
        alert->setLineState(state);
}

void Velmora::enableLineAlert(VelmoraClock &clock, std::function<void()> beep)
{
    delete alert;
    alert = new VelmoraLineAlert(clock, std::move(beep), this);
    connect(alert, &VelmoraLineAlert::changedSignal, this, &Velmora::showAlert);
    alert->setLineState(lastLineState);
}

void Velmora::showAlert()
{
    if (!alertBannerWidget)
        return;
    if (!alert || !alert->isRaised()) {
        alertBannerWidget->hide();
        return;
    }
    const QDateTime since = alert->since().toLocalTime();
    const QString sinceText = since.date() == QDate::currentDate() ? since.toString(QStringLiteral("hh:mm"))
                                                                   : since.toString(QStringLiteral("dd.MM.yyyy hh:mm"));
    alertLabel->setText(tr("Alarms are not getting through since %1. %2")
                            .arg(sinceText, VelmoraLineStateText::text(alert->lineState(), QDateTime::currentDateTime())));
    silencePushButton->setEnabled(!alert->isSilenced());
    silencePushButton->setText(alert->isSilenced() ? tr("Silenced") : tr("Silence"));
    alertBannerWidget->show();
}

void Velmora::setStandby(bool standby)
{
    if (standbyLabel)
        standbyLabel->setText(standby ? tr("Standby: another instance holds the journal's lease") : QString());
}

void Velmora::addDevicesAction()
{
    devicesAction = new QAction(style()->standardIcon(QStyle::SP_DriveNetIcon), tr("Devices"), toolBar);
    devicesAction->setToolTip(tr("Known devices, their supervision, and the connections of the last 24 hours"));
    connect(devicesAction, &QAction::triggered, this, &Velmora::on_devicesSlot);
    toolBar->addAction(devicesAction);
}

void Velmora::on_devicesSlot()
{
    VelmoraDevicesWindow *shown = devicesPanelMade();
    shown->show();
    shown->raise();
    shown->activateWindow();
}

void Velmora::admitDeviceSlot(const QString &deviceId)
{
    devicesPanelMade()->admitDevice(deviceId);
}

VelmoraDevicesWindow *Velmora::devicesPanelMade()
{
    if (!devicesWindow) {
        devicesWindow = new VelmoraDevicesWindow(this);
        // The window asks, the network thread copies its records and sends
        // the copy back: the window never reads the live records.
        connect(devicesWindow, &VelmoraDevicesWindow::snapshotRequestSignal, this,
                &Velmora::deviceSnapshotRequestSignal);
        devicesWindow->setDeviceListPath(
            QDir(VelmoraProgram::confDirectory(appDirectory)).filePath(QStringLiteral("devices.csv")));
        connect(devicesWindow, &VelmoraDevicesWindow::acceptMacSignal, this, &Velmora::acceptDeviceMacSignal);
        connect(devicesWindow, &VelmoraDevicesWindow::forgetSignal, this, &Velmora::forgetDeviceSignal);
        connect(devicesWindow, &VelmoraDevicesWindow::logSignal, this, &Velmora::Put2Log);
    }
    return devicesWindow;
}

void Velmora::deviceSnapshotSlot(const SVelmoraDeviceSnapshot &snapshot)
{
    if (devicesWindow)
        devicesWindow->snapshotSlot(snapshot);
}

void Velmora::showJournalDamage(const VelmoraEventJournal::Damage &damage)
{
    journalDamageNotice = new VelmoraJournalDamageNotice(damage, this);
    mainStatusBar->addPermanentWidget(journalDamageNotice);
}

QStringList Velmora::statusTexts() const
{
    if (!connectionsLabel || !heldEventsLabel || !lineStateLabel)
        return {};
    return {connectionsLabel->text(), heldEventsLabel->text(), lineStateLabel->text(),
            deviceTroubleLabel ? deviceTroubleLabel->text() : QString(),
            standbyLabel ? standbyLabel->text() : QString()};
}
