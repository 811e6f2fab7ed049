#include "velmoraeventjournalrecord.h"

#include <QtTest>

using Record = VelmoraEventJournalRecord;

namespace {

QByteArray encoded(Record::Type type, qint64 journalId, const QString &zone = QString())
{
    Record record;
    record.type = type;
    record.journalId = journalId;
    record.event.zone = zone;
    return Record::encode(record);
}

QString describe(const QVector<Record> &records)
{
    QStringList parts;
    for (const Record &record : records)
        parts << QStringLiteral("%1:%2").arg(static_cast<int>(record.type)).arg(record.journalId);
    return parts.join(QLatin1Char(' '));
}

// An event record's frame around a payload built by hand.
QByteArray framed(const QByteArray &payload)
{
    QByteArray length(4, '\0');
    for (int index = 0; index < 4; ++index)
        length[index] = static_cast<char>((payload.size() >> (8 * index)) & 0xFF);
    const quint32 crc = Record::crc32(payload.constData(), payload.size(), Record::crc32(length.constData(), 4));
    QByteArray crcBytes(4, '\0');
    for (int index = 0; index < 4; ++index)
        crcBytes[index] = static_cast<char>((crc >> (8 * index)) & 0xFF);
    return QByteArray("\xFFLJR") + length + crcBytes + payload;
}

QByteArray littleEndian(quint64 value, int size)
{
    QByteArray bytes;
    for (int index = 0; index < size; ++index)
        bytes.append(static_cast<char>((value >> (8 * index)) & 0xFF));
    return bytes;
}

QByteArray text(const QByteArray &utf8)
{
    return littleEndian(static_cast<quint64>(utf8.size()), 4) + utf8;
}

} // namespace

class TestVelmoraEventJournalRecord : public QObject
{
    Q_OBJECT

private slots:
    void crcCheckValue();
    void damagedStream_data();
    void damagedStream();
    void eventRecordsOfEveryVersion_data();
    void eventRecordsOfEveryVersion();
};

void TestVelmoraEventJournalRecord::eventRecordsOfEveryVersion_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("expected"); // device ID | receive time ms | peer address
    // This version writes the record byte for byte so.
    QTest::addColumn<bool>("current");

    // Type 2, id 7, the six text fields: account, event, group, zone,
    // message type, time.
    const QByteArray sixFields = QByteArray("\x02") + littleEndian(7, 8) + text("0A0B0C") + text("1130")
                                 + text("01") + text("005") + text("18") + text("12:00:00");
    const QByteArray withDevice = sixFields + text("A1B2") + littleEndian(1765000000000ull, 8);
    QTest::newRow("six fields only") << sixFields << "||" << false;
    QTest::newRow("with device ID and receive time") << withDevice << "A1B2|1765000000000|" << false;
    QTest::newRow("with peer address") << withDevice + text("192.0.2.7") << "A1B2|1765000000000|192.0.2.7" << true;
    QTest::newRow("with fields of a later version after the address")
        << withDevice + text("192.0.2.7") + QByteArray("\x01\x02\x03") << "A1B2|1765000000000|192.0.2.7" << false;
}

void TestVelmoraEventJournalRecord::eventRecordsOfEveryVersion()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, expected);
    QFETCH(bool, current);

    const QByteArray bytes = framed(payload);
    const Record::Scan scan = Record::decode(bytes);
    QCOMPARE(describe(scan.records), QStringLiteral("2:7"));
    const SVelmoraMsg event = scan.records.first().event;
    QCOMPARE(event.account, QStringLiteral("0A0B0C"));
    QCOMPARE(event.time, QStringLiteral("12:00:00"));
    const QString got = event.deviceId + QLatin1Char('|')
                        + (event.receivedAt.isValid() ? QString::number(event.receivedAt.toMSecsSinceEpoch()) : QString())
                        + QLatin1Char('|') + event.peerAddress;
    QCOMPARE(got, expected);

    // What this version writes reads back the same.
    Record again;
    again.journalId = 7;
    again.event = event;
    QCOMPARE(Record::decode(Record::encode(again)).records.first().event.peerAddress, event.peerAddress);
    if (current)
        QCOMPARE(Record::encode(again), bytes);
}

void TestVelmoraEventJournalRecord::crcCheckValue()
{
    // The check value of CRC-32/ISO-HDLC in the catalogue of parametrised
    // CRC algorithms (reveng.sourceforge.io).
    const QByteArray text = QByteArrayLiteral("123456789");
    QCOMPARE(Record::crc32(text.constData(), text.size()), 0xCBF43926u);
}

