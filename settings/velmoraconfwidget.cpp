#include "velmoraconfwidget.h"

#include "cvelmoracomboboxelementwidget.h"
#include "cvelmoraeditelementwidget.h"
#include "cvelmoraspinboxelementwidget.h"
#include "comportchoices.h"
#include "serialindexmaps.h"
#include "tcpaddress.h"
#include "velmoraconf.h"
#include "velmoraimages.h"
#include "velmoralog.h"
#include "velmorapasswordhash.h"
#include "velmoraprogram.h"
#include "velmorastatusendpoint.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSpacerItem>
#include <QSpinBox>
#include <QVBoxLayout>

#include <utility>

namespace {

const int kPanelWidth = 820;
const int kPanelHeight = 600;
const int kSpacerSize = 20;

const int kDefaultTcpPort = 55555;
const int kMinTcpPort = 1025;
const int kMaxTcpPort = 65000;
const int kDefaultKeepAlive = 60;
const int kMinKeepAlive = 5;
const int kMaxKeepAlive = 99;
const int kServerLength = 2;
const int kLineLength = 1;


QStringList baudRateItems()
{
    return {QStringLiteral("75"), QStringLiteral("110"), QStringLiteral("300"), QStringLiteral("1200"),
            QStringLiteral("2400"), QStringLiteral("4800"), QStringLiteral("9600"), QStringLiteral("19200"),
            QStringLiteral("38400"), QStringLiteral("57600"), QStringLiteral("115200")};
}

QStringList dataBitsItems()
{
    return {QStringLiteral("7"), QStringLiteral("8"), QStringLiteral("9")};
}

QStringList stopBitsItems()
{
    return {QStringLiteral("1"), QStringLiteral("2")};
}

} // namespace

