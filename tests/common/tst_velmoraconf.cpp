#include "velmoraconf.h"

#include <QtTest>

#include <QFile>
#include <QTemporaryDir>
#include <QTextCodec>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

// The default file as the converter has always written it, line by line.
// Kept here in full so that a change to the writer shows up as a diff.
QByteArray referenceDefaultFile()
{
    const QString text = QString::fromUtf8(
        "<?xml  version=\"1.0\" encoding=\"cp-1251\"?>\n"
        "<LUMARICONFIG version=\"1.0\" description=\"LUMARI Specific Configuration\">\n"
        "   <LUMARICOMMON version=\"1.0\" versionDate=\"20150131\">\n"
        "\t\t<LUMARIPORT description=\"Порт для входящих подключений VELMORA-KIT\" value=\"55555\"/>\n"
        "\t\t<LUMARICOMNAME description=\"COM-порт\" value=\"COM1\"/>\n"
        "\t\t<LUMARICOMBAUDRATE description=\"Скорость COM-порта\" value=\"7\"/>\n"
        "\t\t<LUMARICOMDATABITS description=\"Число битов в байте для COM-порта\" value=\"1\"/>\n"
        "\t\t<LUMARICOMPARITY description=\"Четность COM-порта\" value=\"0\"/>\n"
        "\t\t<LUMARICOMSTOPBITS description=\"Cтоповые биты COM-порта\" value=\"0\"/>\n"
        "\t\t<LUMARICOMSERVER description=\"Cервер для протокола Surgard\" value=\"01\"/>\n"
        "\t\t<LUMARICOMLINE description=\"Линия для протокола Surgard\" value=\"1\"/>\n"
        "\t\t<LUMARICOMKEEPALIVE description=\"Keepalive время (сек) для протокола Surgard\" value=\"60\"/>\n"
        "\t\t<LUMARICOMUSETIME description=\"Surgard+Время\" value=\"0\"/>\n"
        "   </LUMARICOMMON>\n"
        "</LUMARICONFIG>");
    // The "C" starting the stop-bits and server descriptions above is Latin.
    return QTextCodec::codecForName("Windows-1251")->fromUnicode(text);
}

QByteArray fileWithGroup(const QByteArray &groupContent, const QByteArray &rootVersion = "1.0")
{
    return "<?xml version=\"1.0\" encoding=\"cp-1251\"?>\n<LUMARICONFIG version=\"" + rootVersion
        + "\">\n<LUMARICOMMON version=\"1.0\">\n" + groupContent + "</LUMARICOMMON>\n</LUMARICONFIG>";
}

// The file up to and including the first occurrence of marker.
QByteArray cutInside(const QByteArray &file, const QByteArray &marker)
{
    return file.left(file.indexOf(marker) + marker.size());
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

bool sameRecord(const SVelmoraConf &a, const SVelmoraConf &b)
{
    return a.tcpPort == b.tcpPort && a.comName == b.comName && a.baudRateIndex == b.baudRateIndex
        && a.dataBitsIndex == b.dataBitsIndex && a.parityIndex == b.parityIndex
        && a.stopBitsIndex == b.stopBitsIndex && a.server == b.server && a.line == b.line
        && a.keepAlive == b.keepAlive && int(a.useTime) == int(b.useTime) && int(a.logDays) == int(b.logDays)
        && a.supervisionS == b.supervisionS && a.devices == b.devices && a.journal == b.journal
        && a.comAckWaitMs == b.comAckWaitMs && a.comFallback == b.comFallback;
}

} // namespace

class TestVelmoraConf : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void defaultFileIsByteExact();
    void shorterValuesReplaceLongerFile();
    void writeFailureLeavesOldFile();
    void valuesAreEscapedAndReadBack();

    void versionCheck_data();
    void versionCheck();
    void fieldConversion_data();
    void fieldConversion();
    void malformedFiles_data();
    void malformedFiles();
    void structureRules();
    void missingFileIsRefused();
    void textEncodingsAndLineEnds_data();
    void textEncodingsAndLineEnds();
    void fallbackFieldsNamed_data();
    void fallbackFieldsNamed();
    void nonRegularFilesRefusedAtOnce();

    void backupKeepsForeignFile();

private:
    QString path() const { return dir.filePath(QStringLiteral("Lumari.conf")); }
    QTemporaryDir dir;
};

void TestVelmoraConf::init()
{
    QVERIFY(dir.isValid());
    QFile::remove(path());
}

