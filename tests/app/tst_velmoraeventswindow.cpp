#include "velmoraeventswindow.h"
#include "velmoraheldeventsmodel.h"
#include "velmoralinestatetext.h"

#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

// The Events window and the status bar's line text, fed by hand-made lists
// as the serial worker would send them.
class TestVelmoraEventsWindow : public QObject
{
    Q_OBJECT

private slots:
    void csvField_data();
    void csvField();
    void csvOfTheTable();
    void lineStateText_data();
    void lineStateText();
    void answersOnlyForSetAsideRows_data();
    void answersOnlyForSetAsideRows();
    void selectionFollowsItsEventAcrossLists();
    void exportWritesTheTable();
};

namespace {

SVelmoraHeldRow makeRow(qint64 key, SVelmoraHeldRow::State state, const QString &account = QStringLiteral("001234"))
{
    SVelmoraHeldRow row;
    row.msg.account = account;
    row.msg.event = QStringLiteral("1130");
    row.msg.group = QStringLiteral("01");
    row.msg.zone = QStringLiteral("003");
    row.msg.deviceId = QStringLiteral("0A0B0C");
    row.msg.peerAddress = QStringLiteral("192.0.2.7");
    row.msg.receivedAt = QDateTime(QDate(2026, 12, 8), QTime(4, 5, 6));
    row.msg.journalId = key;
    row.lineText = QStringLiteral("5011 18") + account + QStringLiteral("E13001003\x14");
    row.attempts = 20;
    row.state = state;
    row.key = key;
    return row;
}

} // namespace

void TestVelmoraEventsWindow::csvField_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("field");

    QTest::newRow("plain") << "5011 18" << "5011 18";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("comma") << "a,b" << "\"a,b\"";
    QTest::newRow("quote doubled") << "say \"hi\"" << "\"say \"\"hi\"\"\"";
    QTest::newRow("line break") << "one\ntwo" << "\"one\ntwo\"";
    QTest::newRow("carriage return") << "one\rtwo" << "\"one\rtwo\"";
}

void TestVelmoraEventsWindow::csvField()
{
    QFETCH(QString, text);
    QFETCH(QString, field);
    QCOMPARE(VelmoraHeldEventsModel::csvField(text), field);
}

void TestVelmoraEventsWindow::csvOfTheTable()
{
    VelmoraHeldEventsModel model;
    model.setRows({makeRow(7, SVelmoraHeldRow::SetAside, QStringLiteral("12,\"4"))});
    const QStringList lines = model.toCsv().split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(0), QStringLiteral("Received,Device ID,Peer address,Account,Event,Group,Zone,Line,Attempts,State"));
    QCOMPARE(lines.at(1), QStringLiteral("2026-12-08 04:05:06,0A0B0C,192.0.2.7,\"12,\"\"4\",1130,01,003,"
                                         "\"5011 1812,\"\"4E13001003<14>\",20,set aside"));
    QCOMPARE(lines.at(2), QString());
}

void TestVelmoraEventsWindow::lineStateText_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QDateTime>("since");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("setAside");
    QTest::addColumn<QString>("fallback"); // its name; empty: none
    QTest::addColumn<int>("fallbackKind");
    QTest::addColumn<bool>("onFallback");
    QTest::addColumn<QString>("text");

    const QDateTime now(QDate(2026, 12, 8), QTime(5, 0));
    const auto row = [](const char *name, SVelmoraLineState::Kind kind, const QDateTime &since, const char *reason,
                        int setAside, const char *text, const char *fallback = "",
                        SVelmoraLineState::Kind fallbackKind = SVelmoraLineState::PortClosed, bool onFallback = false) {
        QTest::newRow(name) << int(kind) << since << reason << setAside << fallback << int(fallbackKind)
                            << onFallback << text;
    };
    row("answering", SVelmoraLineState::Answering, QDateTime(), "", 0, "Line: answering");
    row("not answering today", SVelmoraLineState::NotAnswering, now.addSecs(-3600), "", 0,
        "Line: not answering since 04:00");
    row("not answering since yesterday", SVelmoraLineState::NotAnswering, now.addDays(-1), "", 0,
        "Line: not answering since 07.12.2026 05:00");
    row("refusing, with events set aside", SVelmoraLineState::RefusingEvents, now.addSecs(-60), "", 2,
        "Line: refuses events since 04:59, set aside: 2");
    row("port closed with the reason", SVelmoraLineState::PortClosed, QDateTime(), "No such file or directory", 1,
        "Line: port closed (No such file or directory), set aside: 1");
    row("port open", SVelmoraLineState::PortOpen, QDateTime(), "", 0, "Line: port open, no answer yet");
    row("fallback in use, primary named second", SVelmoraLineState::NotAnswering, now.addSecs(-1080), "", 0,
        "Line: fallback COM2 answering, primary not answering since 04:42", "COM2", SVelmoraLineState::Answering,
        true);
    row("primary in use, fallback named second", SVelmoraLineState::Answering, QDateTime(), "", 1,
        "Line: answering, fallback tcp://10.0.0.2:1025 port open, no answer yet, set aside: 1",
        "tcp://10.0.0.2:1025", SVelmoraLineState::PortOpen);
}

