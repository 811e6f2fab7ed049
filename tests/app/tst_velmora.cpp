#include "apptestsupport.h"
#include "ptystation.h"
#include "scriptedstation.h"
#include "testdevice.h"
#include "cvelmoraeditelementwidget.h"
#include "velmora.h"
#include "velmoraclock.h"
#include "velmorastartup.h"
#include "velmoracomthread.h"
#include "velmoraconf.h"
#include "velmoraconfwidget.h"
#include "velmoraeventjournal.h"
#include "velmoraeventswindow.h"
#include "velmoraheldeventsmodel.h"
#include "velmoralinealert.h"
#include "velmorainstancelock.h"
#include "velmoralog.h"
#include "velmoranetworkthread.h"
#include "velmoratranslators.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTranslator>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

namespace {

const char kAnswerYesChild[] = "--answer-yes-child";
const int kSettle = 10000;

// The pane as it is once the lines waiting for its next batch are shown.
QStringList paneLines()
{
    QStringList lines;
    Velmora::flushLogView();
    if (!Velmora::logView())
        return lines;
    for (QTextBlock block = Velmora::logView()->document()->begin(); block.isValid(); block = block.next())
        lines << block.text();
    return lines;
}

// A pane line without its date-time prefix ("Sun Dec 6 02:37:38 2026 ").
QString withoutTimePrefix(const QString &line)
{
    static const QRegularExpression prefix(QStringLiteral("^\\S+ \\S+ +\\d+ \\d\\d:\\d\\d:\\d\\d \\d{4} "));
    const QRegularExpressionMatch match = prefix.match(line);
    return match.hasMatch() ? line.mid(match.capturedLength()) : QStringLiteral("<no prefix> ") + line;
}

QStringList dayLogMessages(const QString &appDirectory)
{
    // "2026-12-06 02:37:38 - [info] [Lumari] Starting..." -> "[info] [Lumari] Starting..."
    QStringList messages;
    const QStringList lines = readTextFile(dayLogPath(appDirectory)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines)
        messages << line.section(QStringLiteral(" - "), 1);
    return messages;
}

QByteArray defaultConfFile()
{
    SVelmoraConf defaults;
    VelmoraCommon_SetDefaultConf(&defaults);
    return VelmoraCommon_ConfFileText(defaults);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The child run of yesEndsTheProcessWithCodeZero: returns only if "Yes" did
// not end the process.
int answerYesChild(int argc, char *argv[])
{
    QApplication application(argc, argv);
    Velmora window;
    window.initGui();
    window.show();
    ModalBoxAnswerer answerer([](QMessageBox *box) { clickBoxButton(box, QStringLiteral("Yes")); });
    if (QString::fromLocal8Bit(argv[2]) == QLatin1String("close"))
        window.close();
    else
        window.quitAction()->trigger();
    return 3;
}

} // namespace

class TestVelmora : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> appDir;
    std::unique_ptr<Velmora> window;
    std::unique_ptr<VelmoraStartup> startup;
    std::unique_ptr<PtyStation> comPort;
    quint16 tcpPort = 0;
    // The alert's clock; it outlives every window.
    VelmoraManualClock alertClock;
    // How the listening line names the address, in any language.
    QString listenAddress() const { return QStringLiteral("0.0.0.0:%1.").arg(tcpPort); }

    QString appPath() const { return appDir->path(); }
    QString confPath() const { return appPath() + QStringLiteral("/conf/Lumari.conf"); }

    // A configuration that points the program at a free TCP port and at a
    // pseudo-terminal, so that both workers run without touching real
    // hardware or a port another test may use.
    void writeTestConf(const QString &comName = QString(), int keepAlive = 60)
    {
        SVelmoraConf conf;
        VelmoraCommon_SetDefaultConf(&conf);
        conf.tcpPort = tcpPort;
        conf.keepAlive = keepAlive;
        conf.comName = comName.isEmpty() ? comPort->slavePath() : comName;
        QVERIFY(QDir().mkpath(appPath() + QStringLiteral("/conf")));
        QCOMPARE(VelmoraCommon_WriteConf(&conf, confPath()), 1);
    }