void TestVelmoraConf::defaultFileIsByteExact()
{
    SVelmoraConf conf;
    conf.tcpPort = 1;
    VelmoraCommon_SetDefaultConf(&conf);
    QCOMPARE(VelmoraCommon_WriteConf(&conf, path()), 1);

    const QByteArray written = readAll(path());
    QCOMPARE(written, referenceDefaultFile());
    QVERIFY(!written.endsWith('\n'));
    QCOMPARE(written.count('\n'), 14);
    // Latin C (0x43) in the two descriptions, Windows-1251 elsewhere.
    QVERIFY(written.contains("description=\"C\xf2\xee\xef\xee\xe2\xfb\xe5"));
    QVERIFY(written.contains("description=\"C\xe5\xf0\xe2\xe5\xf0"));
    QVERIFY(written.contains("\"\xcf\xee\xf0\xf2 "));

    SVelmoraConf readBack;
    readBack.tcpPort = 1;
    QCOMPARE(VelmoraCommon_ReadConf(path(), &readBack), 0);
    QVERIFY(sameRecord(readBack, SVelmoraConf()));
}

void TestVelmoraConf::shorterValuesReplaceLongerFile()
{
    SVelmoraConf conf;
    conf.comName = QStringLiteral("COM12345678901234567890");
    QCOMPARE(VelmoraCommon_WriteConf(&conf, path()), 1);
    conf = SVelmoraConf();
    conf.keepAlive = 15;
    QCOMPARE(VelmoraCommon_WriteConf(&conf, path()), 1);

    QByteArray expected = referenceDefaultFile();
    expected.replace("value=\"60\"", "value=\"15\"");
    QCOMPARE(readAll(path()), expected);
}

void TestVelmoraConf::writeFailureLeavesOldFile()
{
    SVelmoraConf conf;
    QCOMPARE(VelmoraCommon_WriteConf(&conf, path()), 1);
    const QByteArray before = readAll(path());

    QCOMPARE(VelmoraCommon_WriteConf(&conf, dir.filePath(QStringLiteral("missing/Lumari.conf"))), -1);
    QCOMPARE(VelmoraCommon_WriteConf(nullptr, path()), -1);

    // A disk that fills up in the middle of the write, made with a file size
    // limit (which holds for root too): the old file must stay whole.
    struct rlimit saved {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 100;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    conf.keepAlive = 99;
    const int result = VelmoraCommon_WriteConf(&conf, path());
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &saved), 0);
    QCOMPARE(result, -1);
    QCOMPARE(readAll(path()), before);
}

void TestVelmoraConf::valuesAreEscapedAndReadBack()
{
    SVelmoraConf conf;
    conf.comName = QStringLiteral("Порт \"<1>\" & 'x'");
    conf.server = QStringLiteral("7");
    conf.line = QString();
    conf.tcpPort = -5;
    conf.useTime = 1;
    conf.logDays = 30;
    conf.supervisionS = 120;
    conf.devices = QStringLiteral("listed");
    conf.journal = QStringLiteral("host=db1 dbname=lumari password='a&b'");
    conf.comAckWaitMs = 4000;
    conf.comFallback = QStringLiteral("tcp://[fd00::5]:1025");
    QCOMPARE(VelmoraCommon_WriteConf(&conf, path()), 1);
    QVERIFY(readAll(path()).contains("<LUMARILOGDAYS "));
    QVERIFY(readAll(path()).contains("value=\"\xcf\xee\xf0\xf2 &quot;&lt;1&gt;&quot; &amp; 'x'\""));

    SVelmoraConf readBack;
    QCOMPARE(VelmoraCommon_ReadConf(path(), &readBack), 0);
    QVERIFY(sameRecord(readBack, conf));
}

