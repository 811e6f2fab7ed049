#include "velmoraoutputchooser.h"

void VelmoraOutputChooser::reset(bool withFallback)
{
    fallbackConfigured = withFallback;
    current = Primary;
    primaryState = State::Unknown;
    fallbackState = State::Unknown;
}

VelmoraOutputChooser::Switch VelmoraOutputChooser::answered(Output output)
{
    if (output == Primary) {
        primaryState = State::Answering;
        if (current == Fallback) {
            current = Primary;
            return Switch::PrimaryAnswers;
        }
        return Switch::None;
    }
    fallbackState = State::Answering;
    if (fallbackConfigured && current == Primary && primaryState == State::Absent) {
        current = Fallback;
        return Switch::FallbackAnswers;
    }
    return Switch::None;
}

VelmoraOutputChooser::Switch VelmoraOutputChooser::absent(Output output, bool closed)
{
    if (output == Fallback) {
        // With both absent the events wait where they are: whichever
        // answers first takes them.
        fallbackState = State::Absent;
        return Switch::None;
    }
    primaryState = State::Absent;
    if (fallbackConfigured && current == Primary && fallbackState == State::Answering) {
        current = Fallback;
        return closed ? Switch::PrimaryClosed : Switch::PrimaryNotAnswering;
    }
    return Switch::None;
}
