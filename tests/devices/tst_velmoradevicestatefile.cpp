#include "velmoradevicestatefile.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

class TestVelmoraDeviceStateFile : public QObject
{
    Q_OBJECT

private slots:
    void keptAcrossOpen_data();
    void keptAcrossOpen();
    void survivesKillAtAnyMoment();
};

namespace {

SVelmoraDeviceState state(const QString &deviceId, qint64 heardAt, bool absent = false)
{
    SVelmoraDeviceState device;
    device.deviceId = deviceId;
    device.mac = QStringLiteral("0102030405060708");
    device.lastHeardAt = heardAt;
    device.absenceReported = absent;
    device.absentSince = absent ? heardAt + 1 : 0;
    return device;
}

QString statesText(QVector<SVelmoraDeviceState> states)
{
    std::sort(states.begin(), states.end(),
              [](const SVelmoraDeviceState &a, const SVelmoraDeviceState &b) { return a.deviceId < b.deviceId; });
    QStringList text;
    for (const SVelmoraDeviceState &device : states)
        text << QStringLiteral("%1 %2 %3").arg(device.deviceId).arg(device.lastHeardAt).arg(device.absenceReported);
    return text.join(QLatin1Char(','));
}

} // namespace

void TestVelmoraDeviceStateFile::keptAcrossOpen_data()
{
    QTest::addColumn<QByteArray>("appendedByHand");
    QTest::addColumn<QString>("expected");

    QTest::newRow("last state of each device counts, forgotten one gone") << QByteArray()
                                                                          << QStringLiteral("0A0B0C 3 1");
    QTest::newRow("line cut off by a crash passed over")
        << QByteArray("S 0A0B0E 0102030405060708 9 0") << QStringLiteral("0A0B0C 3 1");
    QTest::newRow("line with a wrong checksum passed over")
        << QByteArray("S 0A0B0E 0102030405060708 9 0 0 ffff\n") << QStringLiteral("0A0B0C 3 1");
}

void TestVelmoraDeviceStateFile::keptAcrossOpen()
{
    QFETCH(QByteArray, appendedByHand);
    QFETCH(QString, expected);

    QTemporaryDir directory;
    QString path;
    {
        VelmoraDeviceStateFile store(directory.path());
        QVERIFY(store.open());
        QVERIFY(store.save({state(QStringLiteral("0A0B0C"), 1), state(QStringLiteral("0A0B0D"), 2)}, true));
        QVERIFY(store.save({state(QStringLiteral("0A0B0C"), 3, true)}, false));
        QVERIFY(store.forget(QStringLiteral("0A0B0D")));
        path = store.filePath();
    }
    // Written once the store has closed it: Windows lets no second writer
    // open a file the store holds.
    QFile file(path);
    QVERIFY(file.open(QIODevice::Append));
    file.write(appendedByHand);
    file.close();
    {
        VelmoraDeviceStateFile reopened(directory.path());
        QVERIFY(reopened.open());
        QCOMPARE(statesText(reopened.devices()), expected);
        QCOMPARE(reopened.damagedLines(), appendedByHand.isEmpty() ? 0 : 1);
        // A damaged end is cut away, so the next line is read whole.
        QVERIFY(reopened.save({state(QStringLiteral("0A0B0F"), 4)}, true));
    }
    VelmoraDeviceStateFile again(directory.path());
    QVERIFY(again.open());
    QCOMPARE(statesText(again.devices()), expected + QStringLiteral(",0A0B0F 4 0"));
}

void TestVelmoraDeviceStateFile::survivesKillAtAnyMoment()
{
    QTemporaryDir directory;
    QHash<QString, qint64> printed;
    for (int round = 0; round < 6; ++round) {
        QProcess child;
        child.start(QStringLiteral(DEVICE_STATE_CRASH_CHILD), {directory.path()});
        QVERIFY(child.waitForStarted());
        QTest::qWait(30 + int(QRandomGenerator::global()->bounded(250)));
        child.kill();
        QVERIFY(child.waitForFinished());
        QVERIFY2(child.exitStatus() == QProcess::CrashExit, "the child ended by itself");
        for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
            bool converted = false;
            const qint64 saved = line.toLongLong(&converted);
            if (converted)
                printed.insert(QStringLiteral("0A0B%1").arg(int(saved % 20), 2, 16, QLatin1Char('0')).toUpper(),
                               saved);
        }
        VelmoraDeviceStateFile store(directory.path());
        QVERIFY(store.open());
        QHash<QString, qint64> kept;
        for (const SVelmoraDeviceState &device : store.devices())
            kept.insert(device.deviceId, device.lastHeardAt);
        for (auto saved = printed.cbegin(); saved != printed.cend(); ++saved)
            QVERIFY2(kept.value(saved.key()) >= saved.value(), qPrintable(saved.key()));
    }
    QVERIFY2(printed.size() == 20, "the child saved too little to tell");
}

QTEST_GUILESS_MAIN(TestVelmoraDeviceStateFile)

#include "tst_velmoradevicestatefile.moc"