VelmoraConfWidget::VelmoraConfWidget(QWidget *parent)
    : QWidget(parent)
    , applicationDirectory(QCoreApplication::applicationDirPath())
    , machinePortLister(machineSerialPorts)
{
    // A window of its own that still belongs to (and dies with) the parent.
    setWindowFlags(windowFlags() | Qt::Window);
    setWindowTitle(QStringLiteral("Настройки"));

    mainLayout = new QVBoxLayout(this);
    groupsLayout = new QHBoxLayout();
    mainLayout->addLayout(groupsLayout, 0);

    // The TCP group, the COM group beside it, and beside them the group of
    // the settings beyond the ten.
    auto *leftColumn = new QVBoxLayout();
    groupsLayout->addLayout(leftColumn);
    auto *tcpGroupBox = new QGroupBox(tr("TCP-Settings:"), this);
    auto *tcpLayout = new QVBoxLayout(tcpGroupBox);
    leftColumn->addWidget(tcpGroupBox);
    portElement = new CVelmoraSpinBoxElementWidget(tr("Port:"), kDefaultTcpPort, kImagePort, this);
    portElement->spinBox()->setRange(kMinTcpPort, kMaxTcpPort);
    tcpLayout->addWidget(portElement);

    // The settings beyond the ten share this group; it scrolls when they
    // outgrow the panel's fixed size.
    extraGroupBox = new QGroupBox(tr("Additional settings:"), this);
    auto *extraGroupLayout = new QVBoxLayout(extraGroupBox);
    auto *extraScroll = new QScrollArea(extraGroupBox);
    extraScroll->setWidgetResizable(true);
    extraScroll->setFrameShape(QFrame::NoFrame);
    auto *extraRows = new QWidget(extraScroll);
    extraLayout = new QVBoxLayout(extraRows);
    extraLayout->setContentsMargins(0, 0, 0, 0);
    extraScroll->setWidget(extraRows);
    extraGroupLayout->addWidget(extraScroll);
    leftColumn->addStretch(1);
    logDaysElement = new CVelmoraSpinBoxElementWidget(tr("Keep day logs (days, 0 = all):"), 0, kImageClock, this);
    logDaysElement->spinBox()->setRange(0, SVelmoraConf::kMaxLogDays);
    extraLayout->addWidget(logDaysElement);
    supervisionElement = new CVelmoraSpinBoxElementWidget(tr("Supervision (secs, 0 = off):"), 0,
                                                          kImageClock, this);
    // Periods under the minimum come only from the file, for testing; the
    // panel keeps such a value as it was read.
    supervisionElement->spinBox()->setRange(0, SVelmoraConf::kMaxSupervisionS);
    extraLayout->addWidget(supervisionElement);
    devicesElement = new CVelmoraComboBoxElementWidget(tr("Devices:"),
                                                       {tr("all"), tr("only listed")}, {}, kImagePort, this);
    extraLayout->addWidget(devicesElement);
    httpAddressElement = new CVelmoraEditElementWidget(tr("Status page address:"), QString(), kImageServer, this);
    httpAddressElement->lineEdit()->setPlaceholderText(tr("off"));
    httpAddressElement->lineEdit()->setToolTip(tr("ADDRESS:PORT, for example 127.0.0.1:8080; empty: off"));
    extraLayout->addWidget(httpAddressElement);
    // The password is typed here and only its hash is stored; the field is
    // emptied at every opening and never shows what is stored.
    httpPasswordElement = new CVelmoraEditElementWidget(tr("Status page password:"), QString(), kImageOk, this);
    httpPasswordElement->lineEdit()->setEchoMode(QLineEdit::Password);
    extraLayout->addWidget(httpPasswordElement);
    httpPasswordClearBox = new QCheckBox(tr("Remove the password"), this);
    extraLayout->addWidget(httpPasswordClearBox);
    ackWaitElement = new CVelmoraSpinBoxElementWidget(tr("ACK wait (ms):"), SVelmoraConf().comAckWaitMs,
                                                      kImageClock, this);
    ackWaitElement->spinBox()->setRange(SVelmoraConf::kMinComAckWaitMs, SVelmoraConf::kMaxComAckWaitMs);
    ackWaitElement->spinBox()->setSingleStep(250);
    extraLayout->addWidget(ackWaitElement);
    fallbackElement = new CVelmoraEditElementWidget(tr("Fallback output:"), QString(), kImageComPort, this);
    fallbackElement->lineEdit()->setPlaceholderText(tr("none"));
    extraLayout->addWidget(fallbackElement);
    extraLayout->addStretch(1);
    // Long labels wrap instead of pushing the fields out of sight behind a
    // horizontal scroll bar.
    extraScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (QLabel *label : extraRows->findChildren<QLabel *>())
        label->setWordWrap(true);

    comGroupBox = new QGroupBox(tr("COM-Settings:"), this);
    auto *comLayout = new QVBoxLayout(comGroupBox);
    groupsLayout->addWidget(comGroupBox);
    groupsLayout->addWidget(extraGroupBox, 1);
    comNameElement = new CVelmoraComboBoxElementWidget(tr("COM:"), {}, {}, kImageComPort, this);
    // A port the list does not offer (a device path, the address of
    // monitoring software listening on TCP) can be typed in.
    comNameElement->comboBox()->setEditable(true);
    comNameElement->comboBox()->setInsertPolicy(QComboBox::NoInsert);
    baudRateElement = new CVelmoraComboBoxElementWidget(tr("Baudrate:"), {}, {}, kImageComPort, this);
    dataBitsElement = new CVelmoraComboBoxElementWidget(tr("Databits:"), {}, {}, kImageComPort, this);
    parityElement = new CVelmoraComboBoxElementWidget(tr("Parity:"), {}, {}, kImageComPort, this);
    stopBitsElement = new CVelmoraComboBoxElementWidget(tr("Stopbits:"), {}, {}, kImageComPort, this);
    serverElement = new CVelmoraEditElementWidget(tr("Server:"), QString(), kImageServer, this);
    serverElement->lineEdit()->setMaxLength(kServerLength);
    serverElement->setDigitsOnly();
    lineElement = new CVelmoraEditElementWidget(tr("Line:"), QString(), kImageLine, this);
    lineElement->lineEdit()->setMaxLength(kLineLength);
    lineElement->setDigitsOnly();
    keepAliveElement = new CVelmoraSpinBoxElementWidget(tr("Keepalive time (secs):"), kDefaultKeepAlive,
                                                        kImageClock, this);
    keepAliveElement->spinBox()->setRange(kMinKeepAlive, kMaxKeepAlive);
    useTimeElement = new CVelmoraComboBoxElementWidget(tr("Append time:"), {}, {}, kImageComPort, this);
    for (QWidget *row : {static_cast<QWidget *>(comNameElement), static_cast<QWidget *>(baudRateElement),
                         static_cast<QWidget *>(dataBitsElement), static_cast<QWidget *>(parityElement),
                         static_cast<QWidget *>(stopBitsElement), static_cast<QWidget *>(serverElement),
                         static_cast<QWidget *>(lineElement), static_cast<QWidget *>(keepAliveElement),
                         static_cast<QWidget *>(useTimeElement)})
        comLayout->addWidget(row);

    QFont buttonFont;
    buttonFont.setWeight(QFont::Bold);
    applyPushButton = new QPushButton(iconFromId(kImageOk), tr("Apply"), this);
    applyPushButton->setFont(buttonFont);
    cancelPushButton = new QPushButton(iconFromId(kImageError), tr("Cancel"), this);
    cancelPushButton->setFont(buttonFont);
    connect(applyPushButton, &QPushButton::clicked, this, &VelmoraConfWidget::applySlot);
    connect(cancelPushButton, &QPushButton::clicked, this, &VelmoraConfWidget::cancelSlot);
    auto *buttonLayout = new QHBoxLayout();
    buttonLayout->addItem(new QSpacerItem(kSpacerSize, kSpacerSize, QSizePolicy::Expanding, QSizePolicy::Minimum));
    buttonLayout->addWidget(applyPushButton);
    buttonLayout->addWidget(cancelPushButton);
    mainLayout->addLayout(buttonLayout);

    setFixedSize(kPanelWidth, kPanelHeight);
}

