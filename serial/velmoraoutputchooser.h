#ifndef VELMORAOUTPUTCHOOSER_H
#define VELMORAOUTPUTCHOOSER_H

// Which of the two outputs to the monitoring software takes the events: the
// primary while it answers; when it is absent (a line unanswered after all
// its writes, its port gone or not opening), the fallback once that answers;
// the primary again as soon as it answers a keepalive. No port, no timer:
// the worker reports what each output did and acts on the switches.
// Without a fallback the primary is always the one.
class VelmoraOutputChooser
{
public:
    enum Output { Primary, Fallback };

    // Why the output in use changed; None: it did not.
    enum class Switch {
        None,
        PrimaryNotAnswering, // to the fallback: the primary left lines unanswered
        PrimaryClosed,       // to the fallback: the primary's port is closed
        FallbackAnswers,     // to the fallback: it answers, the primary is absent
        PrimaryAnswers,      // back to the primary: it answers again
    };

    // A start: the primary in use, neither known to answer or to be absent.
    void reset(bool withFallback);
    bool hasFallback() const { return fallbackConfigured; }
    Output inUse() const { return current; }
    // The output acknowledged a line, and has done nothing else since.
    bool answering(Output output) const { return state(output) == State::Answering; }

    // An acknowledged line on the output.
    Switch answered(Output output);
    // A line left unanswered after all its writes, or (closed) the port
    // closed, gone or not opening.
    Switch absent(Output output, bool closed);

private:
    enum class State { Unknown, Answering, Absent };
    State state(Output output) const { return output == Primary ? primaryState : fallbackState; }

    bool fallbackConfigured = false;
    Output current = Primary;
    State primaryState = State::Unknown;
    State fallbackState = State::Unknown;
};

#endif // VELMORAOUTPUTCHOOSER_H
