#include "velmoraapplicationfolder.h"

#include "diskspace.h"
#include "velmoraconf.h"
#include "velmoraeventjournal.h"
#include "velmorainstancelock.h"
#include "velmoralog.h"
#include "velmoraloghousekeeper.h"
#include "velmoraprogram.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>

#include <utility>

namespace {

const char kInstanceLockFileName[] = "Lumari.lock";
// The start-up texts were first the window's, and are translated there.
const char kTranslationContext[] = "Velmora";
const int kLogThreshold = kLogDebug;

void makeDirectory(const QString &path)
{
    if (!QDir(path).exists())
        QDir().mkpath(path);
}

} // namespace

VelmoraApplicationFolder::VelmoraApplicationFolder(const QString &applicationDirectory, Report reportFunction,
                                                   Warn warnFunction, QObject *parent)
    : QObject(parent)
    , directory(applicationDirectory)
    , report(std::move(reportFunction))
    , warn(std::move(warnFunction))
{
}

VelmoraApplicationFolder::~VelmoraApplicationFolder()
{
    if (logHousekeepingThread) {
        logHousekeepingThread->quit();
        logHousekeepingThread->wait();
    }
}

int VelmoraApplicationFolder::openDayLog(const VelmoraClock &clock)
{
    // The day log's stamps and days come from the program's clock too.
    VelmoraCommon_SetLogClock(&clock);
    const QString logDirectory = VelmoraProgram::logDirectory(directory);
    makeDirectory(logDirectory);
    if (VelmoraCommon_LogInit(logDirectory, kLogThreshold) == -1) {
        warn(QStringLiteral("Невозможно инициализировать log-file! Запустите программу с правами администратора!"),
             false);
        return -1;
    }
    return 1;
}

int VelmoraApplicationFolder::lock()
{
    const QString spoolDirectory = VelmoraProgram::spoolDirectory(directory);
    makeDirectory(spoolDirectory);
    instanceLock = std::make_unique<VelmoraInstanceLock>(spoolDirectory + QLatin1String(kInstanceLockFileName));
    switch (instanceLock->tryLock()) {
    case VelmoraInstanceLock::Locked:
        return 1;
    case VelmoraInstanceLock::HeldElsewhere: {
        const char *text = QT_TRANSLATE_NOOP(
            "Velmora",
            "Lumari is already running in %1. This copy ends without touching its journal or its settings.");
        const QString nativeDirectory = QDir::toNativeSeparators(directory);
        VelmoraCommon_LogError(QStringLiteral("[%1] ").arg(VelmoraProgram::name())
                               + QString::fromLatin1(text).arg(nativeDirectory));
        warn(QCoreApplication::translate(kTranslationContext, text).arg(nativeDirectory), false);
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

int VelmoraApplicationFolder::loadConfiguration()
{
    makeDirectory(VelmoraProgram::confDirectory(directory));
    const QString confPath = VelmoraProgram::confFilePath(directory);
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
        warn(QStringLiteral("Невозможно получить настройки! Запустите программу с правами администратора!"), true);
        return -1;
    }
    return 1;
}

VelmoraEventJournal *VelmoraApplicationFolder::openEventJournal()
{
    const QString spoolDirectory = VelmoraProgram::spoolDirectory(directory);
    makeDirectory(spoolDirectory);
    auto *journal = new VelmoraEventJournal(spoolDirectory);
    if (!journal->open()) {
        // The program still runs: the journal retries on every append, and
        // until one succeeds the devices get no ACK and keep their events.
        report(QT_TRANSLATE_NOOP("Velmora", "[%1] Can not open the event journal: %2. Devices get no ACK until it "
                                            "can be written."),
               true, {journal->errorString()});
    }
    return journal;
}

VelmoraLogHousekeeper *VelmoraApplicationFolder::makeLogHousekeeper()
{
    VelmoraLogHousekeeper::Settings settings;
    settings.directory = VelmoraProgram::logDirectory(directory);
    settings.journalFloorBytes = DiskSpace::kJournalFloorBytes;
    settings.freeSpace = [](const QString &logDirectory) { return DiskSpace::freeBytes(logDirectory, nullptr); };
    logKeepDays = VelmoraCommon_GetConf()->logDays;
    settings.keepDays = [this] { return logKeepDays.load(); };
    logHousekeepingThread = new QThread(this);
    auto *housekeeper = new VelmoraLogHousekeeper(settings);
    housekeeper->moveToThread(logHousekeepingThread);
    connect(logHousekeepingThread, &QThread::started, housekeeper, &VelmoraLogHousekeeper::start);
    connect(logHousekeepingThread, &QThread::finished, housekeeper, &QObject::deleteLater);
    return housekeeper;
}

void VelmoraApplicationFolder::startLogHousekeeping()
{
    logHousekeepingThread->start(QThread::LowestPriority);
}
