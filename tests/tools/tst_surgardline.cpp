#include "surgardline.h"

#include <QtTest>

Q_DECLARE_METATYPE(SurgardLine::Kind)

class TestSurgardLine : public QObject
{
    Q_OBJECT

private slots:
    void decode_data();
    void decode();
    void printable();
};

void TestSurgardLine::decode_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("receiverDigits");
    QTest::addColumn<SurgardLine::Kind>("kind");
    // receiver|line|account|qualifier|event|group|zone|time
    QTest::addColumn<QString>("fields");

    const auto event = SurgardLine::Kind::Event;
    const auto keepalive = SurgardLine::Kind::Keepalive;
    const auto unrecognised = SurgardLine::Kind::Unrecognised;
    // Examples of the receiver line as the converter documents it.
    QTest::newRow("event, defaults") << QByteArray("5011 1812ABE40101003") << 2 << event
                                     << "01|1|12AB|E|401|01|003|";
    QTest::newRow("event with time") << QByteArray("5011 1812ABE4010100314:05:09-06/12") << 2 << event
                                     << "01|1|12AB|E|401|01|003|14:05:09-06/12";
    QTest::newRow("restore") << QByteArray("5011 1812ABR40101003") << 2 << event << "01|1|12AB|R|401|01|003|";
    QTest::newRow("periodic test") << QByteArray("5011 180A0BE60200000") << 2 << event << "01|1|0A0B|E|602|00|000|";
    QTest::newRow("four-digit zone") << QByteArray("5011 181234E130011234") << 2 << event
                                     << "01|1|1234|E|130|01|1234|";
    QTest::newRow("four-digit zone with time") << QByteArray("5011 181234E13001123414:05:09-06/12") << 2 << event
                                               << "01|1|1234|E|130|01|1234|14:05:09-06/12";
    QTest::newRow("receiver 123, line 45") << QByteArray("512345 181234E13001005") << 3 << event
                                           << "123|45|1234|E|130|01|005|";
    QTest::newRow("keepalive, defaults") << QByteArray("1011           @    ") << 2 << keepalive << "01|1||||||";
    QTest::newRow("keepalive, receiver 123") << QByteArray("11231           @    ") << 3 << keepalive
                                             << "123|1||||||";

    QTest::newRow("no space") << QByteArray("50111812ABE40101003") << 2 << unrecognised << "|||||||";
    QTest::newRow("qualifier neither E nor R") << QByteArray("5011 1812ABX40101003") << 2 << unrecognised
                                               << "|||||||";
    QTest::newRow("no zone") << QByteArray("5011 1812ABE40101") << 2 << unrecognised << "|||||||";
    QTest::newRow("no line number") << QByteArray("501 1812ABE40101003") << 2 << unrecognised << "|||||||";
    QTest::newRow("lower-case hex") << QByteArray("5011 1812abE40101003") << 2 << unrecognised << "|||||||";
    QTest::newRow("keepalive with ten spaces") << QByteArray("1011          @    ") << 2 << unrecognised
                                               << "|||||||";
    QTest::newRow("keepalive without the at sign") << QByteArray("1011                ") << 2 << unrecognised
                                                   << "|||||||";
    QTest::newRow("empty") << QByteArray() << 2 << unrecognised << "|||||||";
    QTest::newRow("stray control byte") << QByteArray("5011 1812AB\x06" "E40101003") << 2 << unrecognised
                                        << "|||||||";
}

void TestSurgardLine::decode()
{
    QFETCH(QByteArray, text);
    QFETCH(int, receiverDigits);
    QFETCH(SurgardLine::Kind, kind);
    QFETCH(QString, fields);
    const SurgardLine line = SurgardLine::decode(text, receiverDigits);
    QCOMPARE(line.kind, kind);
    QCOMPARE(line.raw, text);
    const QStringList decoded{line.receiver, line.line,  line.account, line.qualifier,
                              line.event,    line.group, line.zone,    line.time};
    QCOMPARE(decoded.join(QLatin1Char('|')), fields);
}

void TestSurgardLine::printable()
{
    QCOMPARE(SurgardLine::printable(QByteArray("5011 18\x14\x06\xff", 10)), QStringLiteral("5011 18<14><06><FF>"));
}

QTEST_GUILESS_MAIN(TestSurgardLine)
#include "tst_surgardline.moc"