void TestVelmoraConf::versionCheck_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("port");

    const QByteArray group = "<LUMARIPORT value=\"6000\"/>";
    QTest::newRow("1.0 accepted") << fileWithGroup(group) << 0 << 6000;
    QTest::newRow("1.0x accepted") << fileWithGroup(group, "1.0x") << 0 << 6000;
    QTest::newRow("1.1 refused") << fileWithGroup(group, "1.1") << -1 << 55555;
    QTest::newRow("2.0 refused") << fileWithGroup(group, "2.0") << -1 << 55555;
    QTest::newRow("version missing") << QByteArray("<LUMARICONFIG><LUMARICOMMON><LUMARIPORT value=\"6000\"/></LUMARICOMMON></LUMARICONFIG>") << -1 << 55555;
    QTest::newRow("other root element") << QByteArray("<CONFIG version=\"1.0\"><LUMARICOMMON><LUMARIPORT value=\"6000\"/></LUMARICOMMON></CONFIG>") << -1 << 55555;
    QTest::newRow("root in lower case") << QByteArray("<lumariconfig version=\"1.0\"/>") << -1 << 55555;
    QTest::newRow("comment before root") << QByteArray("<!-- hello --><LUMARICONFIG version=\"1.0\"><LUMARICOMMON><LUMARIPORT value=\"6000\"/></LUMARICOMMON></LUMARICONFIG>") << 0 << 6000;
}

void TestVelmoraConf::versionCheck()
{
    QFETCH(QByteArray, file);
    QFETCH(int, result);
    QFETCH(int, port);
    writeAll(path(), file);
    SVelmoraConf conf;
    QCOMPARE(VelmoraCommon_ReadConf(path(), &conf), result);
    QCOMPARE(conf.tcpPort, port);
}

void TestVelmoraConf::fieldConversion_data()
{
    QTest::addColumn<QByteArray>("element");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("expected");

    auto row = [](const char *name, const char *element, const char *value, const char *field, QVariant expected) {
        QTest::newRow(name) << QByteArray(element) << QByteArray(value) << QString::fromLatin1(field) << expected;
    };
    row("port 6000", "LUMARIPORT", "6000", "tcpPort", 6000);
    row("port 70000 kept", "LUMARIPORT", "70000", "tcpPort", 70000);
    row("port negative kept", "LUMARIPORT", "-1", "tcpPort", -1);
    row("port abc is 0", "LUMARIPORT", "abc", "tcpPort", 0);
    row("port past int is 0", "LUMARIPORT", "99999999999", "tcpPort", 0);
    row("port empty is 0", "LUMARIPORT", "", "tcpPort", 0);
    row("baud 10", "LUMARICOMBAUDRATE", "10", "baudRateIndex", 10);
    row("baud 12 is 7", "LUMARICOMBAUDRATE", "12", "baudRateIndex", 7);
    row("baud -1 is 7", "LUMARICOMBAUDRATE", "-1", "baudRateIndex", 7);
    row("baud abc is 0", "LUMARICOMBAUDRATE", "abc", "baudRateIndex", 0);
    row("data bits 2", "LUMARICOMDATABITS", "2", "dataBitsIndex", 2);
    row("data bits 3 is 1", "LUMARICOMDATABITS", "3", "dataBitsIndex", 1);
    row("data bits -1 is 1", "LUMARICOMDATABITS", "-1", "dataBitsIndex", 1);
    row("parity 2", "LUMARICOMPARITY", "2", "parityIndex", 2);
    row("parity 3 is 0", "LUMARICOMPARITY", "3", "parityIndex", 0);
    row("parity abc is 0", "LUMARICOMPARITY", "abc", "parityIndex", 0);
    row("stop bits 1", "LUMARICOMSTOPBITS", "1", "stopBitsIndex", 1);
    row("stop bits 2 is 0", "LUMARICOMSTOPBITS", "2", "stopBitsIndex", 0);
    row("stop bits -1 is 0", "LUMARICOMSTOPBITS", "-1", "stopBitsIndex", 0);
    row("keepalive 0", "LUMARICOMKEEPALIVE", "0", "keepAlive", 0);
    row("keepalive -3 kept", "LUMARICOMKEEPALIVE", "-3", "keepAlive", -3);
    row("keepalive abc is 0", "LUMARICOMKEEPALIVE", "abc", "keepAlive", 0);
    row("use time 2 kept", "LUMARICOMUSETIME", "2", "useTime", 2);
    row("com name as written", "LUMARICOMNAME", "/dev/ttyUSB0", "comName", QStringLiteral("/dev/ttyUSB0"));
    row("com name Cyrillic", "LUMARICOMNAME", "\xcf\xee\xf0\xf2", "comName", QStringLiteral("Порт"));
    row("server three digits kept", "LUMARICOMSERVER", "123", "server", QStringLiteral("123"));
    row("server empty", "LUMARICOMSERVER", "", "server", QStringLiteral(""));
    row("line kept", "LUMARICOMLINE", "9", "line", QStringLiteral("9"));
    row("log days 30", "LUMARILOGDAYS", "30", "logDays", 30);
    row("log days -1 is 0", "LUMARILOGDAYS", "-1", "logDays", 0);
    row("log days past ten years is 0", "LUMARILOGDAYS", "3651", "logDays", 0);
    row("supervision a week", "LUMARISUPERVISION", "604800", "supervisionS", 604800);
    row("supervision 5 for testing", "LUMARISUPERVISION", "5", "supervisionS", 5);
    row("supervision past a week is 0", "LUMARISUPERVISION", "604801", "supervisionS", 0);
    row("devices listed in capitals", "LUMARIDEVICES", " LISTED ", "devices", QStringLiteral("listed"));
    row("devices some is all", "LUMARIDEVICES", "some", "devices", QStringLiteral("all"));
    row("ack wait 4000", "LUMARICOMACKWAIT", "4000", "comAckWaitMs", 4000);
    row("ack wait 749 is 750", "LUMARICOMACKWAIT", "749", "comAckWaitMs", 750);
    row("ack wait 9901 is 750", "LUMARICOMACKWAIT", "9901", "comAckWaitMs", 750);
    row("fallback tcp address", "LUMARICOMFALLBACK", " tcp://127.0.0.1:1025 ", "comFallback",
        QStringLiteral("tcp://127.0.0.1:1025"));
    row("journal connection string", "LUMARIJOURNAL", " postgresql://lumari@db1,db2/lumari?target_session_attrs=read-write ",
        "journal", QStringLiteral("postgresql://lumari@db1,db2/lumari?target_session_attrs=read-write"));
}

