// lumari-journal against journals written by the program's own journal
// class: what it lists and counts, what it makes of a record being appended,
// of damage and of a missing journal, and that it leaves the file alone.

#include "pgcluster.h"
#include "velmoraclock.h"
#include "velmoraeventjournal.h"
#include "velmoraeventjournalrecord.h"
#include "velmoraeventstore.h"
#include "velmorasharedjournal.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <map>
#include <memory>

namespace {

const int kRunMs = 30000;

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run runReader(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(LUMARI_JOURNAL_PATH), arguments);
    Run run;
    if (!process.waitForFinished(kRunMs) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

SVelmoraMsg makeEvent(int number)
{
    SVelmoraMsg event;
    event.account = QStringLiteral("1234");
    event.event = number == 3 ? QStringLiteral("1602") : QStringLiteral("1130");
    event.group = QStringLiteral("01");
    event.zone = QStringLiteral("%1").arg(number, 3, 10, QLatin1Char('0'));
    event.messageType = QStringLiteral("18");
    event.time = QStringLiteral("10:00:0%1-08/12").arg(number);
    event.deviceId = QStringLiteral("00000000000%1").arg(number % 2 + 1);
    event.receivedAt = QDateTime(QDate(2026, 12, 8), QTime(4, 0, number), Qt::UTC);
    return event;
}

// journal id -> state, as one format lists them.
using States = std::map<qint64, QString>;

States statesFromJson(const QString &out, QJsonObject *counts)
{
    const QJsonObject root = QJsonDocument::fromJson(out.toUtf8()).object();
    *counts = root.value(QStringLiteral("counts")).toObject();
    States states;
    for (const QJsonValue &value : root.value(QStringLiteral("events")).toArray()) {
        const QJsonObject event = value.toObject();
        states[static_cast<qint64>(event.value(QStringLiteral("journal_id")).toDouble())] =
            event.value(QStringLiteral("state")).toString();
    }
    return states;
}

States statesFromCsv(const QString &out, QString *header)
{
    QStringList lines = out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    *header = lines.isEmpty() ? QString() : lines.takeFirst();
    States states;
    for (const QString &line : qAsConst(lines)) {
        const QStringList fields = line.split(QLatin1Char(','));
        states[fields.value(0).toLongLong()] = fields.value(1);
    }
    return states;
}

States statesFromText(const QString &out)
{
    States states;
    for (const QString &line : out.split(QLatin1Char('\n'))) {
        const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        bool isId = false;
        const qint64 id = fields.value(0).toLongLong(&isId);
        // The counts line begins with a number too.
        if (isId && !fields.value(1).endsWith(QLatin1Char(':')))
            states[id] = fields.value(1);
    }
    return states;
}

} // namespace

class TestLumariJournal : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void listsEachEventWithItsState_data();
    void listsEachEventWithItsState();
    void listsTheFieldsTheProgramJournaled();
    void compactionTakesDeliveredEventsOffTheList();
    void operatorAnswersShowInTheList();
    void toleratesARecordBeingAppended();
    void leavesTheJournalAsItIsWhileTheProgramUsesIt();
    void listsTheJournalInPostgreSQLAsTheFile();
    void refusesWhatIsNoUsableJournal_data();
    void refusesWhatIsNoUsableJournal();
    void commandLine_data();
    void commandLine();

private:
    QString spool() const { return appDir->filePath(QStringLiteral("spool")); }
    QString journalFile() const { return spool() + QStringLiteral("/events.journal"); }

    std::unique_ptr<QTemporaryDir> appDir;
    std::unique_ptr<VelmoraEventJournal> journal;
    // Ids 1..5: 1 and 2 delivered, 3 refused, 4 and 5 pending.
    const States expected = {{1, QStringLiteral("delivered")},
                             {2, QStringLiteral("delivered")},
                             {3, QStringLiteral("set-aside")},
                             {4, QStringLiteral("pending")},
                             {5, QStringLiteral("pending")}};
};

void TestLumariJournal::init()
{
    appDir = std::make_unique<QTemporaryDir>();
    QVERIFY(appDir->isValid());
    journal = std::make_unique<VelmoraEventJournal>(spool());
    QVERIFY(journal->open());
    QVector<SVelmoraMsg> events;
    for (int number = 1; number <= 5; ++number)
        events << makeEvent(number);
    QVERIFY(journal->appendDurably(events));
    QCOMPARE(events.last().journalId, 5);
    journal->markDelivered(1);
    journal->markDelivered(2);
    journal->markRefused(3);
}

