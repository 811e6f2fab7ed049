#include "cvelmoracomboboxelementwidget.h"
#include "cvelmoraeditelementwidget.h"
#include "cvelmoraspinboxelementwidget.h"
#include "comportchoices.h"
#include "velmoraconf.h"
#include "velmoraconfwidget.h"
#include "velmoraimages.h"
#include "velmoralog.h"
#include "velmorapasswordhash.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

// Answers the next modal message box from the event loop that runs it.
class NextBoxAnswer
{
public:
    explicit NextBoxAnswer(std::function<void(QMessageBox *)> answer)
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this, answer]() {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            timer.stop();
            title = box->windowTitle();
            text = box->text();
            answer(box);
        });
        timer.start();
    }
    QString title;
    QString text;

private:
    QTimer timer;
};

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The text a row shows, whatever its editor.
QString shownText(QWidget *row)
{
    if (auto *combo = qobject_cast<CVelmoraComboBoxElementWidget *>(row))
        return combo->comboBox()->currentText();
    if (auto *spin = qobject_cast<CVelmoraSpinBoxElementWidget *>(row))
        return QString::number(spin->spinBox()->value());
    if (auto *edit = qobject_cast<CVelmoraEditElementWidget *>(row))
        return edit->lineEdit()->text();
    return QStringLiteral("<no row>");
}

QString labelOf(QWidget *row)
{
    if (auto *combo = qobject_cast<CVelmoraComboBoxElementWidget *>(row))
        return combo->labelText();
    if (auto *spin = qobject_cast<CVelmoraSpinBoxElementWidget *>(row))
        return spin->labelText();
    if (auto *edit = qobject_cast<CVelmoraEditElementWidget *>(row))
        return edit->labelText();
    return QString();
}

int iconOf(QWidget *row)
{
    if (auto *combo = qobject_cast<CVelmoraComboBoxElementWidget *>(row))
        return combo->iconId();
    if (auto *spin = qobject_cast<CVelmoraSpinBoxElementWidget *>(row))
        return spin->iconId();
    if (auto *edit = qobject_cast<CVelmoraEditElementWidget *>(row))
        return edit->iconId();
    return 0;
}

QWidget *rowByLabel(const VelmoraConfWidget &panel, const QString &label)
{
    const QList<QWidget *> rows = {panel.portRow(),   panel.comNameRow(), panel.baudRateRow(),  panel.dataBitsRow(),
                                   panel.parityRow(), panel.stopBitsRow(), panel.serverRow(),   panel.lineRow(),
                                   panel.keepAliveRow(), panel.useTimeRow(), panel.logDaysRow(),
                                   panel.ackWaitRow(), panel.fallbackRow()};
    for (QWidget *row : rows) {
        if (labelOf(row) == label)
            return row;
    }
    return nullptr;
}

// Sets one field of the record from text, by the row label that shows it.
void setField(SVelmoraConf *conf, const QString &label, const QString &value)
{
    if (label == QLatin1String("Port:"))
        conf->tcpPort = value.toInt();
    else if (label == QLatin1String("COM:"))
        conf->comName = value;
    else if (label == QLatin1String("Baudrate:"))
        conf->baudRateIndex = value.toInt();
    else if (label == QLatin1String("Server:"))
        conf->server = value;
    else if (label == QLatin1String("Line:"))
        conf->line = value;
    else if (label == QLatin1String("Keepalive time (secs):"))
        conf->keepAlive = value.toInt();
    else if (label == QLatin1String("Append time:"))
        conf->useTime = value.toInt();
    else if (label == QLatin1String("Keep day logs (days, 0 = all):"))
        conf->logDays = value.toInt();
    else if (label == QLatin1String("ACK wait (ms):"))
        conf->comAckWaitMs = value.toInt();
    else if (label == QLatin1String("Fallback output:"))
        conf->comFallback = value;
    else
        QFAIL("unknown row");
}

