#include "velmoradevicelist.h"

#include <QTest>
#include <QTextCodec>

class TestVelmoraDeviceList : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void rowsWrittenInPlace_data();
    void rowsWrittenInPlace();
};

namespace {

// "id|description|period|mac" per row, as the reader should give them.
QString rowsText(const VelmoraDeviceList::Parsed &parsed)
{
    QStringList rows;
    for (const SVelmoraDeviceListRow &row : parsed.rows) {
        rows << QStringLiteral("%1|%2|%3|%4")
                    .arg(row.deviceId, row.description, QString::number(row.supervisionS), row.mac);
    }
    return rows.join(QLatin1Char('\n'));
}

QString problemsText(const VelmoraDeviceList::Parsed &parsed)
{
    QStringList problems;
    for (const VelmoraDeviceList::Problem &problem : parsed.problems)
        problems << QStringLiteral("%1: %2").arg(problem.lineNumber).arg(problem.reason);
    return problems.join(QLatin1Char('\n'));
}

} // namespace

void TestVelmoraDeviceList::parse_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("rows");
    QTest::addColumn<QString>("problems");

    QTest::newRow("commas, default period and learned MAC")
        << QByteArray("device_id,description,supervision_s,mac\n0a0b0c,Shop,,\n0A0B0D,Bank,300,0102030405060708\n")
        << QStringLiteral("0A0B0C|Shop|-1|\n0A0B0D|Bank|300|0102030405060708") << QString();
    QTest::newRow("semicolons with CRLF, as Excel writes them")
        << QByteArray("device_id;description;supervision_s;mac\r\n0A0B0C;Shop, north;0;\r\n")
        << QStringLiteral("0A0B0C|Shop, north|0|") << QString();
    QTest::newRow("quoted separator, quotes and line break")
        << QByteArray("device_id,description,supervision_s,mac\n0A0B0C,\"Shop, \"\"North\"\"\nfloor 2\",60,\n"
                      "0A0B0D,Bank,,\n")
        << QStringLiteral("0A0B0C|Shop, \"North\"\nfloor 2|60|\n0A0B0D|Bank|-1|") << QString();
    QTest::newRow("UTF-8 with byte order mark")
        << QByteArray("\xEF\xBB\xBF" "device_id,description,supervision_s,mac\n0A0B0C,\xD0\x9C\xD0\xB0\xD0\xB3,,\n")
        << QStringLiteral("0A0B0C|Маг|-1|") << QString();
    QTest::newRow("Windows-1251")
        << QByteArray("device_id;description;supervision_s;mac\n0A0B0C;\xCC\xE0\xE3;;\n")
        << QStringLiteral("0A0B0C|Маг|-1|") << QString();
    QTest::newRow("bad rows skipped with their line numbers, the others stand")
        << QByteArray("device_id,description,supervision_s,mac\n\n0A0B0,short id,,\n0A0B0C,ok,,\n"
                      "0A0B0D,week and a second,604801,\n0A0B0E,bad mac,,0102\n0A0B0C,twice,,\n0A0B0F,a,1,,extra\n")
        << QStringLiteral("0A0B0C|ok|-1|")
        << QStringLiteral("3: device_id \"0A0B0\" is not 6 hex digits\n"
                          "5: supervision_s \"604801\" is not a number of seconds from 0 to 604800\n"
                          "6: mac \"0102\" is not 16 hex digits\n"
                          "7: device_id 0A0B0C is listed twice\n"
                          "8: 5 fields, at most 4 expected");
    QTest::newRow("no header") << QByteArray("0A0B0C,Shop,,\n") << QString()
                               << QStringLiteral("1: the header is not device_id,description,supervision_s,mac");
    QTest::newRow("empty file") << QByteArray() << QString() << QString();
}

void TestVelmoraDeviceList::parse()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, rows);
    QFETCH(QString, problems);

    const VelmoraDeviceList::Parsed parsed = VelmoraDeviceList::parse(file);
    QCOMPARE(rowsText(parsed), rows);
    QCOMPARE(problemsText(parsed), problems);
}

void TestVelmoraDeviceList::rowsWrittenInPlace_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("deviceId");
    QTest::addColumn<bool>("remove");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("row added to an empty file")
        << QByteArray() << QStringLiteral("0A0B0C") << false
        << QByteArray("device_id,description,supervision_s,mac\n0A0B0C,Shop; 1,120,\n");
    QTest::newRow("row replaced in its separator, the bad row kept")
        << QByteArray("device_id;description;supervision_s;mac\r\nbad;;;\r\n0a0b0c;Old;;\r\n0A0B0D;Bank;;\r\n")
        << QStringLiteral("0A0B0C") << false
        << QByteArray("device_id;description;supervision_s;mac\r\nbad;;;\r\n0A0B0C;\"Shop; 1\";120;\r\n"
                      "0A0B0D;Bank;;\r\n");
    QTest::newRow("row added after a last line without a line break, in Windows-1251")
        << QByteArray("device_id,description,supervision_s,mac\n0A0B0D,\xC1\xE0\xED\xEA,,")
        << QStringLiteral("0A0B0C") << false
        << QByteArray("device_id,description,supervision_s,mac\n0A0B0D,\xC1\xE0\xED\xEA,,\n0A0B0C,Shop; 1,120,\n");
    QTest::newRow("row removed")
        << QByteArray("device_id,description,supervision_s,mac\n0A0B0C,Shop,,\n0A0B0D,Bank,,\n")
        << QStringLiteral("0A0B0C") << true << QByteArray("device_id,description,supervision_s,mac\n0A0B0D,Bank,,\n");
}

void TestVelmoraDeviceList::rowsWrittenInPlace()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, deviceId);
    QFETCH(bool, remove);
    QFETCH(QByteArray, expected);

    SVelmoraDeviceListRow row;
    row.deviceId = deviceId;
    row.description = QStringLiteral("Shop; 1");
    row.supervisionS = 120;
    const QByteArray written =
        remove ? VelmoraDeviceList::withoutRow(file, deviceId) : VelmoraDeviceList::withRow(file, row);
    QCOMPARE(written, expected);
    // What was written reads back.
    QCOMPARE(VelmoraDeviceList::find(VelmoraDeviceList::parse(written), deviceId) != nullptr, !remove);
}

QTEST_APPLESS_MAIN(TestVelmoraDeviceList)

#include "tst_velmoradevicelist.moc"