void TestVelmoraEventJournalRecord::damagedStream_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("expectedRecords");
    QTest::addColumn<qint64>("expectedValidEnd");

    const QByteArray first = encoded(Record::Type::Event, 1, QStringLiteral("001"));
    const QByteArray mark = encoded(Record::Type::Delivered, 1);
    const QByteArray second = encoded(Record::Type::Event, 2, QStringLiteral("002"));
    const QByteArray all = first + mark + second;
    const QString allRecords = QStringLiteral("2:1 3:1 2:2");

    QByteArray flippedPayload = all;
    flippedPayload[first.size() - 1] = static_cast<char>(flippedPayload.at(first.size() - 1) ^ 0x01);
    QByteArray flippedLength = all;
    flippedLength[first.size() + 4] = static_cast<char>(flippedLength.at(first.size() + 4) ^ 0x01);
    QByteArray hugeLength = all;
    hugeLength[first.size() + 7] = static_cast<char>(0x7F);
    QByteArray flippedMarker = all;
    flippedMarker[0] = 'x';

    QTest::newRow("intact") << all << allRecords << qint64(all.size());
    QTest::newRow("empty file") << QByteArray() << QString() << qint64(0);
    QTest::newRow("first record's payload damaged, later ones found")
        << flippedPayload << QStringLiteral("3:1 2:2") << qint64(all.size());
    QTest::newRow("first record's marker damaged, later ones found")
        << flippedMarker << QStringLiteral("3:1 2:2") << qint64(all.size());
    QTest::newRow("length field damaged") << flippedLength << QStringLiteral("2:1 2:2") << qint64(all.size());
    QTest::newRow("length field far beyond the file")
        << hugeLength << QStringLiteral("2:1 2:2") << qint64(all.size());
    QTest::newRow("garbage between records")
        << first + QByteArray("\x00\xFFLJ\x00garbage", 12) + mark + second << allRecords
        << qint64(all.size() + 12);
    QTest::newRow("zeros after the last record") << all + QByteArray(40, '\0') << allRecords << qint64(all.size());
    QTest::newRow("a bare marker at the end") << all + QByteArray("\xFFLJR") << allRecords << qint64(all.size());
    QTest::newRow("last record cut short")
        << all.left(all.size() - 1) << QStringLiteral("2:1 3:1") << qint64(first.size() + mark.size());
    QTest::newRow("a whole record copied into a cut record")
        << first.left(first.size() - 3) + second << QStringLiteral("2:2") << qint64(first.size() - 3 + second.size());
}

void TestVelmoraEventJournalRecord::damagedStream()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, expectedRecords);
    QFETCH(qint64, expectedValidEnd);

    const Record::Scan scan = Record::decode(contents);
    QCOMPARE(describe(scan.records), expectedRecords);
    QCOMPARE(scan.validEnd, expectedValidEnd);

    // The journal reads its file a piece at a time; wherever the pieces
    // are cut, it must find the same records.
    for (int pieceSize = 1; pieceSize <= 16; ++pieceSize) {
        Record::Scan pieces;
        QStringList found;
        QByteArray buffer;
        qint64 base = 0;
        for (int offset = 0; offset < contents.size() || !buffer.isEmpty();) {
            const QByteArray next = contents.mid(offset, pieceSize);
            offset += next.size();
            buffer += next;
            const bool atEnd = offset >= contents.size();
            const qint64 done = Record::scan(buffer.constData(), buffer.size(), base, atEnd, pieces,
                                             [&](const Record::Found &record) {
                                                 QCOMPARE(contents.mid(static_cast<int>(record.offset), record.size),
                                                          QByteArray(record.bytes, record.size));
                                                 found << QStringLiteral("%1:%2")
                                                              .arg(static_cast<int>(record.type))
                                                              .arg(record.journalId);
                                             });
            buffer.remove(0, static_cast<int>(done));
            base += done;
            if (atEnd)
                QVERIFY(buffer.isEmpty());
        }
        QCOMPARE(found.join(QLatin1Char(' ')), expectedRecords);
        QCOMPARE(pieces.validEnd, expectedValidEnd);
        QCOMPARE(pieces.skippedBytes, scan.skippedBytes);
    }
}

QTEST_APPLESS_MAIN(TestVelmoraEventJournalRecord)

#include "tst_velmoraeventjournalrecord.moc"