QString storedField(const SVelmoraConf *conf, const QString &label)
{
    if (label == QLatin1String("Port:"))
        return QString::number(conf->tcpPort);
    if (label == QLatin1String("COM:"))
        return conf->comName;
    if (label == QLatin1String("Baudrate:"))
        return QString::number(conf->baudRateIndex);
    if (label == QLatin1String("Server:"))
        return conf->server;
    if (label == QLatin1String("Line:"))
        return conf->line;
    if (label == QLatin1String("Keepalive time (secs):"))
        return QString::number(conf->keepAlive);
    if (label == QLatin1String("Append time:"))
        return QString::number(conf->useTime);
    if (label == QLatin1String("Keep day logs (days, 0 = all):"))
        return QString::number(conf->logDays);
    if (label == QLatin1String("ACK wait (ms):"))
        return QString::number(conf->comAckWaitMs);
    if (label == QLatin1String("Fallback output:"))
        return conf->comFallback;
    return QStringLiteral("<unknown>");
}

} // namespace

class TestVelmoraConfWidget : public QObject
{
    Q_OBJECT

private:
    QString confPath() const { return appDir->path() + QStringLiteral("/conf/Lumari.conf"); }
    std::unique_ptr<QTemporaryDir> appDir;
    std::unique_ptr<VelmoraConfWidget> panel;

private slots:
    void init()
    {
        appDir = std::make_unique<QTemporaryDir>();
        QVERIFY(appDir->isValid());
        QVERIFY(QDir().mkpath(appDir->path() + QStringLiteral("/log")));
        VelmoraCommon_LogInit(appDir->path() + QStringLiteral("/log/"), kLogDebug);
        VelmoraCommon_SetDefaultConf(VelmoraCommon_GetConf());
        panel = std::make_unique<VelmoraConfWidget>();
        panel->setApplicationDirectory(appDir->path());
        // The machine's own ports would make the lists depend on where the
        // test runs; the tests that need some give their own.
        panel->setMachinePortLister([]() { return QStringList(); });
    }
    void cleanup()
    {
        panel.reset();
        appDir.reset();
    }