void TestLumariJournal::cleanup()
{
    journal.reset();
    appDir.reset();
}

void TestLumariJournal::listsEachEventWithItsState_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("text, the default") << QString();
    QTest::newRow("text") << QStringLiteral("text");
    QTest::newRow("csv") << QStringLiteral("csv");
    QTest::newRow("json") << QStringLiteral("json");
}

void TestLumariJournal::listsEachEventWithItsState()
{
    QFETCH(QString, format);
    QStringList arguments = {appDir->path()};
    if (!format.isEmpty())
        arguments << QStringLiteral("--format") << format;
    const Run run = runReader(arguments);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QString());

    if (format == QLatin1String("json")) {
        QJsonObject counts;
        QCOMPARE(statesFromJson(run.out, &counts), expected);
        QCOMPARE(counts.value(QStringLiteral("pending")).toInt(), 2);
        QCOMPARE(counts.value(QStringLiteral("set-aside")).toInt(), 1);
        QCOMPARE(counts.value(QStringLiteral("delivered")).toInt(), 2);
        QCOMPARE(counts.value(QStringLiteral("total")).toInt(), 5);
    } else if (format == QLatin1String("csv")) {
        QString header;
        QCOMPARE(statesFromCsv(run.out, &header), expected);
        QCOMPARE(header, QStringLiteral("journal_id,state,received,device_id,account,event,group,zone,message_type,time"));
    } else {
        QCOMPARE(statesFromText(run.out), expected);
        QVERIFY2(run.out.contains(
                     QStringLiteral("5 event(s): 2 pending, 1 set aside, 2 delivered and 0 released, not yet compacted.")),
                 qPrintable(run.out));
    }
}

void TestLumariJournal::listsTheFieldsTheProgramJournaled()
{
    const Run run = runReader({spool(), QStringLiteral("--format"), QStringLiteral("json")});
    QCOMPARE(run.exitCode, 0);
    const QJsonArray events =
        QJsonDocument::fromJson(run.out.toUtf8()).object().value(QStringLiteral("events")).toArray();
    QCOMPARE(events.size(), 5);
    const QJsonObject third = events.at(2).toObject();
    QCOMPARE(third.value(QStringLiteral("received")).toString(), QStringLiteral("2026-12-08T04:00:03.000Z"));
    QCOMPARE(third.value(QStringLiteral("device_id")).toString(), QStringLiteral("000000000002"));
    QCOMPARE(third.value(QStringLiteral("account")).toString(), QStringLiteral("1234"));
    QCOMPARE(third.value(QStringLiteral("event")).toString(), QStringLiteral("1602"));
    QCOMPARE(third.value(QStringLiteral("group")).toString(), QStringLiteral("01"));
    QCOMPARE(third.value(QStringLiteral("zone")).toString(), QStringLiteral("003"));
    QCOMPARE(third.value(QStringLiteral("message_type")).toString(), QStringLiteral("18"));
    QCOMPARE(third.value(QStringLiteral("time")).toString(), QStringLiteral("10:00:03-08/12"));

    // A field with the CSV separator in it stays one field.
    SVelmoraMsg odd = makeEvent(6);
    odd.account = QStringLiteral("12,\"34\"");
    QVector<SVelmoraMsg> batch = {odd};
    QVERIFY(journal->appendDurably(batch));
    const Run csv = runReader({journalFile(), QStringLiteral("--format"), QStringLiteral("csv")});
    QCOMPARE(csv.exitCode, 0);
    QVERIFY2(csv.out.contains(QStringLiteral("\r\n6,pending,2026-12-08T04:00:06.000Z,000000000001,\"12,\"\"34\"\"\",1130,"
                                             "01,006,18,10:00:06-08/12\r\n")),
             qPrintable(csv.out));
}

void TestLumariJournal::compactionTakesDeliveredEventsOffTheList()
{
    QVERIFY(journal->compact());
    QJsonObject counts;
    const States states =
        statesFromJson(runReader({appDir->path(), QStringLiteral("--format"), QStringLiteral("json")}).out, &counts);
    QCOMPARE(states, (States{{3, QStringLiteral("set-aside")}, {4, QStringLiteral("pending")}, {5, QStringLiteral("pending")}}));
    QCOMPARE(counts.value(QStringLiteral("delivered")).toInt(), 0);
}

