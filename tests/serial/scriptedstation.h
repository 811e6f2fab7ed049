#ifndef SCRIPTEDSTATION_H
#define SCRIPTEDSTATION_H

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// A pseudo-terminal standing in for the COM port, with a monitoring station
// on its master side: it reads the lines the program writes (each ended by
// 0x14) and answers each one as scripted. The slave side's path is the port
// name the program opens.
class ScriptedStation
{
public:
    struct Answer
    {
        QByteArray bytes;  // nothing: the station stays silent
        int delayMs = 0;   // waited before answering
        bool hangUp = false; // close the master side instead of answering
    };

    static Answer ack(int delayMs = 0) { return Answer{QByteArray(1, '\x06'), delayMs, false}; }
    static Answer nak() { return Answer{QByteArray(1, '\x15'), 0, false}; }
    static Answer silence() { return Answer{}; }
    static Answer hangUpNow() { return Answer{QByteArray(), 0, true}; }

    ScriptedStation();
    ~ScriptedStation();
    ScriptedStation(const ScriptedStation &) = delete;
    ScriptedStation &operator=(const ScriptedStation &) = delete;

    bool isValid() const { return masterFd >= 0; }
    QString portName() const { return slavePath; }
    // The station keeps a slave descriptor open, so the line settings the
    // program applies can be read back with tcgetattr.
    int slaveDescriptor() const { return slaveFd; }

    // Answers used in turn for event lines (starting with '5') and for
    // keepalive lines (starting with '1'); once a script is used up, the
    // kind's default answers.
    void scriptEvents(const QList<Answer> &answers);
    void scriptKeepalives(const QList<Answer> &answers);
    void setEventDefault(const Answer &answer);
    void setKeepaliveDefault(const Answer &answer);
    // Lines containing needle get this answer whatever the scripts say.
    void answerLinesContaining(const QByteArray &needle, const Answer &answer);

    // Closes the master side: to the program the port vanishes.
    void hangUp();
    // Bytes written straight to the program, outside any script.
    bool send(const QByteArray &bytes);

    QList<QByteArray> lines() const;      // complete lines, terminator included
    QList<QByteArray> eventLines() const;
    QList<QByteArray> keepaliveLines() const;
    // Milliseconds since the station started, one per complete line.
    QList<qint64> lineTimes() const;
    QByteArray receivedBytes() const;     // everything, complete lines or not
    qint64 elapsedMs() const;

private:
    void run();
    Answer answerFor(const QByteArray &line);
    void closeMaster();

    int masterFd = -1;
    int slaveFd = -1;
    QString slavePath;

    mutable std::mutex mutex;
    std::condition_variable hungUp;
    std::deque<Answer> eventScript;
    std::deque<Answer> keepaliveScript;
    Answer eventDefault;
    Answer keepaliveDefault;
    QByteArray specialNeedle;
    Answer specialAnswer;
    bool hangUpRequested = false;
    QList<QByteArray> received;
    QList<qint64> receivedTimes;
    QByteArray allBytes;
    QByteArray pending;

    std::atomic<bool> stopping{false};
    std::chrono::steady_clock::time_point started;
    std::thread worker;
};

#endif // SCRIPTEDSTATION_H
