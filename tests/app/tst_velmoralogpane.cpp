#include "velmoralogpane.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QtTest>

namespace {

// The fake clock of the stamps: the test moves it by hand.
QDateTime fakeNow;

QDateTime fakeClock()
{
    return fakeNow;
}

QStringList shownLines(const VelmoraLogPane &pane)
{
    QStringList lines;
    for (QTextBlock block = pane.document()->begin(); block.isValid(); block = block.next())
        lines << block.text();
    // An empty document still has its one empty block.
    if (lines == QStringList{QString()})
        lines.clear();
    return lines;
}

QString stampOf(const QDateTime &time)
{
    return time.toString(Qt::TextDate) + QLatin1Char(' ');
}

} // namespace

class TestVelmoraLogPane : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        fakeNow = QDateTime(QDate(2026, 12, 6), QTime(2, 37, 38));
    }

    // The lines before the last emptying inside one batch are never shown:
    // the pane looks as if every line had been appended on its own.
    void thousandLineRuleAcrossBatches_data()
    {
        QTest::addColumn<int>("alreadyShown");
        QTest::addColumn<int>("batch");
        QTest::addColumn<int>("expectedShown");
        QTest::addColumn<int>("expectedFirst");

        QTest::newRow("batch fills the page exactly") << 990 << 10 << 1000 << 1;
        QTest::newRow("first line past the thousandth empties the page") << 999 << 2 << 1 << 1001;
        QTest::newRow("batch crosses the rule with lines to spare") << 999 << 3 << 2 << 1001;
        QTest::newRow("one batch of 2500 lines from an empty page") << 0 << 2500 << 500 << 2001;
        QTest::newRow("batch of exactly 2000 from an empty page") << 0 << 2000 << 1000 << 1001;
    }

    void thousandLineRuleAcrossBatches()
    {
        QFETCH(int, alreadyShown);
        QFETCH(int, batch);
        QFETCH(int, expectedShown);
        QFETCH(int, expectedFirst);

        VelmoraLogPane pane;
        pane.setClock(fakeClock);
        int number = 0;
        for (int i = 0; i < alreadyShown; ++i)
            pane.addLine(QStringLiteral("line %1").arg(++number));
        pane.flushWaitingLines();
        for (int i = 0; i < batch; ++i)
            pane.addLine(QStringLiteral("line %1").arg(++number));
        pane.flushWaitingLines();

        const QStringList lines = shownLines(pane);
        QCOMPARE(lines.size(), expectedShown);
        QCOMPARE(pane.lineCount(), expectedShown);
        QCOMPARE(lines.first(), stampOf(fakeNow) + QStringLiteral("line %1").arg(expectedFirst));
        QCOMPARE(lines.last(), stampOf(fakeNow) + QStringLiteral("line %1").arg(number));
    }

    void lineStampedWhenReportedNotWhenShown()
    {
        VelmoraLogPane pane;
        pane.setClock(fakeClock);
        const QDateTime reported = fakeNow;
        pane.addLine(QStringLiteral("[net] first"));
        fakeNow = fakeNow.addSecs(3);
        pane.addLine(QStringLiteral("[com] second"));
        fakeNow = fakeNow.addSecs(60);
        pane.flushWaitingLines();

        QCOMPARE(shownLines(pane), (QStringList{stampOf(reported) + QStringLiteral("[net] first"),
                                                stampOf(reported.addSecs(3)) + QStringLiteral("[com] second")}));
    }

    void textIsShownAsWritten()
    {
        // A configured port name or a device's bytes are text, not markup.
        VelmoraLogPane pane;
        pane.setClock(fakeClock);
        pane.addLine(QStringLiteral("[com] Couldn't open <b>COM1</b> &amp;"));
        pane.flushWaitingLines();
        QCOMPARE(shownLines(pane), QStringList{stampOf(fakeNow) + QStringLiteral("[com] Couldn't open <b>COM1</b> &amp;")});
    }

    void newPageShowsWaitingLinesFirstAndKeepsTheCount()
    {
        VelmoraLogPane pane;
        pane.setClock(fakeClock);
        for (int i = 1; i <= 700; ++i)
            pane.addLine(QStringLiteral("line %1").arg(i));
        pane.startNewPage();
        QVERIFY(shownLines(pane).isEmpty());
        QCOMPARE(pane.lineCount(), 700);

        for (int i = 701; i <= 1001; ++i)
            pane.addLine(QStringLiteral("line %1").arg(i));
        pane.flushWaitingLines();
        QCOMPARE(shownLines(pane), QStringList{stampOf(fakeNow) + QStringLiteral("line 1001")});
    }

    void linesReachThePaneWithoutAFlush()
    {
        VelmoraLogPane pane;
        pane.addLine(QStringLiteral("[Lumari] Starting..."));
        QTRY_COMPARE_WITH_TIMEOUT(shownLines(pane).size(), 1, 5000);
        QVERIFY(shownLines(pane).first().endsWith(QStringLiteral(" [Lumari] Starting...")));
    }

    void busyReporterGetsAtMostTwentyUpdatesASecond()
    {
        VelmoraLogPane pane;
        pane.show();
        int reported = 0;
        QTimer reporter;
        connect(&reporter, &QTimer::timeout, [&] {
            for (int i = 0; i < 10; ++i)
                pane.addLine(QStringLiteral("[net] line %1").arg(++reported));
        });
        QElapsedTimer elapsed;
        elapsed.start();
        reporter.start(1);
        QTest::qWait(1000);
        reporter.stop();
        const qint64 ms = elapsed.elapsed();
        pane.flushWaitingLines();

        QVERIFY(reported > 100);
        QCOMPARE(pane.lineCount(), reported % VelmoraLogPane::kMaxLines == 0
                                       ? VelmoraLogPane::kMaxLines
                                       : reported % VelmoraLogPane::kMaxLines);
        // One batch per 50 ms at most, plus the final flush.
        QVERIFY2(pane.updateCount() <= ms / (1000 / VelmoraLogPane::kUpdatesPerSecond) + 2,
                 qPrintable(QStringLiteral("%1 updates for %2 lines in %3 ms")
                                .arg(pane.updateCount()).arg(reported).arg(ms)));
    }
};

QTEST_MAIN(TestVelmoraLogPane)
#include "tst_velmoralogpane.moc"