    void defaultRecordShown_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("shown");
        QTest::newRow("TCP port") << "Port:" << int(kImagePort) << "55555";
        QTest::newRow("COM name") << "COM:" << int(kImageComPort) << "COM1";
        QTest::newRow("baud rate") << "Baudrate:" << int(kImageComPort) << "19200";
        QTest::newRow("data bits") << "Databits:" << int(kImageComPort) << "8";
        QTest::newRow("parity") << "Parity:" << int(kImageComPort) << "No Parity";
        QTest::newRow("stop bits") << "Stopbits:" << int(kImageComPort) << "1";
        QTest::newRow("server") << "Server:" << int(kImageServer) << "01";
        QTest::newRow("line") << "Line:" << int(kImageLine) << "1";
        QTest::newRow("keepalive") << "Keepalive time (secs):" << int(kImageClock) << "60";
        QTest::newRow("append time") << "Append time:" << int(kImageComPort) << "No";
    }
    void defaultRecordShown()
    {
        QFETCH(QString, label);
        QFETCH(int, icon);
        QFETCH(QString, shown);
        panel->loadConf();
        QWidget *row = rowByLabel(*panel, label);
        QVERIFY2(row, qPrintable(label));
        QCOMPARE(shownText(row), shown);
        QCOMPARE(iconOf(row), icon);
    }

    void itemListsInIndexOrder()
    {
        panel->loadConf();
        auto items = [](CVelmoraComboBoxElementWidget *row) {
            QStringList texts;
            for (int i = 0; i < row->comboBox()->count(); ++i)
                texts << row->comboBox()->itemText(i);
            return texts;
        };
        const QStringList comNames = items(panel->comNameRow());
        QCOMPARE(comNames.size(), 99);
        QCOMPARE(comNames.first(), QStringLiteral("COM1"));
        QCOMPARE(comNames.last(), QStringLiteral("COM99"));
        QCOMPARE(items(panel->baudRateRow()),
                 QStringList({"75", "110", "300", "1200", "2400", "4800", "9600", "19200", "38400", "57600",
                              "115200"}));
        QCOMPARE(items(panel->dataBitsRow()), QStringList({"7", "8", "9"}));
        QCOMPARE(items(panel->parityRow()), QStringList({"No Parity", "Odd Parity", "Even Parity"}));
        QCOMPARE(items(panel->stopBitsRow()), QStringList({"1", "2"}));
        QCOMPARE(items(panel->useTimeRow()), QStringList({"No", "Yes"}));

        // Loading again replaces the items instead of adding to them.
        panel->loadConf();
        QCOMPARE(items(panel->comNameRow()).size(), 99);
        QCOMPARE(items(panel->useTimeRow()).size(), 2);
    }

    // Values the editors cannot show are shown adjusted, and "Apply" stores
    // what is shown.
    void valuesAdjustedOnTheWayIn_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("stored");
        QTest::newRow("port 80 below the range") << "Port:" << "80" << "1025" << "1025";
        QTest::newRow("port 70000 above the range") << "Port:" << "70000" << "65000" << "65000";
        QTest::newRow("port 6000 kept") << "Port:" << "6000" << "6000" << "6000";
        QTest::newRow("keepalive 0 below the range") << "Keepalive time (secs):" << "0" << "5" << "5";
        QTest::newRow("keepalive 600 above the range") << "Keepalive time (secs):" << "600" << "99" << "99";
        QTest::newRow("COM100 beyond the numbered ports kept") << "COM:" << "COM100" << "COM100" << "COM100";
        QTest::newRow("com7 in lower case kept as written") << "COM:" << "com7" << "com7" << "com7";
        QTest::newRow("device path kept") << "COM:" << "/dev/ttyUSB0" << "/dev/ttyUSB0" << "/dev/ttyUSB0";
        QTest::newRow("empty name shown as COM1") << "COM:" << "" << "COM1" << "COM1";
        QTest::newRow("COM42 in the list") << "COM:" << "COM42" << "COM42" << "COM42";
        QTest::newRow("three-digit server cut to two") << "Server:" << "123" << "12" << "12";
        QTest::newRow("two-digit line cut to one") << "Line:" << "34" << "3" << "3";
        QTest::newRow("baud index 10 kept") << "Baudrate:" << "10" << "115200" << "10";
        QTest::newRow("append time yes") << "Append time:" << "1" << "Yes" << "1";
        QTest::newRow("append time 2 leaves no selection") << "Append time:" << "2" << "" << "-1";
        QTest::newRow("append time -1 leaves no selection") << "Append time:" << "-1" << "" << "-1";
        QTest::newRow("day logs kept 30 days") << "Keep day logs (days, 0 = all):" << "30" << "30" << "30";
        QTest::newRow("day logs kept for ever") << "Keep day logs (days, 0 = all):" << "0" << "0" << "0";
        QTest::newRow("ack wait 4000 kept") << "ACK wait (ms):" << "4000" << "4000" << "4000";
        QTest::newRow("ack wait 20000 above the range") << "ACK wait (ms):" << "20000" << "9900" << "9900";
        QTest::newRow("fallback tcp address kept") << "Fallback output:" << "tcp://127.0.0.1:1025"
                                                   << "tcp://127.0.0.1:1025" << "tcp://127.0.0.1:1025";
        QTest::newRow("no fallback") << "Fallback output:" << "" << "" << "";
    }
    void valuesAdjustedOnTheWayIn()
    {
        QFETCH(QString, label);
        QFETCH(QString, value);
        QFETCH(QString, shown);
        QFETCH(QString, stored);
        setField(VelmoraCommon_GetConf(), label, value);
        panel->loadConf();
        QCOMPARE(shownText(rowByLabel(*panel, label)), shown);

        QTest::mouseClick(panel->applyButton(), Qt::LeftButton);
        QCOMPARE(storedField(VelmoraCommon_GetConf(), label), stored);
        SVelmoraConf fromFile;
        QCOMPARE(VelmoraCommon_ReadConf(confPath(), &fromFile), 0);
        QCOMPARE(storedField(&fromFile, label), stored);
    }

    void digitFieldsRefuseOtherCharacters_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("server, letters among digits") << "Server:" << "a1b2c" << "12";
        QTest::newRow("server, sign and space") << "Server:" << "-+ 7" << "7";
        QTest::newRow("server, punctuation") << "Server:" << ".9," << "9";
        QTest::newRow("line, letters only") << "Line:" << "xyz" << "";
        // They go out on the serial line as they are: only ASCII digits fit.
        QTest::newRow("server, Arabic-Indic digits") << "Server:" << QString::fromUtf8("\u0661\u0662") << "";
        QTest::newRow("line, fullwidth digit") << "Line:" << QString::fromUtf8("\uff13") << "";
        QTest::newRow("line, second digit beyond the length") << "Line:" << "45" << "4";
    }
    void digitFieldsRefuseOtherCharacters()
    {
        QFETCH(QString, label);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        panel->loadConf();
        auto *row = qobject_cast<CVelmoraEditElementWidget *>(rowByLabel(*panel, label));
        QVERIFY(row);
        row->lineEdit()->clear();
        for (const QChar character : typed) {
            // keyClick() knows only ASCII keys; other characters come as the
            // text of a key without a code, the way an input method sends them.
            if (character.unicode() < 0x80)
                QTest::keyClick(row->lineEdit(), character.toLatin1());
            else
                QTest::sendKeyEvent(QTest::Click, row->lineEdit(), Qt::Key_unknown, QString(character), Qt::NoModifier);
        }
        QCOMPARE(row->lineEdit()->text(), shown);
    }

    void emptyDigitFieldsStoredEmpty()
    {
        panel->loadConf();
        for (CVelmoraEditElementWidget *row : {panel->serverRow(), panel->lineRow()}) {
            row->lineEdit()->selectAll();
            QTest::keyClick(row->lineEdit(), Qt::Key_Backspace);
            QCOMPARE(row->lineEdit()->text(), QString());
        }
        QTest::mouseClick(panel->applyButton(), Qt::LeftButton);
        QCOMPARE(VelmoraCommon_GetConf()->server, QString());
        QCOMPARE(VelmoraCommon_GetConf()->line, QString());
        QCOMPARE(fileBytes(confPath()).count("value=\"\"/>"), 2);
        SVelmoraConf fromFile;
        QCOMPARE(VelmoraCommon_ReadConf(confPath(), &fromFile), 0);
        QCOMPARE(fromFile.server, QString());
        QCOMPARE(fromFile.line, QString());
    }

    void applyWithDefaultsWritesTheDefaultFile()
    {
        const QString referencePath = appDir->path() + QStringLiteral("/reference.conf");
        SVelmoraConf defaults;
        VelmoraCommon_SetDefaultConf(&defaults);
        QCOMPARE(VelmoraCommon_WriteConf(&defaults, referencePath), 1);

        // No conf directory yet: "Apply" creates it.
        panel->loadConf();
        QTest::mouseClick(panel->applyButton(), Qt::LeftButton);
        QCOMPARE(fileBytes(confPath()), fileBytes(referencePath));
    }

    void portChoices_data()
    {
        QTest::addColumn<QString>("configured");
        QTest::addColumn<QStringList>("machine");
        QTest::addColumn<QStringList>("head");
        QTest::addColumn<int>("count");
        QTest::newRow("default name, no machine ports") << "COM1" << QStringList() << QStringList({"COM1", "COM2"}) << 99;
        QTest::newRow("device path first, then the numbered ports")
            << "/dev/ttyUSB0" << QStringList() << QStringList({"/dev/ttyUSB0", "COM1"}) << 100;
        QTest::newRow("machine ports before the numbered ones")
            << "COM3" << QStringList({"/dev/ttyACM0", "/dev/ttyUSB0"})
            << QStringList({"/dev/ttyACM0", "/dev/ttyUSB0", "COM1"}) << 101;
        QTest::newRow("configured machine port listed once")
            << "/dev/ttyUSB0" << QStringList({"/dev/ttyACM0", "/dev/ttyUSB0"})
            << QStringList({"/dev/ttyACM0", "/dev/ttyUSB0", "COM1"}) << 101;
        QTest::newRow("a machine COM port within 1..99 not repeated")
            << "COM1" << QStringList({"COM3", "COM120"}) << QStringList({"COM120", "COM1"}) << 100;
        QTest::newRow("empty configured name adds nothing") << "" << QStringList() << QStringList({"COM1"}) << 99;
        QTest::newRow("an address first")
            << "tcp://127.0.0.1:1025" << QStringList({"/dev/ttyUSB0"})
            << QStringList({"tcp://127.0.0.1:1025", "/dev/ttyUSB0", "COM1"}) << 101;
    }
    void portChoices()
    {
        QFETCH(QString, configured);
        QFETCH(QStringList, machine);
        QFETCH(QStringList, head);
        QFETCH(int, count);
        QStringList choices = comPortChoices(configured, machine);
        QCOMPARE(choices.mid(0, head.size()), head);
        QCOMPARE(choices.size(), count);
        QCOMPARE(choices.last(), QStringLiteral("COM99"));
        QCOMPARE(choices.removeDuplicates(), 0);
    }

    // A port the panel did not have to offer once: "Apply" moved the running
    // program to COM1 and rewrote the file.
    void applyWithoutChangeKeepsADevicePathByteForByte()
    {
        SVelmoraConf inFile;
        VelmoraCommon_SetDefaultConf(&inFile);
        inFile.comName = QStringLiteral("/dev/ttyUSB0");
        inFile.keepAlive = 30;
        QVERIFY(QDir().mkpath(appDir->path() + QStringLiteral("/conf")));
        QCOMPARE(VelmoraCommon_WriteConf(&inFile, confPath()), 1);
        const QByteArray before = fileBytes(confPath());
        QCOMPARE(VelmoraCommon_ReadConf(confPath(), VelmoraCommon_GetConf()), 0);

        panel->setMachinePortLister([]() { return QStringList({"/dev/ttyACM0", "/dev/ttyUSB0"}); });
        panel->loadConf();
        QCOMPARE(panel->comNameRow()->comboBox()->currentText(), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(panel->comNameRow()->comboBox()->findText(QStringLiteral("/dev/ttyACM0")), 0);
        QTest::mouseClick(panel->applyButton(), Qt::LeftButton);
        QCOMPARE(fileBytes(confPath()), before);
        QCOMPARE(VelmoraCommon_GetConf()->comName, QStringLiteral("/dev/ttyUSB0"));
    }

    // Monitoring software reached over TCP: its address stays the choice
    // through "Apply", and a new one can be typed in.
    void addressKeptAndTyped()
    {
        SVelmoraConf *conf = VelmoraCommon_GetConf();
        conf->comName = QStringLiteral("tcp://[::1]:1025");
        panel->loadConf();
        QComboBox *combo = panel->comNameRow()->comboBox();
        QCOMPARE(combo->currentText(), QStringLiteral("tcp://[::1]:1025"));
        QSignalSpy applied(panel.get(), &VelmoraConfWidget::applySignal);
        QTest::mouseClick(panel->applyButton(), Qt::LeftButton);
        QCOMPARE(applied.count(), 1);
        QCOMPARE(conf->comName, QStringLiteral("tcp://[::1]:1025"));
        SVelmoraConf inFile;
        QCOMPARE(VelmoraCommon_ReadConf(confPath(), &inFile), 0);
        QCOMPARE(inFile.comName, QStringLiteral("tcp://[::1]:1025"));

        panel->loadConf();
        panel->show();
        QVERIFY(combo->isEditable());
        combo->lineEdit()->selectAll();
        QTest::keyClicks(combo->lineEdit(), QStringLiteral("tcp://monitoring.local:1025"));
        QTest::mouseClick(panel->applyButton(), Qt::LeftButton);
        QCOMPARE(applied.count(), 2);
        QCOMPARE(conf->comName, QStringLiteral("tcp://monitoring.local:1025"));
        QVERIFY(!panel->isVisible());
    }

    // A name the program could never open is refused with the reason, the
    // panel stays open, and nothing is stored.
    void unusableNameRefused_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("fallback");
        QTest::addColumn<QString>("message");
        QTest::newRow("no port") << "tcp://10.0.0.5" << "" << "\"tcp://10.0.0.5\" is not a valid address.";
        QTest::newRow("port too high") << "tcp://10.0.0.5:70000" << ""
                                       << "\"tcp://10.0.0.5:70000\" is not a valid address.";
        QTest::newRow("junk host") << "TCP://a b:1025" << "" << "\"TCP://a b:1025\" is not a valid address.";
        QTest::newRow("nothing") << "" << "" << "Choose or type the port name.";
        QTest::newRow("fallback without a port") << "COM1" << "tcp://10.0.0.5"
                                                 << "\"tcp://10.0.0.5\" is not a valid address.";
        QTest::newRow("fallback the same as the port") << "COM1" << "COM1"
                                                       << "The fallback output has to be another port";
    }
    void unusableNameRefused()
    {
        QFETCH(QString, typed);
        QFETCH(QString, fallback);
        QFETCH(QString, message);
        QVERIFY(QDir().mkpath(appDir->path() + QStringLiteral("/conf")));
        QCOMPARE(VelmoraCommon_WriteConf(VelmoraCommon_GetConf(), confPath()), 1);
        const QByteArray before = fileBytes(confPath());
        QSignalSpy applied(panel.get(), &VelmoraConfWidget::applySignal);
        panel->loadConf();
        panel->show();
        panel->comNameRow()->comboBox()->setEditText(typed);
        panel->fallbackRow()->lineEdit()->setText(fallback);
        NextBoxAnswer answer([](QMessageBox *box) { box->accept(); });
        QTest::mouseClick(panel->applyButton(), Qt::LeftButton);

        QCOMPARE(answer.title, QStringLiteral("Внимание!"));
        QVERIFY2(answer.text.startsWith(message), qPrintable(answer.text));
        QCOMPARE(applied.count(), 0);
        QVERIFY(panel->isVisible());
        QCOMPARE(VelmoraCommon_GetConf()->comName, QStringLiteral("COM1"));
        QCOMPARE(fileBytes(confPath()), before);
    }

    // Each opening asks the machine again: an adapter plugged in while the
    // panel was hidden is offered the next time.
    void machinePortsAskedAtEveryOpening()
    {
        QStringList present;
        panel->setMachinePortLister([&present]() { return present; });
        panel->loadConf();
        QCOMPARE(panel->comNameRow()->comboBox()->findText(QStringLiteral("/dev/ttyUSB1")), -1);
        present << QStringLiteral("/dev/ttyUSB1");
        panel->loadConf();
        QCOMPARE(panel->comNameRow()->comboBox()->findText(QStringLiteral("/dev/ttyUSB1")), 0);
        QCOMPARE(panel->comNameRow()->comboBox()->currentText(), QStringLiteral("COM1"));
    }

    void applyStoresEveryRowThenSignalsThenHides()
    {
        panel->loadConf();
        panel->show();
        panel->portRow()->spinBox()->setValue(6001);
        panel->comNameRow()->comboBox()->setCurrentIndex(2);
        panel->baudRateRow()->comboBox()->setCurrentIndex(10);
        panel->dataBitsRow()->comboBox()->setCurrentIndex(0);
        panel->parityRow()->comboBox()->setCurrentIndex(2);
        panel->stopBitsRow()->comboBox()->setCurrentIndex(1);
        panel->serverRow()->lineEdit()->setText(QStringLiteral("07"));
        panel->lineRow()->lineEdit()->setText(QStringLiteral("3"));
        panel->keepAliveRow()->spinBox()->setValue(15);
        panel->useTimeRow()->comboBox()->setCurrentIndex(1);

        // What the window relies on: when the signal comes, record and file
        // hold the new values already.
        SVelmoraConf fileAtSignal;
        int emitted = 0;
        connect(panel.get(), &VelmoraConfWidget::applySignal, this, [&]() {
            ++emitted;
            VelmoraCommon_ReadConf(confPath(), &fileAtSignal);
        });
        QTest::mouseClick(panel->applyButton(), Qt::LeftButton);

        QCOMPARE(emitted, 1);
        QVERIFY(!panel->isVisible());
        for (const SVelmoraConf *conf : {static_cast<const SVelmoraConf *>(VelmoraCommon_GetConf()),
                                         static_cast<const SVelmoraConf *>(&fileAtSignal)}) {
            QCOMPARE(conf->tcpPort, 6001);
            QCOMPARE(conf->comName, QStringLiteral("COM3"));
            QCOMPARE(conf->baudRateIndex, 10);
            QCOMPARE(conf->dataBitsIndex, 0);
            QCOMPARE(conf->parityIndex, 2);
            QCOMPARE(conf->stopBitsIndex, 1);
            QCOMPARE(conf->server, QStringLiteral("07"));
            QCOMPARE(conf->line, QStringLiteral("3"));
            QCOMPARE(conf->keepAlive, 15);
            QCOMPARE(int(conf->useTime), 1);
        }
    }

    void cancelLeavesRecordAndFileAlone()
    {
        VelmoraCommon_GetConf()->tcpPort = 6002;
        QVERIFY(QDir().mkpath(appDir->path() + QStringLiteral("/conf")));
        QCOMPARE(VelmoraCommon_WriteConf(VelmoraCommon_GetConf(), confPath()), 1);
        const QByteArray before = fileBytes(confPath());

        QSignalSpy applied(panel.get(), &VelmoraConfWidget::applySignal);
        panel->loadConf();
        panel->show();
        panel->portRow()->spinBox()->setValue(7000);
        panel->serverRow()->lineEdit()->setText(QStringLiteral("99"));
        panel->useTimeRow()->comboBox()->setCurrentIndex(1);
        QTest::mouseClick(panel->cancelButton(), Qt::LeftButton);

        QVERIFY(!panel->isVisible());
        QCOMPARE(applied.count(), 0);
        QCOMPARE(VelmoraCommon_GetConf()->tcpPort, 6002);
        QCOMPARE(VelmoraCommon_GetConf()->server, QStringLiteral("01"));
        QCOMPARE(int(VelmoraCommon_GetConf()->useTime), 0);
        QCOMPARE(fileBytes(confPath()), before);

        panel->loadConf();
        QCOMPARE(shownText(panel->portRow()), QStringLiteral("6002"));
        QCOMPARE(shownText(panel->serverRow()), QStringLiteral("01"));
        QCOMPARE(shownText(panel->useTimeRow()), QStringLiteral("No"));
    }

    // A file that cannot be written must not pass as saved: the user is told,
    // and the new values still reach the record and the workers.
    void unwritableFileReported()
    {
        QFile blocker(appDir->path() + QStringLiteral("/conf"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();

        QSignalSpy applied(panel.get(), &VelmoraConfWidget::applySignal);
        panel->loadConf();
        panel->portRow()->spinBox()->setValue(6003);
        NextBoxAnswer answer([](QMessageBox *box) { box->accept(); });
        QTest::mouseClick(panel->applyButton(), Qt::LeftButton);

        QCOMPARE(answer.title, QStringLiteral("Внимание!"));
        QVERIFY2(answer.text.startsWith(QStringLiteral("Невозможно сохранить настройки!")), qPrintable(answer.text));
        QCOMPARE(applied.count(), 1);
        QCOMPARE(VelmoraCommon_GetConf()->tcpPort, 6003);
        const QString dayLog = QString::fromUtf8(fileBytes(
            appDir->path() + QStringLiteral("/log/") + QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))
            + QStringLiteral("_Lumari.log")));
        QVERIFY2(dayLog.contains(QStringLiteral("[error] [Lumari] Can not write configuration file ")),
                 qPrintable(dayLog));
    }

    // The status page's rows: the password is stored as its hash only, and
    // an address the endpoint would refuse is refused here with the reason.
    void statusPageRows_data()
    {
        QTest::addColumn<bool>("hashStored");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("remove");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QString>("password");
        QTest::newRow("loopback without password") << false << "127.0.0.1:8080" << "" << false << "" << "none";
        QTest::newRow("typed password stored as its hash") << false << "[::1]:8080" << "s3cret" << false << "" << "typed";
        QTest::newRow("empty field keeps the stored hash") << true << "127.0.0.1:8080" << "" << false << "" << "old";
        QTest::newRow("remove clears the hash") << true << "" << "" << true << "" << "none";
        QTest::newRow("any address with a password") << false << "0.0.0.0:8080" << "s3cret" << false << "" << "typed";
        QTest::newRow("any address without password refused")
            << false << "0.0.0.0:8080" << "" << false
            << "The status page on 0.0.0.0:8080, which is not a loopback address, needs a password." << "";
        QTest::newRow("removing the password of any address refused")
            << true << "0.0.0.0:8080" << "" << true << "The status page on 0.0.0.0:8080" << "";
        QTest::newRow("host name without port refused")
            << false << "localhost" << "" << false << "\"localhost\" is not a valid status page address." << "";
    }
    void statusPageRows()
    {
        QFETCH(bool, hashStored);
        QFETCH(QString, address);
        QFETCH(QString, typed);
        QFETCH(bool, remove);
        QFETCH(QString, refusal);
        QFETCH(QString, password);
        const QString oldHash = VelmoraPasswordHash::make(QStringLiteral("old"));
        VelmoraCommon_GetConf()->httpPasswordHash = hashStored ? oldHash : QString();
        QSignalSpy applied(panel.get(), &VelmoraConfWidget::applySignal);
        panel->loadConf();
        panel->show();
        QCOMPARE(panel->httpPasswordRow()->lineEdit()->text(), QString());
        QCOMPARE(panel->httpPasswordRow()->lineEdit()->echoMode(), QLineEdit::Password);
        QCOMPARE(panel->httpPasswordClearCheckBox()->isEnabled(), hashStored);
        panel->httpAddressRow()->lineEdit()->setText(address);
        QTest::keyClicks(panel->httpPasswordRow()->lineEdit(), typed);
        panel->httpPasswordClearCheckBox()->setChecked(remove);
        NextBoxAnswer answer([](QMessageBox *box) { box->accept(); });
        QTest::mouseClick(panel->applyButton(), Qt::LeftButton);

        const SVelmoraConf *conf = VelmoraCommon_GetConf();
        if (!refusal.isEmpty()) {
            QVERIFY2(answer.text.startsWith(refusal), qPrintable(answer.text));
            QCOMPARE(applied.count(), 0);
            QCOMPARE(conf->httpAddress, QString());
            QCOMPARE(conf->httpPasswordHash, hashStored ? oldHash : QString());
            return;
        }
        QCOMPARE(applied.count(), 1);
        QCOMPARE(conf->httpAddress, address);
        if (password == QLatin1String("none"))
            QCOMPARE(conf->httpPasswordHash, QString());
        else if (password == QLatin1String("old"))
            QCOMPARE(conf->httpPasswordHash, oldHash);
        else
            QVERIFY(VelmoraPasswordHash::matches(typed, conf->httpPasswordHash));
        const QByteArray file = fileBytes(confPath());
        QCOMPARE(file.contains("LUMARIHTTPPASSWORD"), password != QLatin1String("none"));
        QVERIFY(typed.isEmpty() || !file.contains(typed.toUtf8()));
        QCOMPARE(panel->httpPasswordRow()->lineEdit()->text(), QString());
    }

    void comboRowItemIcons_data()
    {
        QTest::addColumn<QList<int>>("ids");
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<bool>>("withIcon");
        QTest::newRow("no ids: plain items") << QList<int>() << 3 << QList<bool>({false, false, false});
        QTest::newRow("one id per item") << QList<int>({kImageOk, kImageError, kImageClock}) << 3
                                         << QList<bool>({true, true, true});
        QTest::newRow("an id of -1 keeps its item, without icon")
            << QList<int>({kImageOk, -1, kImageClock}) << 3 << QList<bool>({true, false, true});
        QTest::newRow("fewer ids than items: plain items") << QList<int>({kImageOk}) << 3
                                                             << QList<bool>({false, false, false});
    }
    void comboRowItemIcons()
    {
        QFETCH(QList<int>, ids);
        QFETCH(int, count);
        QFETCH(QList<bool>, withIcon);
        CVelmoraComboBoxElementWidget row(QStringLiteral("Row:"), {"a", "b", "c"}, ids, -1);
        QCOMPARE(row.comboBox()->count(), count);
        QCOMPARE(row.iconId(), -1);
        for (int i = 0; i < count; ++i)
            QCOMPARE(!row.comboBox()->itemIcon(i).isNull(), withIcon.at(i));
        QCOMPARE(row.comboBox()->itemText(1), QStringLiteral("b"));
    }

    void comboRowRelaysIndexChanges()
    {
        CVelmoraComboBoxElementWidget row(QStringLiteral("Row:"), {"a", "b"}, {}, kImageComPort);
        QSignalSpy changed(&row, &CVelmoraComboBoxElementWidget::currentIndexChanged);
        row.comboBox()->setCurrentIndex(1);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.first().first().toInt(), 1);
    }
};

QTEST_MAIN(TestVelmoraConfWidget)
#include "tst_velmoraconfwidget.moc"
