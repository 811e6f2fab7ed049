#include "velmoraeventcodec.h"
#include "velmoraeventjournal.h"
#include "velmoraeventjournalrecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

using Record = VelmoraEventJournalRecord;

namespace {

SVelmoraMsg makeEvent(const QString &zone)
{
    SVelmoraMsg event;
    event.account = QStringLiteral("0A0B0C");
    event.event = QStringLiteral("1130");
    event.group = QStringLiteral("01");
    event.zone = zone;
    event.messageType = QStringLiteral("18");
    event.time = QStringLiteral("12:34:56-01/02");
    // Not empty: a record ending in zero bytes would survive a torn write
    // that zero-fills them unchanged, and the torn-record cases need one
    // that cannot.
    event.peerAddress = QStringLiteral("192.0.2.1");
    return event;
}

// Every field and the id, so that a comparison shows what differs.
QStringList describe(const SVelmoraMsg &event)
{
    return {event.account, event.event, event.group, event.zone,
            event.messageType, event.time, event.peerAddress, QString::number(event.journalId)};
}

QStringList zonesOf(const QVector<SVelmoraMsg> &events)
{
    QStringList zones;
    for (const SVelmoraMsg &event : events)
        zones << event.zone;
    return zones;
}

// Appends one event per call, as devices sending one frame each do.
QVector<SVelmoraMsg> appendEach(VelmoraEventJournal &journal, const QStringList &zones)
{
    QVector<SVelmoraMsg> appended;
    for (const QString &zone : zones) {
        QVector<SVelmoraMsg> batch = {makeEvent(zone)};
        if (!journal.appendDurably(batch))
            return {};
        appended += batch;
    }
    return appended;
}

qint64 eventRecordSize(const QString &zone)
{
    Record record;
    record.event = makeEvent(zone);
    return Record::encode(record).size();
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace

class TestVelmoraEventJournal : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void roundTrip_data();
    void roundTrip();
    void settledEventsAfterRestart_data();
    void settledEventsAfterRestart();
    void tornLastRecord_data();
    void tornLastRecord();
    void damagedRecord_data();
    void damagedRecord();
    void compaction_data();
    void compaction();
    void operatorAnswers_data();
    void operatorAnswers();
    void compactionWaitsForThreshold();
    void fileFollowsBacklog_data();
    void fileFollowsBacklog();
    void spoolIsPlainFile();
    void diskFull();
    void concurrentAppendAndMark();

private:
    std::unique_ptr<QTemporaryDir> temporaryDirectory;
    QString spool;
};

void TestVelmoraEventJournal::init()
{
    temporaryDirectory = std::make_unique<QTemporaryDir>();
    QVERIFY(temporaryDirectory->isValid());
    spool = temporaryDirectory->path() + QStringLiteral("/spool");
}

void TestVelmoraEventJournal::roundTrip_data()
{
    QTest::addColumn<SVelmoraMsg>("event");

    QTest::newRow("decoder's usual fields") << makeEvent(QStringLiteral("007"));
    QTest::newRow("all fields empty") << SVelmoraMsg();
    SVelmoraMsg cyrillic;
    cyrillic.account = QStringLiteral("Счёт");
    cyrillic.event = QStringLiteral("Тревога");
    cyrillic.group = QStringLiteral("");
    cyrillic.zone = QStringLiteral("зона 1");
    cyrillic.messageType = QStringLiteral("18");
    cyrillic.time = QStringLiteral("23:59:59-31/12");
    QTest::newRow("Cyrillic and an empty field") << cyrillic;
    SVelmoraMsg unusual = makeEvent(QString(3000, QLatin1Char('9')));
    unusual.account = QStringLiteral("\xFF") + QChar(0) + QStringLiteral("LJR");
    QTest::newRow("long zone, NUL and marker-like text") << unusual;
    SVelmoraMsg withPeer = makeEvent(QStringLiteral("008"));
    withPeer.peerAddress = QStringLiteral("2001:db8::17");
    QTest::newRow("peer address") << withPeer;
}

void TestVelmoraEventJournal::roundTrip()
{
    QFETCH(SVelmoraMsg, event);

    QVector<SVelmoraMsg> batch = {event, event};
    {
        VelmoraEventJournal journal(spool);
        QVERIFY2(journal.open(), qPrintable(journal.errorString()));
        QVERIFY(journal.appendDurably(batch));
    }
    QVERIFY(batch.at(0).journalId > 0);
    QCOMPARE(batch.at(1).journalId, batch.at(0).journalId + 1);
    // Each event carries the record that holds its form, made once here.
    QCOMPARE(batch.at(0).encoded.mid(batch.at(0).encodedStart), VelmoraEventCodec::encode(event));

    VelmoraEventJournal reopened(spool);
    QVERIFY(reopened.open());
    const QVector<SVelmoraMsg> pending = reopened.pendingEvents();
    QCOMPARE(pending.size(), 2);
    for (int index = 0; index < 2; ++index) {
        QCOMPARE(describe(pending.at(index)), describe(batch.at(index)));
        QCOMPARE(pending.at(index).encoded, batch.at(index).encoded);
        for (const QString &field : describe(pending.at(index)))
            QVERIFY(!field.isNull());
    }
}

void TestVelmoraEventJournal::settledEventsAfterRestart_data()
{
    QTest::addColumn<QString>("delivered");
    QTest::addColumn<QString>("refused");
    QTest::addColumn<QString>("expectedPending");
    QTest::addColumn<QString>("expectedSetAside");

    // Events have zones 1 to 5, appended in that order.
    QTest::newRow("none settled") << "" << "" << "1 2 3 4 5" << "";
    QTest::newRow("first delivered") << "1" << "" << "2 3 4 5" << "";
    QTest::newRow("middle refused") << "" << "3" << "1 2 4 5" << "3";
    QTest::newRow("delivered and refused out of order") << "4 1" << "2 5" << "3" << "2 5";
    QTest::newRow("delivered, then refused") << "2 2" << "2" << "1 3 4 5" << "";
    // Sent again by hand and then acknowledged.
    QTest::newRow("refused, then delivered") << "" << "2" << "1 3 4 5" << "";
}

void TestVelmoraEventJournal::settledEventsAfterRestart()
{
    QFETCH(QString, delivered);
    QFETCH(QString, refused);
    QFETCH(QString, expectedPending);
    QFETCH(QString, expectedSetAside);

    const QStringList zones = {"1", "2", "3", "4", "5"};
    const bool deliverFirst = !QByteArray(QTest::currentDataTag()).startsWith("refused");
    qint64 lastId = 0;
    {
        VelmoraEventJournal journal(spool);
        QVERIFY(journal.open());
        const QVector<SVelmoraMsg> appended = appendEach(journal, zones);
        QCOMPARE(appended.size(), zones.size());
        lastId = appended.last().journalId;
        const auto mark = [&](const QString &zones_, bool asDelivered) {
            for (const QString &zone : zones_.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                const qint64 id = appended.at(zones.indexOf(zone)).journalId;
                asDelivered ? journal.markDelivered(id) : journal.markRefused(id);
            }
        };
        mark(deliverFirst ? delivered : refused, deliverFirst);
        mark(deliverFirst ? refused : QStringLiteral("2"), !deliverFirst);
        QCOMPARE(zonesOf(journal.pendingEvents()).join(QLatin1Char(' ')), expectedPending);
        QCOMPARE(zonesOf(journal.setAsideEvents()).join(QLatin1Char(' ')), expectedSetAside);
    }

    VelmoraEventJournal reopened(spool);
    QVERIFY(reopened.open());
    const QVector<SVelmoraMsg> pending = reopened.pendingEvents();
    QCOMPARE(zonesOf(pending).join(QLatin1Char(' ')), expectedPending);
    QCOMPARE(zonesOf(reopened.setAsideEvents()).join(QLatin1Char(' ')), expectedSetAside);
    // The serial side marks read-back events by their ids.
    if (!pending.isEmpty()) {
        reopened.markDelivered(pending.first().journalId);
        QCOMPARE(reopened.pendingEvents().size(), pending.size() - 1);
    }
    QVector<SVelmoraMsg> next = {makeEvent(QStringLiteral("6"))};
    QVERIFY(reopened.appendDurably(next));
    QVERIFY(next.first().journalId > lastId);
}

void TestVelmoraEventJournal::tornLastRecord_data()
{
    QTest::addColumn<QString>("damage");

    QTest::newRow("cut short") << "cut";
    QTest::newRow("rest filled with zeros") << "zeros";
}

void TestVelmoraEventJournal::tornLastRecord()
{
    QFETCH(QString, damage);

    const QString path = spool + QLatin1Char('/') + VelmoraEventJournal::kFileName;
    qint64 lastRecordStart = 0;
    QByteArray intact;
    {
        VelmoraEventJournal journal(spool);
        QVERIFY(journal.open());
        QCOMPARE(appendEach(journal, {"1", "2"}).size(), 2);
        lastRecordStart = QFileInfo(path).size();
        QCOMPARE(appendEach(journal, {"3"}).size(), 1);
    }
    intact = readBytes(path);
    QVERIFY(intact.size() > lastRecordStart);

    // A crash may stop the last append after any of its bytes.
    for (qint64 kept = lastRecordStart; kept < intact.size(); ++kept) {
        QByteArray torn = intact.left(static_cast<int>(kept));
        if (damage == QLatin1String("zeros"))
            torn.append(QByteArray(static_cast<int>(intact.size() - kept), '\0'));
        QVERIFY(writeBytes(path, torn));
        {
            VelmoraEventJournal journal(spool);
            QVERIFY2(journal.open(), qPrintable(journal.errorString()));
            // Torn by a crash, never acknowledged: not damage.
            QCOMPARE(journal.damageFound().records, 0);
            QCOMPARE(zonesOf(journal.pendingEvents()), QStringList({"1", "2"}));
            QCOMPARE(QFileInfo(path).size(), lastRecordStart);
            QCOMPARE(appendEach(journal, {"4"}).size(), 1);
        }
        VelmoraEventJournal reopened(spool);
        QVERIFY(reopened.open());
        QCOMPARE(zonesOf(reopened.pendingEvents()), QStringList({"1", "2", "4"}));
    }
}

void TestVelmoraEventJournal::damagedRecord_data()
{
    QTest::addColumn<bool>("cut");
    QTest::addColumn<int>("damagedRecord");
    QTest::addColumn<QStringList>("expectedPending");

    // Records in the file: event 1, event 2, delivered mark of 2, event 3.
    QTest::newRow("first event") << false << 0 << QStringList({"3"});
    QTest::newRow("delivered mark, its event comes back") << false << 2 << QStringList({"1", "2", "3"});
    QTest::newRow("last event, whole but flipped") << false << 3 << QStringList({"1"});
    QTest::newRow("cut from the middle of the first event to the middle of the second")
        << true << 0 << QStringList({"3"});
}

void TestVelmoraEventJournal::damagedRecord()
{
    QFETCH(bool, cut);
    QFETCH(int, damagedRecord);
    QFETCH(QStringList, expectedPending);

    const QString path = spool + QLatin1Char('/') + VelmoraEventJournal::kFileName;
    {
        VelmoraEventJournal journal(spool);
        QVERIFY(journal.open());
        const QVector<SVelmoraMsg> appended = appendEach(journal, {"1", "2"});
        QCOMPARE(appended.size(), 2);
        journal.markDelivered(appended.at(1).journalId);
        QCOMPARE(appendEach(journal, {"3"}).size(), 1);
    }
    // Events with one-digit zones are all the same size, and so are marks.
    VelmoraEventJournalRecord eventRecord;
    eventRecord.event = makeEvent(QStringLiteral("1"));
    VelmoraEventJournalRecord markRecord;
    markRecord.type = VelmoraEventJournalRecord::Type::Delivered;
    const int eventSize = VelmoraEventJournalRecord::encode(eventRecord).size();
    const int markSize = VelmoraEventJournalRecord::encode(markRecord).size();
    const QVector<int> recordEnds = {eventSize, 2 * eventSize, 2 * eventSize + markSize,
                                     3 * eventSize + markSize};

    QByteArray damaged = readBytes(path);
    QCOMPARE(damaged.size(), recordEnds.last());
    if (cut) {
        damaged.remove(eventSize / 2, eventSize);
    } else {
        // One flipped bit in the last byte of the record.
        const int flipped = recordEnds.at(damagedRecord) - 1;
        damaged[flipped] = static_cast<char>(damaged.at(flipped) ^ 0x10);
    }
    QVERIFY(writeBytes(path, damaged));

    {
        VelmoraEventJournal journal(spool);
        QVERIFY(journal.open());
        QCOMPARE(zonesOf(journal.pendingEvents()), expectedPending);
        // Counted once, where it starts, and the file kept as it was found.
        const VelmoraEventJournal::Damage damage = journal.damageFound();
        QCOMPARE(damage.records, 1);
        QCOMPARE(damage.offsets, QVector<qint64>({damagedRecord == 0 ? 0 : recordEnds.at(damagedRecord - 1)}));
        QVERIFY(damage.keptCopy.startsWith(path + QStringLiteral(".damaged-")));
        QCOMPARE(readBytes(damage.keptCopy), damaged);
        QCOMPARE(appendEach(journal, {"4"}).size(), 1);
    }
    // The journal file has one writer at a time (Windows enforces it).
    VelmoraEventJournal reopened(spool);
    QVERIFY(reopened.open());
    QCOMPARE(zonesOf(reopened.pendingEvents()), expectedPending + QStringList({"4"}));
    // Reported once: the file was written anew without the damage.
    QCOMPARE(reopened.damageFound().records, 0);
    QCOMPARE(QDir(spool).entryList({QStringLiteral("*.damaged-*")}).size(), 1);
}

void TestVelmoraEventJournal::compaction_data()
{
    QTest::addColumn<QString>("refused");
    QTest::addColumn<bool>("leaveOnePending");

    QTest::newRow("all delivered") << "" << false;
    QTest::newRow("delivered and refused") << "2" << false;
    QTest::newRow("one still pending") << "2" << true;
}

void TestVelmoraEventJournal::compaction()
{
    QFETCH(QString, refused);
    QFETCH(bool, leaveOnePending);

    const QStringList zones = {"1", "2", "3"};
    qint64 lastId = 0;
    qint64 sizeBeforeMarks = 0;
    {
        VelmoraEventJournal journal(spool);
        QVERIFY(journal.open());
        journal.setCompactionThreshold(0);
        const QVector<SVelmoraMsg> appended = appendEach(journal, zones);
        QCOMPARE(appended.size(), zones.size());
        lastId = appended.last().journalId;
        sizeBeforeMarks = QFileInfo(journal.filePath()).size();
        for (const SVelmoraMsg &event : appended) {
            if (leaveOnePending && event.zone == QLatin1String("3"))
                continue;
            if (event.zone == refused)
                journal.markRefused(event.journalId);
            else
                journal.markDelivered(event.journalId);
        }
        journal.waitForCompaction();
        const qint64 size = QFileInfo(journal.filePath()).size();
        // Compacted, the file holds its header, and a refused event with
        // its mark.
        const qint64 compacted = Record::kIdRecordSize
            + (refused.isEmpty() ? 0 : eventRecordSize(QStringLiteral("2")) + Record::kIdRecordSize);
        if (leaveOnePending)
            QVERIFY(size > sizeBeforeMarks);
        else
            QCOMPARE(size, compacted);
    }
    QVERIFY(!QFile::exists(spool + QLatin1Char('/') + VelmoraEventJournal::kFileName + ".new"));

    const QStringList stillPending = leaveOnePending ? QStringList({"3"}) : QStringList();
    const QStringList setAside = refused.isEmpty() ? QStringList() : QStringList({refused});
    {
        VelmoraEventJournal restarted(spool);
        QVERIFY(restarted.open());
        QCOMPARE(zonesOf(restarted.pendingEvents()), stillPending);
        QCOMPARE(zonesOf(restarted.setAsideEvents()), setAside);
        // Ids go on from where they were, not from 1, after compaction and
        // restart.
        QVector<SVelmoraMsg> next = {makeEvent(QStringLiteral("4"))};
        QVERIFY(restarted.appendDurably(next));
        QCOMPARE(next.first().journalId, lastId + 1);
    }

    VelmoraEventJournal reopened(spool);
    QVERIFY(reopened.open());
    QCOMPARE(zonesOf(reopened.pendingEvents()), stillPending + QStringList({"4"}));
    QCOMPARE(zonesOf(reopened.setAsideEvents()), setAside);
}

void TestVelmoraEventJournal::operatorAnswers_data()
{
    // Events have zones 1 to 4. dN delivered, rN refused, qN sent again by
    // the operator, xN released by the operator.
    QTest::addColumn<QString>("marks");
    QTest::addColumn<QString>("expectedPending");
    QTest::addColumn<QString>("expectedSetAside");

    QTest::newRow("sent again: pending once more, in its place") << "r2 q2" << "1 2 3 4" << "";
    QTest::newRow("released: gone") << "r2 r3 x2" << "1 4" << "3";
    QTest::newRow("sent again, refused again") << "r2 q2 r2" << "1 3 4" << "2";
    QTest::newRow("sent again, delivered") << "r2 q2 d2" << "1 3 4" << "";
    QTest::newRow("sent again twice: once") << "r2 q2 q2 d2" << "1 3 4" << "";
    QTest::newRow("a pending event can be neither sent again nor released") << "q2 x3" << "1 2 3 4" << "";
    QTest::newRow("nothing after delivery or release") << "d2 q2 x2 r3 x3 q3" << "1 4" << "";
}

void TestVelmoraEventJournal::operatorAnswers()
{
    QFETCH(QString, marks);
    QFETCH(QString, expectedPending);
    QFETCH(QString, expectedSetAside);

    const QStringList zones = {"1", "2", "3", "4"};
    const auto check = [&](const VelmoraEventJournal &journal) {
        QCOMPARE(zonesOf(journal.pendingEvents()).join(QLatin1Char(' ')), expectedPending);
        QCOMPARE(zonesOf(journal.setAsideEvents()).join(QLatin1Char(' ')), expectedSetAside);
        QCOMPARE(journal.pendingCount(), expectedPending.split(QLatin1Char(' '), Qt::SkipEmptyParts).size());
        QCOMPARE(journal.setAsideCount(), expectedSetAside.split(QLatin1Char(' '), Qt::SkipEmptyParts).size());
    };
    {
        VelmoraEventJournal journal(spool);
        QVERIFY(journal.open());
        const QVector<SVelmoraMsg> appended = appendEach(journal, zones);
        QCOMPARE(appended.size(), zones.size());
        for (const QString &mark : marks.split(QLatin1Char(' '))) {
            const qint64 id = appended.at(zones.indexOf(mark.mid(1))).journalId;
            switch (mark.at(0).toLatin1()) {
            case 'd': journal.markDelivered(id); break;
            case 'r': journal.markRefused(id); break;
            case 'q': journal.markRequeued(id); break;
            case 'x': journal.markReleased(id); break;
            default: QFAIL("bad mark");
            }
        }
        check(journal);
    }
    {
        VelmoraEventJournal restarted(spool);
        QVERIFY(restarted.open());
        check(restarted);
        QVERIFY(restarted.compact());
        check(restarted);
    }
    // The compacted file holds only the events still kept, and says the same.
    VelmoraEventJournal compacted(spool);
    QVERIFY(compacted.open());
    check(compacted);
    qint64 expectedSize = Record::kIdRecordSize;
    for (const QString &zone : (expectedPending + QLatin1Char(' ') + expectedSetAside).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        expectedSize += eventRecordSize(zone);
    expectedSize += Record::kIdRecordSize * expectedSetAside.split(QLatin1Char(' '), Qt::SkipEmptyParts).size();
    QCOMPARE(QFileInfo(compacted.filePath()).size(), expectedSize);
}

void TestVelmoraEventJournal::compactionWaitsForThreshold()
{
    auto owner = std::make_unique<VelmoraEventJournal>(spool);
    VelmoraEventJournal &journal = *owner;
    QVERIFY(journal.open());
    QVector<SVelmoraMsg> small = {makeEvent(QStringLiteral("1"))};
    QVERIFY(journal.appendDurably(small));
    journal.markDelivered(small.first().journalId);
    // Nothing is pending, but a file this small is not worth rewriting.
    const QByteArray belowThreshold = readBytes(journal.filePath());
    QCOMPARE(belowThreshold.size(), eventRecordSize(QStringLiteral("1")) + Record::kIdRecordSize);

    QVector<SVelmoraMsg> many;
    for (int index = 0; index < 2000; ++index)
        many.append(makeEvent(QString::number(index)));
    QVERIFY(journal.appendDurably(many));
    QVERIFY(QFileInfo(journal.filePath()).size() > 2 * VelmoraEventJournal::kDefaultCompactionThreshold);
    QVERIFY(readBytes(journal.filePath()).startsWith(belowThreshold));
    for (const SVelmoraMsg &event : many)
        journal.markDelivered(event.journalId);
    journal.waitForCompaction();
    QVERIFY(QFileInfo(journal.filePath()).size() <= VelmoraEventJournal::kDefaultCompactionThreshold);

    // The journal goes on in the compacted file, with the ids of this run.
    QVector<SVelmoraMsg> after = {makeEvent(QStringLiteral("after"))};
    QVERIFY(journal.appendDurably(after));
    QCOMPARE(after.first().journalId, many.last().journalId + 1);
    // Closed first, as a restart closes it: the journal file has one
    // writer at a time (Windows enforces it).
    owner.reset();
    VelmoraEventJournal reopened(spool);
    QVERIFY(reopened.open());
    QCOMPARE(zonesOf(reopened.pendingEvents()), QStringList({"after"}));
}

void TestVelmoraEventJournal::fileFollowsBacklog_data()
{
    QTest::addColumn<int>("backlog");
    QTest::addColumn<bool>("firstHeldForGood");
    QTest::addColumn<bool>("firstRefused");

    // Before, a single event that never left kept the file from ever being
    // compacted.
    QTest::newRow("one event never delivered") << 0 << true << false;
    QTest::newRow("one event set aside") << 0 << false << true;
    QTest::newRow("a steady backlog of 300") << 300 << false << false;
    QTest::newRow("a steady backlog and one held for good") << 300 << true << false;
}

void TestVelmoraEventJournal::fileFollowsBacklog()
{
    QFETCH(int, backlog);
    QFETCH(bool, firstHeldForGood);
    QFETCH(bool, firstRefused);

    constexpr qint64 kThreshold = 8 * 1024;
    constexpr int kBatches = 300;
    constexpr int kBatchSize = 10;
    // Zones of four digits: every event record is the same size.
    const qint64 eventSize = eventRecordSize(QStringLiteral("0000"));

    auto owner = std::make_unique<VelmoraEventJournal>(spool);
    VelmoraEventJournal &journal = *owner;
    QVERIFY(journal.open());
    journal.setCompactionThreshold(kThreshold);
    QVector<SVelmoraMsg> appended;
    int delivered = 0;
    qint64 largest = 0;
    for (int batchNumber = 0; batchNumber < kBatches; ++batchNumber) {
        QVector<SVelmoraMsg> batch;
        for (int index = 0; index < kBatchSize; ++index)
            batch.append(makeEvent(QString::number(1000 + appended.size() + index)));
        QVERIFY(journal.appendDurably(batch));
        appended += batch;
        for (; delivered < appended.size() - backlog; ++delivered) {
            if (delivered == 0 && firstRefused)
                journal.markRefused(appended.at(0).journalId);
            else if (delivered != 0 || !firstHeldForGood)
                journal.markDelivered(appended.at(delivered).journalId);
        }
        // What a compacted file would hold: its header, the events still
        // pending and the one set aside with its mark.
        const int pending = appended.size() - delivered + (firstHeldForGood && delivered > 0 ? 1 : 0);
        const int setAside = firstRefused && delivered > 0 ? 1 : 0;
        const int held = pending + setAside;
        const qint64 live = Record::kIdRecordSize + held * eventSize + setAside * Record::kIdRecordSize;
        journal.waitForCompaction();
        const qint64 size = QFileInfo(journal.filePath()).size();
        QVERIFY2(size <= qMax(kThreshold, 2 * live),
                 qPrintable(QStringLiteral("file %1 bytes for %2 held").arg(size).arg(held)));
        largest = qMax(largest, size);
        QCOMPARE(journal.pendingCount(), pending);
        QCOMPARE(journal.setAsideCount(), setAside);
    }
    // The history was far larger than the file ever was.
    QVERIFY(kBatches * kBatchSize * eventSize > 4 * largest);

    QStringList expectedPending;
    if (firstHeldForGood)
        expectedPending << appended.first().zone;
    for (int index = delivered; index < appended.size(); ++index)
        expectedPending << appended.at(index).zone;
    const QStringList expectedSetAside = firstRefused ? QStringList({appended.first().zone}) : QStringList();
    QCOMPARE(zonesOf(journal.pendingEvents()), expectedPending);
    QCOMPARE(zonesOf(journal.setAsideEvents()), expectedSetAside);
    // Closed first, as a restart closes it: the journal file has one
    // writer at a time (Windows enforces it).
    owner.reset();
    VelmoraEventJournal reopened(spool);
    QVERIFY(reopened.open());
    const QVector<SVelmoraMsg> pending = reopened.pendingEvents();
    QCOMPARE(zonesOf(pending), expectedPending);
    if (!pending.isEmpty())
        QCOMPARE(describe(pending.last()), describe(backlog > 0 ? appended.last() : appended.first()));
    QCOMPARE(zonesOf(reopened.setAsideEvents()), expectedSetAside);
    QVector<SVelmoraMsg> next = {makeEvent(QStringLiteral("next"))};
    QVERIFY(reopened.appendDurably(next));
    QCOMPARE(next.first().journalId, appended.last().journalId + 1);
}

void TestVelmoraEventJournal::spoolIsPlainFile()
{
    QVERIFY(writeBytes(spool, QByteArrayLiteral("not a directory")));

    VelmoraEventJournal journal(spool);
    QVERIFY(!journal.open());
    QVERIFY(journal.errorString().contains(spool));

    QVector<SVelmoraMsg> events = {makeEvent(QStringLiteral("1"))};
    QVERIFY(!journal.appendDurably(events));
    QCOMPARE(events.first().journalId, qint64(0));
    QVERIFY(!journal.errorString().isEmpty());
    journal.markDelivered(1);
    QVERIFY(journal.pendingEvents().isEmpty());
    QCOMPARE(readBytes(spool), QByteArrayLiteral("not a directory"));

    // Once the directory can be made, the next append opens the journal.
    QVERIFY(QFile::remove(spool));
    QVERIFY2(journal.appendDurably(events), qPrintable(journal.errorString()));
    QVERIFY(events.first().journalId > 0);
    QCOMPARE(zonesOf(journal.pendingEvents()), QStringList({"1"}));
}

void TestVelmoraEventJournal::diskFull()
{
    // /dev/full accepts no byte and answers every write with ENOSPC: a disk
    // that is full for real.
    if (!QFileInfo::exists(QStringLiteral("/dev/full")))
        QSKIP("This system has no /dev/full");
    QVERIFY(QDir().mkpath(spool));
    QVERIFY(QFile::link(QStringLiteral("/dev/full"), spool + QLatin1Char('/') + VelmoraEventJournal::kFileName));

    VelmoraEventJournal journal(spool);
    QVERIFY2(journal.open(), qPrintable(journal.errorString()));
    for (int attempt = 0; attempt < 2; ++attempt) {
        QVector<SVelmoraMsg> events = {makeEvent(QStringLiteral("1")), makeEvent(QStringLiteral("2"))};
        QVERIFY(!journal.appendDurably(events));
        QCOMPARE(events.first().journalId, qint64(0));
        QVERIFY2(journal.errorString().contains(QStringLiteral("space")), qPrintable(journal.errorString()));
        QVERIFY(journal.pendingEvents().isEmpty());
    }
}

void TestVelmoraEventJournal::concurrentAppendAndMark()
{
    constexpr int kEvents = 400;
    auto owner = std::make_unique<VelmoraEventJournal>(spool);
    VelmoraEventJournal &journal = *owner;
    QVERIFY(journal.open());
    journal.setCompactionThreshold(0);

    // The network thread appends; the serial thread marks each event once
    // it has seen it, the way the two workers share the journal.
    QVector<qint64> ids(kEvents, 0);
    std::atomic<int> appendedCount{0};
    std::atomic<bool> appendFailed{false};
    std::thread network([&] {
        for (int index = 0; index < kEvents; index += 2) {
            QVector<SVelmoraMsg> batch = {makeEvent(QString::number(index)),
                                          makeEvent(QString::number(index + 1))};
            if (!journal.appendDurably(batch)) {
                appendFailed = true;
                break;
            }
            ids[index] = batch.at(0).journalId;
            ids[index + 1] = batch.at(1).journalId;
            appendedCount.store(index + 2, std::memory_order_release);
        }
    });
    std::thread serial([&] {
        int marked = 0;
        while (marked < kEvents && !appendFailed) {
            const int available = appendedCount.load(std::memory_order_acquire);
            for (; marked < available; ++marked) {
                // Every seventh is refused. Near the end every tenth stays
                // pending; before that the journal compacts whenever the
                // marks catch up with the appends.
                if (marked % 10 == 9 && marked >= kEvents - 50)
                    continue;
                if (marked % 7 == 0)
                    journal.markRefused(ids.at(marked));
                else
                    journal.markDelivered(ids.at(marked));
            }
            std::this_thread::yield();
        }
    });
    network.join();
    serial.join();
    QVERIFY(!appendFailed);

    QStringList expected;
    for (int index = kEvents - 41; index < kEvents; index += 10)
        expected << QString::number(index);
    for (int index = 1; index < kEvents; ++index)
        QVERIFY(ids.at(index) > ids.at(index - 1));
    QCOMPARE(zonesOf(journal.pendingEvents()), expected);

    // Closed first, as a restart closes it: the journal file has one
    // writer at a time (Windows enforces it).
    owner.reset();
    VelmoraEventJournal reopened(spool);
    QVERIFY(reopened.open());
    QCOMPARE(zonesOf(reopened.pendingEvents()), expected);
}

QTEST_GUILESS_MAIN(TestVelmoraEventJournal)

#include "tst_velmoraeventjournal.moc"
