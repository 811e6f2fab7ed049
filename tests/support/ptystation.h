#ifndef PTYSTATION_H
#define PTYSTATION_H

#include <QByteArray>
#include <QList>
#include <QObject>

#include <functional>

class QSocketNotifier;

// A monitoring station on the master side of a pseudo-terminal. The program
// under test opens slavePath() as its COM port; every line it writes (bytes up
// to and including 0x14) is recorded and answered by the answer policy.
class PtyStation : public QObject
{
    Q_OBJECT

public:
    // Returns the bytes to send back for one received line (empty: silence).
    using AnswerPolicy = std::function<QByteArray(const QByteArray &line, int lineIndex)>;

    explicit PtyStation(QObject *parent = nullptr);
    ~PtyStation() override;

    bool isOpen() const { return masterFd >= 0; }
    QString slavePath() const { return path; }
    void setAnswerPolicy(AnswerPolicy policy) { answerPolicy = std::move(policy); }
    // Every line acknowledged with 0x06, or none answered at all.
    void setAcknowledging(bool acknowledge);
    // Answers are written this long after their line, as slow software
    // answers; 0: at once.
    void setAnswerDelayMs(int delayMs) { answerDelayMs = delayMs; }

    QList<QByteArray> lines() const { return received; }
    // Event lines this station answered with 0x06, in order.
    QList<QByteArray> acknowledgedEvents() const { return acknowledged; }
    bool waitForAcknowledgedEvents(int count, int timeoutMs);
    QList<QByteArray> eventLines() const;
    int keepaliveCount() const;

    // Waits (running the event loop) until at least count lines arrived.
    bool waitForLines(int count, int timeoutMs);
    bool waitForEventLines(int count, int timeoutMs);
    // Waits, answering lines all the while, until done() holds.
    bool waitUntil(const std::function<bool()> &done, int timeoutMs);

    static bool isKeepalive(const QByteArray &line) { return line.startsWith('1'); }
    static QByteArray ack() { return QByteArray(1, '\x06'); }
    static QByteArray nak() { return QByteArray(1, '\x15'); }

private:
    void readMaster();
    void writeAnswer(const QByteArray &line, const QByteArray &answer);

    int masterFd = -1;
    int slaveFd = -1;
    QString path;
    QSocketNotifier *notifier = nullptr;
    QByteArray pending;
    QList<QByteArray> received;
    QList<QByteArray> acknowledged;
    AnswerPolicy answerPolicy;
    int answerDelayMs = 0;
};

#endif // PTYSTATION_H