void TestVelmoraConf::fieldConversion()
{
    QFETCH(QByteArray, element);
    QFETCH(QByteArray, value);
    QFETCH(QString, field);
    QFETCH(QVariant, expected);

    writeAll(path(), fileWithGroup("<" + element + " description=\"x\" value=\"" + value + "\"/>\n"));
    SVelmoraConf conf;
    conf.comName = QStringLiteral("before");
    QCOMPARE(VelmoraCommon_ReadConf(path(), &conf), 0);

    const QMap<QString, QVariant> fields = {
        {QStringLiteral("tcpPort"), conf.tcpPort}, {QStringLiteral("comName"), conf.comName},
        {QStringLiteral("baudRateIndex"), conf.baudRateIndex}, {QStringLiteral("dataBitsIndex"), conf.dataBitsIndex},
        {QStringLiteral("parityIndex"), conf.parityIndex}, {QStringLiteral("stopBitsIndex"), conf.stopBitsIndex},
        {QStringLiteral("server"), conf.server}, {QStringLiteral("line"), conf.line},
        {QStringLiteral("keepAlive"), conf.keepAlive}, {QStringLiteral("useTime"), int(conf.useTime)},
        {QStringLiteral("logDays"), int(conf.logDays)}, {QStringLiteral("supervisionS"), int(conf.supervisionS)},
        {QStringLiteral("devices"), conf.devices}, {QStringLiteral("journal"), conf.journal},
        {QStringLiteral("comAckWaitMs"), int(conf.comAckWaitMs)}, {QStringLiteral("comFallback"), conf.comFallback},
    };
    QCOMPARE(fields.value(field), expected);
    // Only the named field moves.
    if (field != QLatin1String("comName"))
        QCOMPARE(conf.comName, QStringLiteral("before"));
}

void TestVelmoraConf::malformedFiles_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("keepAlive");

    QTest::newRow("empty file") << QByteArray() << 55555 << 60;
    QTest::newRow("text that is not XML") << QByteArray("port=6000\nkeepalive=5\n") << 55555 << 60;
    QTest::newRow("cut inside the group")
        << cutInside(fileWithGroup("<LUMARIPORT value=\"6000\"/>\n<LUMARICOMKEEPALIVE value=\"15\"/>\n"), "<LUMARICOMKEEPALIVE va")
        << 6000 << 60;
    QTest::newRow("error after a field")
        << fileWithGroup("<LUMARIPORT value=\"6000\"/>\n<<broken\n<LUMARICOMKEEPALIVE value=\"15\"/>\n") << 6000 << 60;
    QTest::newRow("missing value attribute")
        << fileWithGroup("<LUMARIPORT description=\"x\"/>\n<LUMARICOMKEEPALIVE value=\"15\"/>\n") << 0 << 15;
}