void VelmoraConfWidget::setApplicationDirectory(const QString &directory)
{
    applicationDirectory = directory;
}

void VelmoraConfWidget::setMachinePortLister(std::function<QStringList()> lister)
{
    machinePortLister = std::move(lister);
}

void VelmoraConfWidget::loadConf()
{
    const SVelmoraConf *conf = VelmoraCommon_GetConf();

    comNameElement->setItems(comPortChoices(conf->comName, machinePortLister ? machinePortLister() : QStringList()),
                             {});
    baudRateElement->setItems(baudRateItems(), {});
    dataBitsElement->setItems(dataBitsItems(), {});
    parityElement->setItems({tr("No Parity"), tr("Odd Parity"), tr("Even Parity")}, {});
    stopBitsElement->setItems(stopBitsItems(), {});

    // The spin boxes hold values outside their range at the nearest limit,
    // and "Apply" then stores what is shown.
    portElement->spinBox()->setValue(conf->tcpPort);

    // The configured name is always among the choices; only an empty one
    // falls back to the first numbered port.
    const int comIndex = comNameElement->comboBox()->findText(conf->comName, Qt::MatchExactly | Qt::MatchCaseSensitive);
    const int firstNumbered = comNameElement->comboBox()->findText(QStringLiteral("COM1"), Qt::MatchExactly);
    comNameElement->comboBox()->setCurrentIndex(comIndex < 0 ? firstNumbered : comIndex);

    useTimeElement->setItems({tr("No"), tr("Yes")}, {});

    baudRateElement->comboBox()->setCurrentIndex(checkBaudRateIndex(conf->baudRateIndex));
    dataBitsElement->comboBox()->setCurrentIndex(checkThreeWayIndex(conf->dataBitsIndex));
    parityElement->comboBox()->setCurrentIndex(checkThreeWayIndex(conf->parityIndex));
    stopBitsElement->comboBox()->setCurrentIndex(checkStopBitsIndex(conf->stopBitsIndex));

    // setText cuts a longer value to the field's maximum length.
    serverElement->lineEdit()->setText(conf->server);
    lineElement->lineEdit()->setText(conf->line);

    keepAliveElement->spinBox()->setValue(conf->keepAlive);
    logDaysElement->spinBox()->setValue(conf->logDays);
    supervisionElement->spinBox()->setValue(conf->supervisionS);
    devicesElement->comboBox()->setCurrentIndex(conf->onlyListedDevices() ? 1 : 0);
    httpAddressElement->lineEdit()->setText(conf->httpAddress);
    const bool passwordSet = VelmoraPasswordHash::isHash(conf->httpPasswordHash);
    httpPasswordElement->lineEdit()->clear();
    httpPasswordElement->lineEdit()->setPlaceholderText(passwordSet ? tr("set") : tr("none"));
    httpPasswordElement->lineEdit()->setToolTip(passwordSet ? tr("set; type a new one to change it")
                                                            : tr("none: the page is read-only"));
    httpPasswordClearBox->setChecked(false);
    httpPasswordClearBox->setEnabled(passwordSet);
    ackWaitElement->spinBox()->setValue(conf->comAckWaitMs);
    fallbackElement->lineEdit()->setText(conf->comFallback);

    // An index the list does not have leaves the row without a selection.
    useTimeElement->comboBox()->setCurrentIndex(conf->useTime);
}