void TestLumariJournal::operatorAnswersShowInTheList()
{
    // Sent again: pending once more. Released: listed until compacted away.
    journal->markRequeued(3);
    journal->markRefused(4);
    journal->markReleased(4);
    States now = expected;
    now[3] = QStringLiteral("pending");
    now[4] = QStringLiteral("released");
    const Run run = runReader({appDir->path()});
    QCOMPARE(statesFromText(run.out), now);
    QVERIFY2(run.out.contains(
                 QStringLiteral("5 event(s): 2 pending, 0 set aside, 2 delivered and 1 released, not yet compacted.")),
             qPrintable(run.out));
    QVERIFY(journal->compact());
    QCOMPARE(statesFromText(runReader({appDir->path()}).out),
             (States{{3, QStringLiteral("pending")}, {5, QStringLiteral("pending")}}));
}

void TestLumariJournal::toleratesARecordBeingAppended()
{
    // What the file looks like while the program is in the middle of an
    // append: the first part of a record.
    VelmoraEventJournalRecord record;
    record.journalId = 6;
    record.event = makeEvent(6);
    const QByteArray bytes = VelmoraEventJournalRecord::encode(record);
    // Only one writer holds the journal at a time (on Windows the system
    // enforces it): the half record is written with the journal closed.
    journal.reset();
    for (int cut : {1, VelmoraEventJournalRecord::kFrameSize, bytes.size() - 1}) {
        QFile file(journalFile());
        const qint64 intactSize = file.size();
        QVERIFY(file.open(QIODevice::Append));
        QCOMPARE(file.write(bytes.left(cut)), qint64(cut));
        file.close();

        const Run run = runReader({appDir->path()});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(statesFromText(run.out), expected);
        QVERIFY2(run.out.contains(QStringLiteral("The last %1 byte(s) are a record not yet complete").arg(cut)),
                 qPrintable(run.out));
        QVERIFY(file.resize(intactSize));
    }
}

void TestLumariJournal::leavesTheJournalAsItIsWhileTheProgramUsesIt()
{
    const auto digest = [this] {
        QFile file(journalFile());
        return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                                              : QByteArray();
    };
    const QByteArray before = digest();
    const QDateTime modified = QFileInfo(journalFile()).lastModified();
    QCOMPARE(runReader({appDir->path()}).exitCode, 0);
    QCOMPARE(digest(), before);
    QCOMPARE(QFileInfo(journalFile()).lastModified(), modified);
    QVERIFY(!QFileInfo::exists(journalFile() + QStringLiteral(".new")));

    // The journal, open all along, goes on, and the next run sees its work.
    QVector<SVelmoraMsg> batch = {makeEvent(6)};
    QVERIFY(journal->appendDurably(batch));
    journal->markDelivered(4);
    States now = expected;
    now[4] = QStringLiteral("delivered");
    now[6] = QStringLiteral("pending");
    QCOMPARE(statesFromText(runReader({appDir->path()}).out), now);
}

void TestLumariJournal::listsTheJournalInPostgreSQLAsTheFile()
{
    if (PgCluster::binDirectory().isEmpty())
        QSKIP("The PostgreSQL server binaries are not installed (Debian package postgresql); nothing to read from.");
    PgCluster cluster;
    QString why;
    QVERIFY2(cluster.start(&why), qPrintable(why));
    // No journal made there yet.
    const Run empty = runReader({cluster.connectionString()});
    QCOMPARE(empty.exitCode, 2);
    QVERIFY2(empty.err.contains(QStringLiteral("no event journal in the database")), qPrintable(empty.err));

    // The same events, answered the same way, as the program journals them
    // there; the database deletes what was delivered, as a compaction does.
    VelmoraSharedJournal shared(VelmoraClock::system());
    QVERIFY(shared.start(cluster.connectionString(), QStringLiteral("tst_lumarijournal")));
    QTRY_VERIFY_WITH_TIMEOUT(shared.holdsLease(), 15000);
    QVector<SVelmoraMsg> events;
    for (int number = 1; number <= 5; ++number)
        events << makeEvent(number);
    QVERIFY(shared.store()->appendDurably(events));
    QCOMPARE(events.last().journalId, 5);
    shared.store()->markDelivered(1);
    shared.store()->markDelivered(2);
    shared.store()->markRefused(3);
    QVERIFY(journal->compact());

    // The marks reach the database from a thread of their own.
    const States settled = {{3, QStringLiteral("set-aside")}, {4, QStringLiteral("pending")}, {5, QStringLiteral("pending")}};
    QTRY_COMPARE_WITH_TIMEOUT(statesFromText(runReader({cluster.connectionString()}).out), settled, 10000);
    for (const QString &format : {QStringLiteral("csv"), QStringLiteral("text")}) {
        const Run file = runReader({appDir->path(), QStringLiteral("--format"), format});
        const Run database = runReader({cluster.connectionString(), QStringLiteral("--format"), format});
        QCOMPARE(database.exitCode, 0);
        // Below the first line, which names the file or the database.
        QCOMPARE(database.out.mid(database.out.indexOf(QLatin1Char('\n'))),
                 file.out.mid(file.out.indexOf(QLatin1Char('\n'))));
    }
}

