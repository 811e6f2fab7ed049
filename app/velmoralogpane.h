#ifndef VELMORALOGPANE_H
#define VELMORALOGPANE_H

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>
#include <QTextEdit>
#include <QVector>

class QTimer;

// The window's log pane. Lines are stamped with the local date and time
// when they are reported and reach the pane in batches, at most
// kUpdatesPerSecond times a second: one append, layout and repaint per line
// would let a busy receiver keep the GUI thread busy with nothing else.
// The pane starts afresh after kMaxLines lines: the line after the
// thousandth empties it and becomes its first line.
class VelmoraLogPane : public QTextEdit
{
    Q_OBJECT

public:
    static constexpr int kMaxLines = 1000;
    static constexpr int kUpdatesPerSecond = 20;

    explicit VelmoraLogPane(QWidget *parent = nullptr);

    // Stamps the line now and shows it with the next batch.
    void addLine(const QString &text);

    // Shows every waiting line at once.
    void flushWaitingLines();

    // Empties the pane, after showing the waiting lines there; the count of
    // lines towards the next automatic emptying goes on.
    void startNewPage();

    // Lines shown since the pane last emptied itself.
    int lineCount() const { return linesOnPage; }

    // How many batches have reached the pane.
    int updateCount() const { return updates; }

    // The clock of the stamps; tests put a fake in, nullptr brings back the
    // real one.
    using Clock = QDateTime (*)();
    void setClock(Clock clock);

private:
    struct WaitingLine
    {
        // Milliseconds since the epoch: reading the local time costs a
        // look at the time zone file, done once per second of stamps.
        qint64 reportedAtMs;
        QString text;
    };

    QString stamp(qint64 reportedAtMs);
    void emptyPage();

    QVector<WaitingLine> waiting;
    // Lines on the page once the waiting ones are shown.
    int linesOnPage = 0;
    int updates = 0;
    // False on an empty page, where the first line needs no paragraph break.
    bool pageHasLines = false;
    Clock clock = nullptr;
    QTimer *batchTimer = nullptr;
    QElapsedTimer sinceLastBatch;
    // Consecutive lines mostly share their second; it is formatted once.
    qint64 stampedSecond = -1;
    QString stampedText;
};

#endif // VELMORALOGPANE_H