    void createBlockingFile(const QString &name)
    {
        QFile file(appPath() + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    // Both threads are stopped and freed here, the journal after them; in the
    // program they live until the process ends.
    void stopWorkers()
    {
        if (!startup)
            return;
        VelmoraNetworkThread *network = startup->networkWorkerThread();
        VelmoraComThread *com = startup->comWorkerThread();
        for (QThread *thread : {static_cast<QThread *>(network), static_cast<QThread *>(com)}) {
            if (thread) {
                thread->quit();
                QVERIFY(thread->wait(kSettle));
            }
        }
        delete network;
        delete com;
        delete startup->eventJournal();
    }

private slots:
    void init()
    {
        appDir = std::make_unique<QTemporaryDir>();
        QVERIFY(appDir->isValid());
        comPort = std::make_unique<PtyStation>();
        QVERIFY(comPort->isOpen());
        // Silent until a test lets the station acknowledge.
        comPort->setAcknowledging(false);
        tcpPort = unusedTcpPort();
        // Lines logged by tests that do not run init() land here.
        QVERIFY(QDir().mkpath(appPath() + QStringLiteral("/testlog")));
        VelmoraCommon_LogInit(appPath() + QStringLiteral("/testlog/"), kLogDebug);
        VelmoraCommon_SetDefaultConf(VelmoraCommon_GetConf());
        window = std::make_unique<Velmora>();
        window->setApplicationDirectory(appPath());
        startup = std::make_unique<VelmoraStartup>(*window, VelmoraClock::system());
        startup->setApplicationDirectory(appPath());
    }

    void cleanup()
    {
        stopWorkers();
        startup.reset();
        window.reset();
        comPort.reset();
        appDir.reset();
    }

    // ---- start-up ------------------------------------------------------

    void firstStartCreatesDirectoriesAndDefaultFile()
    {
        QCOMPARE(startup->run(), 1);

        QVERIFY(QFileInfo(appPath() + QStringLiteral("/log")).isDir());
        QVERIFY(QFileInfo(appPath() + QStringLiteral("/spool")).isDir());
        QCOMPARE(fileBytes(confPath()), defaultConfFile());
        QVERIFY(!QFile::exists(confPath() + QStringLiteral(".bak")));
        QCOMPARE(VelmoraCommon_GetConf()->tcpPort, 55555);

        const QStringList pane = paneLines();
        QVERIFY(pane.size() >= 2);
        QCOMPARE(withoutTimePrefix(pane.at(0)), QStringLiteral("[Lumari] Запуск..."));
        QCOMPARE(withoutTimePrefix(pane.at(1)), QStringLiteral("[Lumari] Initialization log file was successfull."));
        const QStringList day = dayLogMessages(appPath());
        QVERIFY(day.size() >= 2);
        QCOMPARE(day.at(0), QStringLiteral("[info] [Lumari] Starting..."));
        QCOMPARE(day.at(1), QStringLiteral("[info] [Lumari] Initialization log file was successfull."));

        QVERIFY(window->isVisible());
        QCOMPARE(window->size(), QSize(700, 500));
        QCOMPARE(window->windowTitle(), QStringLiteral("Lumari"));
        QVERIFY(startup->networkWorkerThread());
        QVERIFY(startup->comWorkerThread());
        QVERIFY(startup->eventJournal());
    }

    void existingConfHandled_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("root of another program") << QByteArray("<?xml version=\"1.0\"?><OTHERCONFIG version=\"1.0\"/>")
                                                 << true;
        QTest::newRow("version 2.0") << QByteArray("<?xml version=\"1.0\"?>\n<LUMARICONFIG version=\"2.0\">"
                                                   "<LUMARICOMMON><LUMARIPORT value=\"6000\"/></LUMARICOMMON>"
                                                   "</LUMARICONFIG>")
                                     << true;
        QTest::newRow("version 1.0, only the port") << QByteArray("<?xml version=\"1.0\"?>\n<LUMARICONFIG version=\"1.0\">"
                                                                  "<LUMARICOMMON><LUMARIPORT value=\"@PORT@\"/>"
                                                                  "<LUMARICOMNAME value=\"@COMNAME@\"/>"
                                                                  "</LUMARICOMMON></LUMARICONFIG>")
                                                    << false;
    }
    void existingConfHandled()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, replaced);
        content.replace("@PORT@", QByteArray::number(tcpPort));
        content.replace("@COMNAME@", comPort->slavePath().toLocal8Bit());
        QVERIFY(QDir().mkpath(appPath() + QStringLiteral("/conf")));
        {
            QFile file(confPath());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }

        QCOMPARE(startup->run(), 1);