void VelmoraConfWidget::applySlot()
{
    // An address that cannot be connected to is refused here, with the
    // panel left open to mend it, rather than found out in the log later.
    const QString comName = comNameElement->comboBox()->currentText();
    if (comName.isEmpty()) {
        QMessageBox::warning(this, VelmoraProgram::warningTitle(), tr("Choose or type the port name."));
        return;
    }
    const QString fallbackName = fallbackElement->lineEdit()->text().trimmed();
    if (fallbackName == comName) {
        QMessageBox::warning(this, VelmoraProgram::warningTitle(),
                             tr("The fallback output has to be another port or address than \"COM:\"."));
        return;
    }
    for (const QString &name : {comName, fallbackName}) {
        TcpAddress address;
        std::string reason;
        if (TcpAddressName::hasScheme(name.toStdString()) && !TcpAddressName::parse(name.toStdString(), address, reason)) {
            QMessageBox::warning(this, VelmoraProgram::warningTitle(),
                                 tr("\"%1\" is not a valid address. Write it as tcp://HOST:PORT with a port "
                                    "from 1 to 65535, for example tcp://192.168.1.10:1025.")
                                     .arg(name));
            return;
        }
    }

    const QString httpAddress = httpAddressElement->lineEdit()->text().trimmed();
    const QString typedPassword = httpPasswordElement->lineEdit()->text();
    QString httpPasswordHash = VelmoraCommon_GetConf()->httpPasswordHash;
    if (httpPasswordClearBox->isChecked())
        httpPasswordHash.clear();
    if (!typedPassword.isEmpty())
        httpPasswordHash = VelmoraPasswordHash::make(typedPassword);
    QString httpHost;
    int httpPort = 0;
    if (!httpAddress.isEmpty() && !VelmoraStatusEndpoint::parseAddress(httpAddress, &httpHost, &httpPort)) {
        QMessageBox::warning(this, VelmoraProgram::warningTitle(),
                             tr("\"%1\" is not a valid status page address. Write it as ADDRESS:PORT, for example "
                                "127.0.0.1:8080, or leave it empty.")
                                 .arg(httpAddress));
        return;
    }
    if (!httpAddress.isEmpty() && !VelmoraStatusEndpoint::isLoopback(httpHost)
        && !VelmoraPasswordHash::isHash(httpPasswordHash)) {
        QMessageBox::warning(this, VelmoraProgram::warningTitle(),
                             tr("The status page on %1, which is not a loopback address, needs a password.")
                                 .arg(httpAddress));
        return;
    }

    SVelmoraConf *conf = VelmoraCommon_GetConf();
    conf->tcpPort = portElement->spinBox()->value();
    conf->comName = comName;
    conf->baudRateIndex = checkBaudRateIndex(baudRateElement->comboBox()->currentIndex());
    conf->dataBitsIndex = checkThreeWayIndex(dataBitsElement->comboBox()->currentIndex());
    conf->parityIndex = checkThreeWayIndex(parityElement->comboBox()->currentIndex());
    conf->stopBitsIndex = checkStopBitsIndex(stopBitsElement->comboBox()->currentIndex());
    conf->server = serverElement->lineEdit()->text();
    conf->line = lineElement->lineEdit()->text();
    conf->keepAlive = keepAliveElement->spinBox()->value();
    conf->useTime = useTimeElement->comboBox()->currentIndex();
    conf->logDays = logDaysElement->spinBox()->value();
    conf->supervisionS = supervisionElement->spinBox()->value();
    conf->devices = QLatin1String(devicesElement->comboBox()->currentIndex() == 1 ? SVelmoraConf::kDevicesListed
                                                                                  : SVelmoraConf::kDevicesAll);
    conf->httpAddress = httpAddress;
    conf->httpPasswordHash = httpPasswordHash;
    httpPasswordElement->lineEdit()->clear();
    conf->comAckWaitMs = ackWaitElement->spinBox()->value();
    conf->comFallback = fallbackName;

    const QString confDirectory = VelmoraProgram::confDirectory(applicationDirectory);
    if (!QDir(confDirectory).exists())
        QDir().mkpath(confDirectory);
    const QString confPath = VelmoraProgram::confFilePath(applicationDirectory);
    // The record holds the new values and the workers are restarted with them
    // either way; but a file that was not written brings the old settings back
    // at the next start, so the user has to hear of it.
    if (VelmoraCommon_WriteConf(conf, confPath) != 1) {
        VelmoraCommon_LogError(QStringLiteral("[%1] Can not write configuration file %2.").arg(VelmoraProgram::name(), confPath));
        QMessageBox::warning(this, VelmoraProgram::warningTitle(),
                             QStringLiteral("Невозможно сохранить настройки! Запустите программу с правами администратора!"));
    }

    emit applySignal();
    close();
}

void VelmoraConfWidget::cancelSlot()
{
    close();
}
