#include "answerpolicy.h"

AnswerPolicy::Answer AnswerPolicy::answerFor(int lineNumber, qint64 elapsedMs) const
{
    if (lineNumber <= silentFirst || elapsedMs < silentForMs)
        return Answer::None;
    if (lineNumber <= nakFirst)
        return Answer::Nak;
    return usual;
}
