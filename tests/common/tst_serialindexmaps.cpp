#include "serialindexmaps.h"

#include <QtTest>

#include <climits>

// Expected values are the lists of the settings panel; every input outside
// a list must land on the documented replacement, whatever its sign or size.
class TestSerialIndexMaps : public QObject
{
    Q_OBJECT

private slots:
    void maps_data();
    void maps();
};

void TestSerialIndexMaps::maps_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("baudIndex");
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<int>("threeWay");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");

    const int baudRates[] = {75, 110, 300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    for (int index = 0; index <= 10; ++index) {
        const int threeWay = index <= 2 ? index : 1;
        const int dataBits = index <= 2 ? 7 + index : 8;
        const int stopBits = index == 1 ? 1 : 0;
        QTest::addRow("index %d", index)
            << index << index << baudRates[index] << threeWay << dataBits << stopBits;
    }
    QTest::newRow("eleven, one past the baud list") << 11 << 7 << 19200 << 1 << 8 << 0;
    QTest::newRow("minus one") << -1 << 7 << 19200 << 1 << 8 << 0;
    QTest::newRow("large") << 1000000 << 7 << 19200 << 1 << 8 << 0;
    QTest::newRow("INT_MAX") << INT_MAX << 7 << 19200 << 1 << 8 << 0;
    QTest::newRow("INT_MIN") << INT_MIN << 7 << 19200 << 1 << 8 << 0;
}

void TestSerialIndexMaps::maps()
{
    QFETCH(int, index);
    QFETCH(int, baudIndex);
    QFETCH(int, baudRate);
    QFETCH(int, threeWay);
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);

    QCOMPARE(checkBaudRateIndex(index), baudIndex);
    QCOMPARE(baudRateFromIndex(index), baudRate);
    QCOMPARE(checkThreeWayIndex(index), threeWay);
    QCOMPARE(dataBitsFromIndex(index), dataBits);
    QCOMPARE(checkStopBitsIndex(index), stopBits);
}

QTEST_APPLESS_MAIN(TestSerialIndexMaps)
#include "tst_serialindexmaps.moc"