        if (replaced) {
            QCOMPARE(fileBytes(confPath()), defaultConfFile());
            QCOMPARE(fileBytes(confPath() + QStringLiteral(".bak")), content);
            QCOMPARE(VelmoraCommon_GetConf()->tcpPort, 55555);
        } else {
            QCOMPARE(fileBytes(confPath()), content);
            QVERIFY(!QFile::exists(confPath() + QStringLiteral(".bak")));
            QCOMPARE(VelmoraCommon_GetConf()->tcpPort, int(tcpPort));
            QCOMPARE(VelmoraCommon_GetConf()->keepAlive, 60);
        }
    }

    // Overwriting a file of the user's without a copy would lose it for good.
    void foreignConfLeftAloneWhenItCannotBeCopied()
    {
        const QByteArray foreign("<?xml version=\"1.0\"?><OTHERCONFIG version=\"1.0\"/>");
        QVERIFY(QDir().mkpath(confPath() + QStringLiteral(".bak")));
        {
            QFile file(confPath());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(foreign);
        }
        // A directory by the backup's name stops the copy.
        {
            QFile inside(confPath() + QStringLiteral(".bak/keep"));
            QVERIFY(inside.open(QIODevice::WriteOnly));
        }

        QCOMPARE(startup->run(), 1);

        QCOMPARE(fileBytes(confPath()), foreign);
        QCOMPARE(VelmoraCommon_GetConf()->tcpPort, 55555);
        const QString pane = paneLines().join(QLatin1Char('\n'));
        QVERIFY2(pane.contains(QStringLiteral("[Lumari] Can not keep a copy of ")), qPrintable(pane));
        const QString day = dayLogMessages(appPath()).join(QLatin1Char('\n'));
        QVERIFY2(day.contains(QStringLiteral("[error] [Lumari] Can not keep a copy of ")), qPrintable(day));
    }

    void startUpFailuresShowTheirBox_data()
    {
        QTest::addColumn<QString>("blockedName");
        QTest::addColumn<QString>("boxText");
        QTest::addColumn<bool>("confDirectoryMade");
        QTest::newRow("a plain file named log")
            << "log" << "Невозможно инициализировать log-file! Запустите программу с правами администратора!" << false;
        QTest::newRow("a plain file named conf")
            << "conf" << "Невозможно получить настройки! Запустите программу с правами администратора!" << false;
    }
    void startUpFailuresShowTheirBox()
    {
        QFETCH(QString, blockedName);
        QFETCH(QString, boxText);
        QFETCH(bool, confDirectoryMade);
        createBlockingFile(blockedName);
        startup->setStartupBoxesShown(true);
        ModalBoxAnswerer answerer([](QMessageBox *box) { box->accept(); });

        QCOMPARE(startup->run(), -1);

        QCOMPARE(answerer.titles, QStringList{QStringLiteral("Внимание!")});
        QCOMPARE(answerer.texts, QStringList{boxText});
        QCOMPARE(answerer.standardButtons, QList<int>{int(QMessageBox::Ok)});
        QCOMPARE(answerer.icons, QList<int>{int(QMessageBox::Warning)});
        QVERIFY(!window->isVisible());
        QVERIFY(!startup->networkWorkerThread());
        QVERIFY(!startup->comWorkerThread());
        QCOMPARE(QFileInfo(appPath() + QStringLiteral("/conf")).isDir(), confDirectoryMade);
    }

    // On the offscreen platform nobody could answer a box: start-up ends at
    // once, with the text in the day log where there is one.
    void startUpFailuresWithoutAScreenShowNoBox_data()
    {
        QTest::addColumn<QString>("blockedName");
        QTest::addColumn<QString>("dayLogLine");
        QTest::newRow("a plain file named log") << "log" << QString();
        QTest::newRow("a plain file named conf")
            << "conf" << "[error] [Lumari] Невозможно получить настройки! Запустите программу с правами администратора!";
    }
    void startUpFailuresWithoutAScreenShowNoBox()
    {
        QFETCH(QString, blockedName);
        QFETCH(QString, dayLogLine);
        QVERIFY(!startup->startupBoxesShown());
        createBlockingFile(blockedName);
        ModalBoxAnswerer answerer([](QMessageBox *box) { box->accept(); });

        QCOMPARE(startup->run(), -1);

        QCOMPARE(answerer.texts, QStringList());
        QVERIFY(!startup->networkWorkerThread());
        if (!dayLogLine.isEmpty())
            QCOMPARE(dayLogMessages(appPath()).last(), dayLogLine);
    }

    // Another copy holding the folder: this one ends before the settings or
    // the journal are touched.
    void folderInUseEndsStartUpUntouched()
    {
        QVERIFY(QDir().mkpath(appPath() + QStringLiteral("/spool")));
        VelmoraInstanceLock otherCopy(appPath() + QStringLiteral("/spool/Lumari.lock"));
        QCOMPARE(otherCopy.tryLock(), VelmoraInstanceLock::Locked);
        startup->setStartupBoxesShown(true);
        ModalBoxAnswerer answerer([](QMessageBox *box) { box->accept(); });

        QCOMPARE(startup->run(), -1);

        QCOMPARE(answerer.titles, QStringList{QStringLiteral("Внимание!")});
        QVERIFY2(answerer.texts.value(0).startsWith(QStringLiteral("Lumari is already running in ") + appPath()),
                 qPrintable(answerer.texts.value(0)));
        QVERIFY(dayLogMessages(appPath()).last().startsWith(QStringLiteral("[error] [Lumari] Lumari is already running in ")));
        QVERIFY(!QFile::exists(confPath()));
        QVERIFY(!QFile::exists(appPath() + QStringLiteral("/spool/") + VelmoraEventJournal::kFileName));
        QVERIFY(!startup->eventJournal());
        QVERIFY(!startup->comWorkerThread());
    }

    // Fields that fell back to a default are named once, so a damaged file
    // does not pass for one the user meant.
    void fallbackFieldsNamedOnce()
    {
        QVERIFY(QDir().mkpath(appPath() + QStringLiteral("/conf")));
        {
            QFile file(confPath());
            QVERIFY(file.open(QIODevice::WriteOnly));
            // Saved by an editor as UTF-8 with a byte order mark and CR LF.
            file.write(QByteArray("\xEF\xBB\xBF") + QStringLiteral("<?xml version=\"1.0\" encoding=\"cp-1251\"?>\r\n"
                                      "<LUMARICONFIG version=\"1.0\"><LUMARICOMMON>\r\n"
                                      "<LUMARIPORT value=\"%1\"/><LUMARICOMNAME value=\"%2\"/>\r\n"
                                      "<LUMARICOMKEEPALIVE value=\"sixty\"/>\r\n"
                                      "</LUMARICOMMON></LUMARICONFIG>\r\n")
                           .arg(tcpPort).arg(comPort->slavePath()).toUtf8());
        }

        QCOMPARE(startup->run(), 1);

        QCOMPARE(VelmoraCommon_GetConf()->tcpPort, int(tcpPort));
        const QString line = QStringLiteral("[Lumari] Settings read from %1; default or replacement values used for: "
                                            "LUMARICOMBAUDRATE, LUMARICOMDATABITS, LUMARICOMPARITY, LUMARICOMSTOPBITS, "
                                            "LUMARICOMSERVER, LUMARICOMLINE, LUMARICOMKEEPALIVE, LUMARICOMUSETIME.")
                                 .arg(confPath());
        QCOMPARE(dayLogMessages(appPath()).count(QStringLiteral("[error] ") + line), 1);
        QCOMPARE(paneLines().filter(line).size(), 1);
    }

    // The journal is not needed to start: without it devices get no ACK, and
    // the operator is told why.
    void unusableSpoolReportedAndStartUpGoesOn()
    {
        writeTestConf();
        createBlockingFile(QStringLiteral("spool"));

        QCOMPARE(startup->run(), 1);

        QVERIFY(window->isVisible());
        const QString pane = paneLines().join(QLatin1Char('\n'));
        QVERIFY2(pane.contains(QStringLiteral("[Lumari] Can not open the event journal: ")), qPrintable(pane));
        const QString day = dayLogMessages(appPath()).join(QLatin1Char('\n'));
        QVERIFY2(day.contains(QStringLiteral("[error] [Lumari] Can not open the event journal: ")), qPrintable(day));
    }

    void translations_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("settingsText");
        QTest::addColumn<QString>("aboutFirstLine");
        QTest::addColumn<QString>("serialFragment");
        QTest::addColumn<QString>("networkLine");
        const QString open = QStringLiteral(" Couldn't open ");
        const QString listening = QStringLiteral("[%1] Server start listening %2:%3.");
        QTest::newRow("no translation files") << QStringList() << "Settings" << "Program name: Lumari" << open
                                              << listening;
        QTest::newRow("only the window's file") << QStringList({"velmora_ru.qm"}) << "Настройки"
                                                << "Программа: Lumari" << open << listening;
        QTest::newRow("all three files")
            << QStringList({"velmora_ru.qm", "velmoracomlib_ru.qm", "velmoranetworklib_ru.qm"}) << "Настройки"
            << "Программа: Lumari" << " Не удалось открыть "
            << "[%1] Сервер начал приём подключений на %2:%3.";
    }
    void translations()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, settingsText);
        QFETCH(QString, aboutFirstLine);
        QFETCH(QString, serialFragment);
        QFETCH(QString, networkLine);
        const QString translateDir = appPath() + QStringLiteral("/translate/");
        QVERIFY(QDir().mkpath(translateDir));
        for (const QString &file : files)
            QVERIFY(QFile::copy(QStringLiteral(LUMARI_TRANSLATE_DIR "/") + file, translateDir + file));

        const QList<QTranslator *> installed = installVelmoraTranslators(translateDir);
        QCOMPARE(installed.size(), files.size());
        QCOMPARE(window->initGui(), 1);
        QCOMPARE(window->settingsAction()->text(), settingsText);
        QCOMPARE(window->aboutText()->text().section(QLatin1Char('\n'), 0, 0), aboutFirstLine);
        QCOMPARE(window->aboutText()->text().count(QLatin1Char('\n')), 3);
        QCOMPARE(QCoreApplication::translate("VelmoraCom", " Couldn't open "), serialFragment);
        QCOMPARE(QCoreApplication::translate("VelmoraNetworkServer", "[%1] Server start listening %2:%3."),
                 networkLine);
        for (QTranslator *translator : installed) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
    }

    // ---- the window ----------------------------------------------------

    void logPaneKeepsAtMostAThousandLines()
    {
        QCOMPARE(window->initGui(), 1);
        for (int i = 1; i <= 1000; ++i)
            window->Put2Log(QStringLiteral("line %1").arg(i));
        QStringList lines = paneLines();
        QCOMPARE(lines.size(), 1000);
        QCOMPARE(withoutTimePrefix(lines.first()), QStringLiteral("line 1"));
        QCOMPARE(withoutTimePrefix(lines.last()), QStringLiteral("line 1000"));

        window->Put2Log(QStringLiteral("line 1001"));
        lines = paneLines();
        QCOMPARE(lines.size(), 1);
        QCOMPARE(withoutTimePrefix(lines.first()), QStringLiteral("line 1001"));
        QCOMPARE(Velmora::logViewLineCount(), 1);
    }

    void applyingSettingsStartsANewPageWithoutResettingTheCount()
    {
        QCOMPARE(window->initGui(), 1);
        for (int i = 1; i <= 600; ++i)
            window->Put2Log(QStringLiteral("line %1").arg(i));
        ModalBoxAnswerer answerer([](QMessageBox *box) { box->accept(); });
        window->confSlot();
        QCOMPARE(answerer.texts, QStringList{QStringLiteral("Для применения настроек необходим перезапуск программы")});
        QStringList lines = paneLines();
        QCOMPARE(lines.size(), 1);
        QCOMPARE(withoutTimePrefix(lines.first()), QStringLiteral("[Lumari] Запуск..."));
        QCOMPARE(Velmora::logViewLineCount(), 601);

        for (int i = 1; i <= 399; ++i)
            window->Put2Log(QStringLiteral("after %1").arg(i));
        QCOMPARE(paneLines().size(), 400);
        window->Put2Log(QStringLiteral("after 400"));
        lines = paneLines();
        QCOMPARE(lines.size(), 1);
        QCOMPARE(withoutTimePrefix(lines.first()), QStringLiteral("after 400"));
    }

    void logLinesWithoutAPaneAreDropped()
    {
        // No window has a pane now: the line goes nowhere and nothing breaks.
        QVERIFY(!Velmora::logView());
        window->Put2Log(QStringLiteral("nobody sees this"));
        QVERIFY(!Velmora::logView());
    }

    void closingAsksFirst_data()
    {
        QTest::addColumn<bool>("viaCloseButton");
        QTest::addColumn<bool>("pressEscapeFirst");
        QTest::newRow("close button, No") << true << false;
        QTest::newRow("close button, Esc and close request, then No") << true << true;
        QTest::newRow("Exit action, No") << false << false;
        QTest::newRow("Exit action, Esc and close request, then No") << false << true;
    }
    void closingAsksFirst()
    {
        QFETCH(bool, viaCloseButton);
        QFETCH(bool, pressEscapeFirst);
        QCOMPARE(window->initGui(), 1);
        window->show();
        QStringList buttonTexts;
        bool openAfterEscape = false;
        ModalBoxAnswerer answerer([&](QMessageBox *box) {
            for (QAbstractButton *button : box->buttons())
                buttonTexts << button->text();
            if (pressEscapeFirst) {
                QTest::keyClick(box, Qt::Key_Escape);
                // The box's own close button asks the same way.
                box->close();
                openAfterEscape = box->isVisible();
            }
            clickBoxButton(box, QStringLiteral("No"));
        });

        if (viaCloseButton)
            QVERIFY(!window->close());
        else
            window->quitAction()->trigger();

        QCOMPARE(answerer.titles, QStringList{QStringLiteral("Warning!")});
        QCOMPARE(answerer.texts, QStringList{QStringLiteral("Do you really want to exit?")});
        QCOMPARE(answerer.icons, QList<int>{int(QMessageBox::Warning)});
        QCOMPARE(buttonTexts, QStringList({"Yes", "No"}));
        QCOMPARE(openAfterEscape, pressEscapeFirst);
        QVERIFY(window->isVisible());
    }

    void yesEndsTheProcessWithCodeZero_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("close button") << "close";
        QTest::newRow("Exit action") << "exit";
    }
    void yesEndsTheProcessWithCodeZero()
    {
        QFETCH(QString, path);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QLatin1String(kAnswerYesChild), path});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
    }

    void settingsTwiceKeepsOnePanelAndRefillsIt()
    {
        QCOMPARE(window->initGui(), 1);
        window->show();
        window->settingsAction()->trigger();
        VelmoraConfWidget *panel = window->confPanel();
        QVERIFY(panel);
        QVERIFY(panel->isVisible());
        QVERIFY(panel->isWindow());
        QCOMPARE(panel->parentWidget(), window.get());
        QCOMPARE(panel->windowTitle(), QStringLiteral("Настройки"));

        panel->serverRow()->lineEdit()->setText(QStringLiteral("77"));
        window->settingsAction()->trigger();
        QCOMPARE(window->confPanel(), panel);
        QCOMPARE(window->findChildren<VelmoraConfWidget *>().size(), 1);
        QCOMPARE(panel->serverRow()->lineEdit()->text(), QStringLiteral("01"));
        QVERIFY(panel->isVisible());
    }

    // ---- worker wiring -------------------------------------------------

    void startUpStartsEachWorkerOnce()
    {
        QSignalSpy comStarts(startup.get(), &VelmoraStartup::comStartSignal);
        QSignalSpy networkStarts(startup.get(), &VelmoraStartup::networkStartSignal);
        writeTestConf();
        QCOMPARE(startup->run(), 1);
        QVERIFY(startup->comWorkerThread());
        QVERIFY(startup->networkWorkerThread());
        QCOMPARE(comStarts.count(), 1);
        QCOMPARE(networkStarts.count(), 1);
    }

    void serialStopStopsTheNetworkOnce()
    {
        writeTestConf(appPath() + QStringLiteral("/no-such-tty"));
        QSignalSpy networkStops(startup.get(), &VelmoraStartup::networkStopSignal);
        QCOMPARE(startup->run(), 1);

        QTRY_COMPARE_WITH_TIMEOUT(networkStops.count(), 1, kSettle);
        QTRY_VERIFY_WITH_TIMEOUT(paneLines().join(QLatin1Char('\n')).contains(QStringLiteral("[net] Server stopped successfully.")),
                                 kSettle);
        QTest::qWait(300);
        QCOMPARE(networkStops.count(), 1);
        QVERIFY(paneLines().join(QLatin1Char('\n')).contains(QStringLiteral("[com] Couldn't open ")));
        QTcpSocket device;
        device.connectToHost(QHostAddress::LocalHost, tcpPort);
        QVERIFY(!device.waitForConnected(1000));
    }

    void applyRestartsBothWorkersStopFirst()
    {
        writeTestConf();
        QCOMPARE(startup->run(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(paneLines().join(QLatin1Char('\n')).contains(QStringLiteral("is ready to work!")),
                                 kSettle);

        PtyStation newComPort;
        const quint16 newTcpPort = unusedTcpPort();
        SVelmoraConf *conf = VelmoraCommon_GetConf();
        conf->tcpPort = newTcpPort;
        conf->comName = newComPort.slavePath();
        conf->baudRateIndex = 10;

        QStringList order;
        connect(startup.get(), &VelmoraStartup::networkStopSignal, this, [&]() { order << "network stop"; });
        connect(startup.get(), &VelmoraStartup::networkStartSignal, this, [&]() { order << "network start"; });
        connect(startup.get(), &VelmoraStartup::comStopSignal, this, [&]() { order << "com stop"; });
        connect(startup.get(), &VelmoraStartup::comStartSignal, this, [&]() { order << "com start"; });
        ModalBoxAnswerer answerer([&](QMessageBox *box) {
            order << "box";
            box->accept();
        });
        window->confSlot();

        QCOMPARE(order, QStringList({"network stop", "network start", "com stop", "com start", "box"}));
        QCOMPARE(answerer.titles, QStringList{QStringLiteral("Внимание!")});
        QCOMPARE(answerer.texts, QStringList{QStringLiteral("Для применения настроек необходим перезапуск программы")});
        QCOMPARE(answerer.standardButtons, QList<int>{int(QMessageBox::Ok)});
        QCOMPARE(answerer.icons, QList<int>{int(QMessageBox::Warning)});

        // The workers got the new values: devices reach the new port, and the
        // new COM port is opened.
        QTRY_VERIFY_WITH_TIMEOUT(paneLines().join(QLatin1Char('\n'))
                                     .contains(newComPort.slavePath() + QStringLiteral(" is ready to work!")),
                                 kSettle);
        QTRY_VERIFY_WITH_TIMEOUT(paneLines().join(QLatin1Char('\n'))
                                     .contains(QStringLiteral("0.0.0.0:%1.").arg(newTcpPort)),
                                 kSettle);
        QTcpSocket device;
        device.connectToHost(QHostAddress::LocalHost, newTcpPort);
        QVERIFY(device.waitForConnected(kSettle));
        QTcpSocket oldPort;
        oldPort.connectToHost(QHostAddress::LocalHost, tcpPort);
        QVERIFY(!oldPort.waitForConnected(1000));
    }

    void statusBarFollowsConnections()
    {
        writeTestConf();
        QCOMPARE(startup->run(), 1);
        QCOMPARE(window->connectionsText()->text(), QString());
        QCOMPARE(window->heldEventsText()->text(), QString());

        QTRY_COMPARE_WITH_TIMEOUT(window->connectionsText()->text(), QStringLiteral("Count of connections: 0"), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(paneLines().join(QLatin1Char('\n')).contains(listenAddress()), kSettle);

        QTcpSocket first;
        QTcpSocket second;
        for (QTcpSocket *device : {&first, &second}) {
            device->connectToHost(QHostAddress::LocalHost, tcpPort);
            QVERIFY(device->waitForConnected(kSettle));
        }
        QTRY_COMPARE_WITH_TIMEOUT(window->connectionsText()->text(), QStringLiteral("Count of connections: 2"), kSettle);
        first.disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(window->connectionsText()->text(), QStringLiteral("Count of connections: 1"), kSettle);
        // Nothing is held while no event is waiting.
        QCOMPARE(window->heldEventsText()->text(), QString());
    }

    void statusBarShowsEventsHeldForTheMonitoringSoftware()
    {
        // A one-second keepalive brings the held event out soon after the
        // station answers again.
        writeTestConf(QString(), 1);
        QCOMPARE(startup->run(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(paneLines().join(QLatin1Char('\n')).contains(QStringLiteral("is ready to work!")),
                                 kSettle);
        // The serial side may be ready before the network side listens.
        QTRY_VERIFY_WITH_TIMEOUT(paneLines().join(QLatin1Char('\n')).contains(listenAddress()), kSettle);

        QTcpSocket device;
        device.connectToHost(QHostAddress::LocalHost, tcpPort);
        QVERIFY(device.waitForConnected(kSettle));
        const QByteArray frame = TestDevice::buildFrame(0x0003, QByteArray::fromHex("123456"), QByteArray(10, '\0'));
        QCOMPARE(device.write(frame), qint64(frame.size()));
        QTRY_COMPARE_WITH_TIMEOUT(window->heldEventsText()->text(),
                                  QStringLiteral("Events waiting for the monitoring software: 1"), kSettle);
        QVERIFY(window->connectionsText()->text().startsWith(QStringLiteral("Count of connections: ")));

        comPort->setAcknowledging(true);
        QTRY_COMPARE_WITH_TIMEOUT(window->heldEventsText()->text(), QString(), kSettle);
    }

    void eventsWindowListsHeldEventsWhileTheStationIsSilent()
    {
        writeTestConf(QString(), 1);
        QCOMPARE(startup->run(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(paneLines().join(QLatin1Char('\n')).contains(listenAddress()), kSettle);
        QTRY_VERIFY_WITH_TIMEOUT(window->lineStateText()->text().startsWith(QStringLiteral("Line: ")), kSettle);
        window->heldEventsAction()->trigger();
        VelmoraEventsWindow *events = window->heldEventsWindow();
        QVERIFY(events && events->isVisible());
        QCOMPARE(events->eventsModel()->rowCount(), 0);

        const QDateTime sentAt = QDateTime::currentDateTime();
        QTcpSocket device;
        device.connectToHost(QHostAddress::LocalHost, tcpPort);
        QVERIFY(device.waitForConnected(kSettle));
        const QByteArray frame = TestDevice::buildFrame(0x0003, QByteArray::fromHex("123456"), QByteArray(10, '\0'));
        QCOMPARE(device.write(frame), qint64(frame.size()));

        // Held while the station stays silent, with what the line carries.
        QVERIFY(comPort->waitForEventLines(3, kSettle));
        VelmoraHeldEventsModel *model = events->eventsModel();
        QTRY_VERIFY_WITH_TIMEOUT(model->rowCount() == 1 && model->rows().first().attempts >= 3, kSettle);
        const SVelmoraHeldRow row = model->rows().first();
        QCOMPARE(row.lineText.toLatin1(), comPort->eventLines().first());
        QCOMPARE(row.msg.deviceId, QStringLiteral("123456"));
        QCOMPARE(model->cellText(0, VelmoraHeldEventsModel::DeviceColumn), QStringLiteral("123456"));
        QVERIFY(row.msg.receivedAt >= sentAt.addSecs(-1) && row.msg.receivedAt <= QDateTime::currentDateTime());
        QCOMPARE(row.msg.account, QStringLiteral("123456"));
        QCOMPARE(model->cellText(0, VelmoraHeldEventsModel::AccountColumn), row.msg.account);
        QCOMPARE(model->cellText(0, VelmoraHeldEventsModel::EventColumn), row.msg.event);
        QCOMPARE(model->cellText(0, VelmoraHeldEventsModel::ZoneColumn), row.msg.zone);
        QCOMPARE(model->cellText(0, VelmoraHeldEventsModel::StateColumn), QStringLiteral("waiting"));
        QVERIFY(model->cellText(0, VelmoraHeldEventsModel::LineColumn).endsWith(QStringLiteral("<14>")));
        QTRY_VERIFY_WITH_TIMEOUT(window->lineStateText()->text().startsWith(QStringLiteral("Line: not answering since ")),
                                 kSettle);
        QCOMPARE(events->lineStateLabel()->text(), window->lineStateText()->text());
        QVERIFY(!events->sendAgainButton()->isEnabled());

        comPort->setAcknowledging(true);
        QTRY_COMPARE_WITH_TIMEOUT(model->rowCount(), 0, kSettle);
        QTRY_COMPARE_WITH_TIMEOUT(window->lineStateText()->text(), QStringLiteral("Line: answering"), kSettle);
        QCOMPARE(comPort->acknowledgedEvents().size(), 1);
    }

    void alertBannerAndBeepWhileNoOutputAnswers()
    {
        // The offscreen start-up enables no alert; the test does, on a
        // manual clock, with a hook in place of the sound.
        int beeps = 0;
        window->enableLineAlert(alertClock, [&beeps] { ++beeps; });
        writeTestConf(QString(), 1);
        QCOMPARE(startup->run(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(window->lineStateText()->text().startsWith(QStringLiteral("Line: not answering since ")),
                                 kSettle);
        QVERIFY(window->alertBanner()->isHidden());
        QCOMPARE(beeps, 0);

        alertClock.advance(VelmoraLineAlert::kSettleMs);
        QVERIFY(!window->alertBanner()->isHidden());
        QVERIFY(window->alertText()->text().startsWith(QStringLiteral("Alarms are not getting through since ")));
        QVERIFY(window->alertText()->text().contains(QStringLiteral("Line: not answering since ")));
        QCOMPARE(beeps, 1);
        alertClock.advance(VelmoraLineAlert::kBeepIntervalMs - 1);
        QCOMPARE(beeps, 1);
        alertClock.advance(1);
        QCOMPARE(beeps, 2);
        alertClock.advance(VelmoraLineAlert::kBeepIntervalMs);
        QCOMPARE(beeps, 3);

        QTest::mouseClick(window->silenceButton(), Qt::LeftButton);
        alertClock.advance(3 * VelmoraLineAlert::kBeepIntervalMs);
        QCOMPARE(beeps, 3);
        QVERIFY(!window->alertBanner()->isHidden());
        QVERIFY(paneLines().join(QLatin1Char('\n')).contains(QStringLiteral("The operator silenced the alert")));
        QVERIFY(dayLogMessages(appPath()).join(QLatin1Char('\n')).contains(QStringLiteral("The operator silenced the alert")));

        comPort->setAcknowledging(true);
        QTRY_VERIFY_WITH_TIMEOUT(window->alertBanner()->isHidden(), kSettle);
        QCOMPARE(window->lineStateText()->text(), QStringLiteral("Line: answering"));
        alertClock.advance(3 * VelmoraLineAlert::kBeepIntervalMs);
        QCOMPARE(beeps, 3);
    }

    void setAsideEventSentAgainFromTheEventsWindow()
    {
        // The station refuses one alarm and takes the next: the alarm is set
        // aside, and the operator sends it again from the window.
        TestDevice::Event refused;
        refused.zone = 0x0031;
        TestDevice::Event accepted;
        accepted.zone = 0x0032;
        const QByteArray refusedLine = TestDevice::expectedLine(refused);
        bool refusing = true;
        comPort->setAnswerPolicy([&](const QByteArray &line, int) {
            return refusing && line == refusedLine ? PtyStation::nak() : PtyStation::ack();
        });
        writeTestConf(QString(), 1);
        QCOMPARE(startup->run(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(paneLines().join(QLatin1Char('\n')).contains(listenAddress()), kSettle);
        window->heldEventsAction()->trigger();
        VelmoraEventsWindow *events = window->heldEventsWindow();
        QStringList asked;
        events->setConfirmation([&](const QString &title, const QString &) {
            asked << title;
            return true;
        });

        TestDevice device(QByteArray::fromHex("123456"));
        QVERIFY(device.connectTo(tcpPort));
        QVERIFY(!device.readMacRequest().isEmpty());
        for (const TestDevice::Event &event : {refused, accepted}) {
            QVERIFY(device.sendEvent(event));
            QCOMPARE(device.readFrame(), device.expectedAck());
        }
        VelmoraHeldEventsModel *model = events->eventsModel();
        QTRY_VERIFY_WITH_TIMEOUT(model->rowCount() == 1 && model->rows().first().state == SVelmoraHeldRow::SetAside,
                                 60000);
        QTRY_VERIFY_WITH_TIMEOUT(window->lineStateText()->text().endsWith(QStringLiteral(", set aside: 1")), kSettle);
        QCOMPARE(comPort->acknowledgedEvents(), QList<QByteArray>{TestDevice::expectedLine(accepted)});

        refusing = false;
        events->table()->selectRow(0);
        events->sendAgainButton()->click();
        QCOMPARE(asked, QStringList{QStringLiteral("Send again")});
        QVERIFY(comPort->waitForAcknowledgedEvents(2, kSettle));
        QTRY_COMPARE_WITH_TIMEOUT(model->rowCount(), 0, kSettle);
        QTRY_COMPARE_WITH_TIMEOUT(window->lineStateText()->text(), QStringLiteral("Line: answering"), kSettle);
        QCOMPARE(comPort->acknowledgedEvents().count(refusedLine), 1);
        VelmoraEventJournal *journal = startup->eventJournal();
        QCOMPARE(journal->setAsideCount(), 0);
        QCOMPARE(journal->pendingCount(), 0);
    }

    void alarmAndKeepaliveDoNotWaitForABusyWindow()
    {
        // A station and a device with threads of their own: while the window
        // is blocked, only the converter's own threads are left to move.
        ScriptedStation station;
        QVERIFY(station.isValid());
        station.setEventDefault(ScriptedStation::ack());
        station.setKeepaliveDefault(ScriptedStation::ack());
        writeTestConf(station.portName(), 1);
        QCOMPARE(startup->run(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(paneLines().join(QLatin1Char('\n')).contains(QStringLiteral("is ready to work!")),
                                 kSettle);
        QTRY_VERIFY_WITH_TIMEOUT(paneLines().join(QLatin1Char('\n')).contains(listenAddress()), kSettle);

        const TestDevice::Event alarm;
        std::atomic<bool> windowBlocked{false};
        std::atomic<qint64> sentAt{-1};
        std::atomic<bool> acknowledged{false};
        const quint16 port = tcpPort;
        std::thread device([&] {
            TestDevice communicator(QByteArray::fromHex("123456"));
            if (!communicator.connectTo(port) || communicator.readMacRequest().isEmpty())
                return;
            while (!windowBlocked)
                QThread::msleep(5);
            QThread::msleep(500);
            sentAt = station.elapsedMs();
            if (communicator.sendEvent(alarm))
                acknowledged = communicator.readFrame().size() == 24;
        });

        // The device is connected and has its MAC request before the window
        // stops turning its event loop for three seconds.
        QTRY_COMPARE_WITH_TIMEOUT(startup->networkWorkerThread()->connectionCount(), 1, kSettle);
        QTest::qWait(200);
        const qint64 blockedFrom = station.elapsedMs();
        windowBlocked = true;
        QThread::msleep(3000);
        const qint64 blockedUntil = station.elapsedMs();
        device.join();
        QVERIFY(acknowledged);

        const QList<QByteArray> lines = station.lines();
        const QList<qint64> times = station.lineTimes();
        const int eventAt = lines.indexOf(TestDevice::expectedLine(alarm));
        QVERIFY2(eventAt >= 0, "the alarm never reached the station");
        QVERIFY2(times.at(eventAt) - sentAt < 1000,
                 qPrintable(QStringLiteral("alarm after %1 ms").arg(times.at(eventAt) - sentAt)));
        QVERIFY(times.at(eventAt) < blockedUntil);
        // The acknowledged alarm starts the one-second period again; the
        // keepalive it brings falls due and goes out while the window is
        // still blocked.
        int keepaliveAt = -1;
        for (int index = eventAt + 1; index < lines.size() && keepaliveAt < 0; ++index) {
            if (lines.at(index).startsWith('1'))
                keepaliveAt = index;
        }
        QVERIFY2(keepaliveAt >= 0, "no keepalive after the alarm");
        const qint64 gap = times.at(keepaliveAt) - times.at(eventAt);
        QVERIFY2(gap >= 900 && gap < 1500, qPrintable(QStringLiteral("keepalive %1 ms after the alarm").arg(gap)));
        QVERIFY(times.at(keepaliveAt) < blockedUntil);
        QVERIFY(times.at(keepaliveAt) > blockedFrom);
    }
};

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], kAnswerYesChild) == 0)
        return answerYesChild(argc, argv);
    QApplication application(argc, argv);
    TestVelmora test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_velmora.moc"