void TestVelmoraConf::malformedFiles()
{
    QFETCH(QByteArray, file);
    QFETCH(int, port);
    QFETCH(int, keepAlive);

    writeAll(path(), file);
    SVelmoraConf conf;
    QCOMPARE(VelmoraCommon_ReadConf(path(), &conf), 0);
    QCOMPARE(conf.tcpPort, port);
    QCOMPARE(conf.keepAlive, keepAlive);
    QCOMPARE(readAll(path()), file);
}

void TestVelmoraConf::structureRules()
{
    // Unknown elements with children are skipped whole, inside the group and
    // in the root; a later duplicate wins; names are case-sensitive.
    writeAll(path(), fileWithGroup(
        "<LUMARIPORT value=\"6000\"/>\n"
        "<EXTRA><LUMARICOMKEEPALIVE value=\"11\"/><DEEP><LUMARIPORT value=\"1\"/></DEEP></EXTRA>\n"
        "<lumaricomline value=\"8\"/>\n"
        "<LUMARICOMSERVER value=\"05\"/>\n"
        "<LUMARIPORT value=\"6001\"/>\n"));
    QByteArray content = readAll(path());
    content.replace("<LUMARICOMMON", "<OTHER><LUMARICOMMON><LUMARICOMNAME value=\"COM9\"/></LUMARICOMMON></OTHER>\n<LUMARICOMMON");
    writeAll(path(), content);

    SVelmoraConf conf;
    QCOMPARE(VelmoraCommon_ReadConf(path(), &conf), 0);
    QCOMPARE(conf.tcpPort, 6001);
    QCOMPARE(conf.keepAlive, 60);
    QCOMPARE(conf.line, QStringLiteral("1"));
    QCOMPARE(conf.server, QStringLiteral("05"));
    QCOMPARE(conf.comName, QStringLiteral("COM1"));
}

void TestVelmoraConf::missingFileIsRefused()
{
    SVelmoraConf conf;
    QCOMPARE(VelmoraCommon_ReadConf(path(), &conf), -1);
    QCOMPARE(VelmoraCommon_ReadConf(dir.path(), &conf), -1);
    QCOMPARE(VelmoraCommon_ReadConf(path(), nullptr), -1);
    QVERIFY(sameRecord(conf, SVelmoraConf()));
}

void TestVelmoraConf::textEncodingsAndLineEnds_data()
{
    QTest::addColumn<QByteArray>("file");

    SVelmoraConf written;
    written.tcpPort = 6000;
    written.comName = QStringLiteral("/dev/ttyUSB0");
    written.keepAlive = 15;
    QByteArray windowsFile = VelmoraCommon_ConfFileText(written);
    // What an editor on Windows makes of the file: CR LF line ends, and with
    // "UTF-8" chosen, a byte order mark and UTF-8 descriptions while the
    // declaration still says "cp-1251".
    QByteArray crlf = windowsFile;
    crlf.replace("\n", "\r\n");
    const QByteArray utf8 = QTextCodec::codecForName("Windows-1251")->toUnicode(windowsFile).toUtf8();
    const QByteArray bom("\xEF\xBB\xBF");
    QByteArray utf8Crlf = utf8;
    utf8Crlf.replace("\n", "\r\n");

    QTest::newRow("CR LF line ends") << crlf;
    QTest::newRow("UTF-8 with byte order mark") << bom + utf8;
    QTest::newRow("byte order mark and CR LF") << bom + utf8Crlf;
    QTest::newRow("byte order mark, no declaration") << bom + utf8.mid(utf8.indexOf('\n') + 1);
}

