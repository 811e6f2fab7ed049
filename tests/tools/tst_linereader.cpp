#include "linereader.h"

#include <QtTest>

class TestLineReader : public QObject
{
    Q_OBJECT

private slots:
    void split_data();
    void split();
};

void TestLineReader::split_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    // Lines taken, an unterminated one marked with a leading '!'.
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<int>("left");

    QTest::newRow("one line") << QList<QByteArray>{"5011 1812ABE40101003\x14"}
                              << QList<QByteArray>{"5011 1812ABE40101003"} << 0;
    QTest::newRow("line in three reads") << QList<QByteArray>{"5011 ", "1812AB", "E40101003\x14"}
                                         << QList<QByteArray>{"5011 1812ABE40101003"} << 0;
    QTest::newRow("keepalive and event back to back")
        << QList<QByteArray>{"1011           @    \x14" "5011 1812ABE40101003\x14"}
        << QList<QByteArray>{"1011           @    ", "5011 1812ABE40101003"} << 0;
    QTest::newRow("terminator still missing") << QList<QByteArray>{"5011 18"} << QList<QByteArray>{} << 7;
    QTest::newRow("empty line") << QList<QByteArray>{"\x14"} << QList<QByteArray>{""} << 0;
    QTest::newRow("terminator at the size limit")
        << QList<QByteArray>{QByteArray(LineReader::kMaxLineSize, 'x') + "\x14"}
        << QList<QByteArray>{QByteArray(LineReader::kMaxLineSize, 'x')} << 0;
    QTest::newRow("overlong junk is cut, not hoarded")
        << QList<QByteArray>{QByteArray(LineReader::kMaxLineSize + 5, 'x')}
        << QList<QByteArray>{"!" + QByteArray(LineReader::kMaxLineSize, 'x')} << 5;
}

void TestLineReader::split()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<QByteArray>, lines);
    QFETCH(int, left);
    LineReader reader;
    QList<QByteArray> taken;
    for (const QByteArray &chunk : chunks) {
        reader.append(chunk);
        QByteArray line;
        bool terminated = false;
        while (reader.take(&line, &terminated))
            taken.append(terminated ? line : "!" + line);
    }
    QCOMPARE(taken, lines);
    QCOMPARE(reader.buffered(), left);
}

QTEST_GUILESS_MAIN(TestLineReader)
#include "tst_linereader.moc"