void TestLumariJournal::refusesWhatIsNoUsableJournal_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    // The rest of the journal is still listed.
    QTest::addColumn<bool>("listsIntactEvents");

    QTest::newRow("a byte changed inside the second event") << "flip" << 3 << "is damaged" << true;
    QTest::newRow("bytes of no record between two records") << "insert" << 3 << "is damaged" << true;
    QTest::newRow("a file that is no journal") << "foreign" << 3 << "is damaged" << false;
    QTest::newRow("no journal in the directory") << "remove" << 2 << "no event journal at" << false;
    QTest::newRow("a directory where the journal should be") << "directory" << 2 << "it is a directory" << false;
}

void TestLumariJournal::refusesWhatIsNoUsableJournal()
{
    QFETCH(QString, damage);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QFETCH(bool, listsIntactEvents);
    journal.reset();

    QFile file(journalFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray bytes = file.readAll();
    file.close();
    // Where the record of event 2 begins: after those before it.
    const VelmoraEventJournalRecord::Scan scan = VelmoraEventJournalRecord::decode(bytes);
    int secondEventOffset = 0;
    for (const VelmoraEventJournalRecord &record : scan.records) {
        if (record.journalId == 2 && record.type == VelmoraEventJournalRecord::Type::Event)
            break;
        secondEventOffset += VelmoraEventJournalRecord::encode(record).size();
    }
    QVERIFY(secondEventOffset > 0 && secondEventOffset < bytes.size());
    if (damage == QLatin1String("flip")) {
        const int changed = secondEventOffset + VelmoraEventJournalRecord::kFrameSize + 12;
        bytes[changed] = static_cast<char>(bytes.at(changed) ^ 0x20);
    } else if (damage == QLatin1String("insert")) {
        bytes.insert(secondEventOffset, "not a record");
    } else if (damage == QLatin1String("foreign")) {
        bytes = QByteArray("<?xml version=\"1.0\"?><settings/>\n").repeated(20);
    }
    if (damage == QLatin1String("remove") || damage == QLatin1String("directory")) {
        QVERIFY(QFile::remove(journalFile()));
        if (damage == QLatin1String("directory"))
            QVERIFY(QDir().mkpath(journalFile()));
    } else {
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(bytes), qint64(bytes.size()));
        file.close();
    }

    const Run run = runReader({appDir->path(), QStringLiteral("--format"), QStringLiteral("json")});
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.startsWith(QStringLiteral("lumari-journal: ")) && run.err.contains(message), qPrintable(run.err));
    QVERIFY2(run.err.contains(QDir::toNativeSeparators(journalFile())), qPrintable(run.err));
    QJsonObject counts;
    const States states = statesFromJson(run.out, &counts);
    if (listsIntactEvents) {
        QVERIFY2(states.count(1) && states.count(3) && states.count(5), qPrintable(run.out));
        // The same count as the program's at start.
        QCOMPARE(QJsonDocument::fromJson(run.out.toUtf8()).object().value(QStringLiteral("damaged_records")).toInt(), 1);
        QVERIFY(!states.count(2) || damage == QLatin1String("insert"));
    } else {
        QVERIFY(states.empty());
    }
}

void TestLumariJournal::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");

    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << 0 << "--format <format>";
    QTest::newRow("unknown format") << QStringList{QStringLiteral("--format"), QStringLiteral("xml")} << 1
                                    << "--format: \"xml\" is none of text, csv, json";
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--follow")} << 1 << "Unknown option 'follow'";
    QTest::newRow("two directories") << QStringList{QStringLiteral("a"), QStringLiteral("b")} << 1
                                     << "one directory at most";
}

void TestLumariJournal::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    const Run run = runReader(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2((exitCode == 0 ? run.out : run.err).contains(output), qPrintable(run.out + run.err));
}

QTEST_GUILESS_MAIN(TestLumariJournal)
#include "tst_lumarijournal.moc"