void TestVelmoraConf::textEncodingsAndLineEnds()
{
    QFETCH(QByteArray, file);
    writeAll(path(), file);

    SVelmoraConf conf;
    QStringList fallback{QStringLiteral("stale")};
    QCOMPARE(VelmoraCommon_ReadConf(path(), &conf, &fallback), 0);
    QCOMPARE(conf.tcpPort, 6000);
    QCOMPARE(conf.comName, QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(conf.keepAlive, 15);
    QCOMPARE(conf.useTime, 0);
    QCOMPARE(fallback, QStringList());
}

void TestVelmoraConf::fallbackFieldsNamed_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("fallback");

    const QStringList allFields{
        "LUMARIPORT", "LUMARICOMNAME", "LUMARICOMBAUDRATE", "LUMARICOMDATABITS", "LUMARICOMPARITY",
        "LUMARICOMSTOPBITS", "LUMARICOMSERVER", "LUMARICOMLINE", "LUMARICOMKEEPALIVE", "LUMARICOMUSETIME"};
    const QByteArray complete = VelmoraCommon_ConfFileText(SVelmoraConf());
    auto replaced = [&](const char *from, const char *to) { return QByteArray(complete).replace(from, to); };
    auto without = [&](const QString &name) {
        QStringList rest = allFields;
        rest.removeOne(name);
        return rest;
    };

    QTest::newRow("every field as written") << complete << QStringList();
    QTest::newRow("only the port") << fileWithGroup("<LUMARIPORT value=\"6000\"/>\n") << without("LUMARIPORT");
    QTest::newRow("empty file") << QByteArray() << allFields;
    QTest::newRow("port that is not a number")
        << replaced("value=\"55555\"", "value=\"99999999999\"") << QStringList{"LUMARIPORT"};
    QTest::newRow("baud index out of range, keepalive text")
        << replaced("value=\"7\"", "value=\"12\"").replace("value=\"60\"", "value=\"1m\"")
        << QStringList{"LUMARICOMBAUDRATE", "LUMARICOMKEEPALIVE"};
    QTest::newRow("port name without value attribute")
        << replaced("value=\"COM1\"", "") << QStringList{"LUMARICOMNAME"};
    QTest::newRow("bad value mended by a later duplicate")
        << replaced("<LUMARICOMNAME", "<LUMARICOMPARITY value=\"9\"/><LUMARICOMNAME") << QStringList();
    QTest::newRow("good value spoiled by a later duplicate")
        << replaced("   </LUMARICOMMON>", "<LUMARICOMPARITY value=\"9\"/></LUMARICOMMON>") << QStringList{"LUMARICOMPARITY"};
    QTest::newRow("log days that are not a number")
        << replaced("   </LUMARICOMMON>", "<LUMARILOGDAYS value=\"week\"/></LUMARICOMMON>") << QStringList{"LUMARILOGDAYS"};
    QTest::newRow("cut after the baud rate")
        << cutInside(complete, "value=\"7\"/>") << QStringList(allFields.mid(3));
}

void TestVelmoraConf::fallbackFieldsNamed()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, fallback);
    writeAll(path(), file);

    SVelmoraConf conf;
    QStringList named;
    QCOMPARE(VelmoraCommon_ReadConf(path(), &conf, &named), 0);
    QCOMPARE(named, fallback);
}

// A FIFO in the file's place would hold the open until some program writes
// to it; a device would be opened, and a terminal could become the process's
// controlling terminal. Both are refused without waiting, and no copy of
// them is attempted.
void TestVelmoraConf::nonRegularFilesRefusedAtOnce()
{
    QVERIFY(::mkfifo(QFile::encodeName(path()).constData(), 0600) == 0);
    SVelmoraConf conf;
    QCOMPARE(VelmoraCommon_ReadConf(path(), &conf), -1);
    QCOMPARE(VelmoraCommon_BackupConf(path()), -1);
    QVERIFY(!QFile::exists(path() + QStringLiteral(".bak")));
    QVERIFY(QFile::remove(path()));

    QVERIFY(QFile::link(QStringLiteral("/dev/null"), path()));
    QCOMPARE(VelmoraCommon_ReadConf(path(), &conf), -1);
    QVERIFY(QFile::remove(path()));

    QVERIFY(QFile::link(dir.filePath(QStringLiteral("nowhere")), path()));
    QCOMPARE(VelmoraCommon_ReadConf(path(), &conf), -1);
    QVERIFY(QFile::remove(path()));
    QVERIFY(sameRecord(conf, SVelmoraConf()));
}

void TestVelmoraConf::backupKeepsForeignFile()
{
    QCOMPARE(VelmoraCommon_BackupConf(path()), 1);
    QVERIFY(!QFile::exists(path() + QStringLiteral(".bak")));

    writeAll(path(), "old backup");
    QCOMPARE(VelmoraCommon_BackupConf(path()), 1);
    writeAll(path(), "<settings>mine</settings>");
    QCOMPARE(VelmoraCommon_BackupConf(path()), 1);
    QCOMPARE(readAll(path() + QStringLiteral(".bak")), QByteArray("<settings>mine</settings>"));
}

QTEST_GUILESS_MAIN(TestVelmoraConf)
#include "tst_velmoraconf.moc"