void TestVelmoraEventsWindow::lineStateText()
{
    QFETCH(int, kind);
    QFETCH(QDateTime, since);
    QFETCH(QString, reason);
    QFETCH(int, setAside);
    QFETCH(QString, fallback);
    QFETCH(int, fallbackKind);
    QFETCH(bool, onFallback);
    QFETCH(QString, text);

    SVelmoraLineState state;
    state.kind = static_cast<SVelmoraLineState::Kind>(kind);
    state.since = since;
    state.reason = reason;
    state.setAside = setAside;
    state.fallbackName = fallback;
    state.fallbackKind = static_cast<SVelmoraLineState::Kind>(fallbackKind);
    state.onFallback = onFallback;
    QCOMPARE(VelmoraLineStateText::text(state, QDateTime(QDate(2026, 12, 8), QTime(5, 0))), text);
}

void TestVelmoraEventsWindow::answersOnlyForSetAsideRows_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("confirmed");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("sent");

    QTest::newRow("waiting row: no answers") << 0 << true << false << false;
    QTest::newRow("refused row on trial: no answers") << 1 << true << false << false;
    QTest::newRow("set-aside row, confirmed") << 2 << true << true << true;
    QTest::newRow("set-aside row, not confirmed") << 2 << false << true << false;
}

void TestVelmoraEventsWindow::answersOnlyForSetAsideRows()
{
    QFETCH(int, row);
    QFETCH(bool, confirmed);
    QFETCH(bool, enabled);
    QFETCH(bool, sent);

    VelmoraEventsWindow window;
    QStringList asked;
    window.setConfirmation([&](const QString &title, const QString &text) {
        asked << title + QLatin1Char('|') + text;
        return confirmed;
    });
    QSignalSpy again(&window, &VelmoraEventsWindow::sendAgainSignal);
    QSignalSpy release(&window, &VelmoraEventsWindow::releaseSignal);
    window.setRowsSlot({makeRow(1, SVelmoraHeldRow::Waiting), makeRow(2, SVelmoraHeldRow::Refused),
                        makeRow(-1, SVelmoraHeldRow::SetAside)});
    QVERIFY(!window.sendAgainButton()->isEnabled());
    window.table()->selectRow(row);
    QCOMPARE(window.sendAgainButton()->isEnabled(), enabled);
    QCOMPARE(window.releaseButton()->isEnabled(), enabled);

    window.sendAgainButton()->click();
    window.releaseButton()->click();
    QCOMPARE(asked.size(), enabled ? 2 : 0);
    if (enabled) {
        // The box names the event by its line.
        QVERIFY(asked.at(0).startsWith(QStringLiteral("Send again|")));
        QVERIFY(asked.at(0).endsWith(QStringLiteral("5011 18001234E13001003<14>")));
        QVERIFY(asked.at(1).startsWith(QStringLiteral("Release|")));
    }
    QCOMPARE(again.size(), sent ? 1 : 0);
    QCOMPARE(release.size(), sent ? 1 : 0);
    if (sent) {
        QCOMPARE(again.first().first().toLongLong(), qint64(-1));
        QCOMPARE(release.first().first().toLongLong(), qint64(-1));
    }
}

void TestVelmoraEventsWindow::selectionFollowsItsEventAcrossLists()
{
    VelmoraEventsWindow window;
    window.setRowsSlot({makeRow(1, SVelmoraHeldRow::Waiting), makeRow(5, SVelmoraHeldRow::SetAside)});
    window.table()->selectRow(1);
    // An older event went out and a new one came: the set-aside event moved
    // up a row, and the selection with it.
    window.setRowsSlot({makeRow(5, SVelmoraHeldRow::SetAside), makeRow(6, SVelmoraHeldRow::Waiting)});
    const QModelIndexList selected = window.table()->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.first().row(), 0);
    QVERIFY(window.sendAgainButton()->isEnabled());
    // Gone from the list: nothing selected, nothing to answer.
    window.setRowsSlot({makeRow(6, SVelmoraHeldRow::Waiting)});
    QVERIFY(window.table()->selectionModel()->selectedRows().isEmpty());
    QVERIFY(!window.releaseButton()->isEnabled());
}

void TestVelmoraEventsWindow::exportWritesTheTable()
{
    QTemporaryDir directory;
    QVERIFY(directory.isValid());
    VelmoraEventsWindow window;
    window.setRowsSlot({makeRow(1, SVelmoraHeldRow::Waiting), makeRow(2, SVelmoraHeldRow::SetAside)});
    const QString path = directory.path() + QStringLiteral("/events.csv");
    QString error;
    QVERIFY2(window.exportTo(path, &error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()), window.eventsModel()->toCsv());

    QVERIFY(!window.exportTo(directory.path() + QStringLiteral("/missing/events.csv"), &error));
    QVERIFY(!error.isEmpty());
}

QTEST_MAIN(TestVelmoraEventsWindow)
#include "tst_velmoraeventswindow.moc"
