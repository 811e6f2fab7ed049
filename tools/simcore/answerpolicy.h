#ifndef ANSWERPOLICY_H
#define ANSWERPOLICY_H

#include <QtGlobal>

// Decides how the simulated monitoring station answers each line.
// Rules in order: silent while the "silent" rules hold, NAK the first
// nakFirst lines, otherwise the usual answer.
class AnswerPolicy
{
public:
    enum class Answer { Ack, Nak, None };

    static constexpr char kAckByte = 0x06;
    static constexpr char kNakByte = 0x15;

    Answer usual = Answer::Ack;
    int nakFirst = 0;
    int silentFirst = 0;
    qint64 silentForMs = 0;

    // lineNumber counts every received line from 1, keepalives included;
    // elapsedMs is the time since the station started.
    Answer answerFor(int lineNumber, qint64 elapsedMs) const;
};

#endif // ANSWERPOLICY_H
