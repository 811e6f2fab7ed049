#ifndef SVELMORACOMTIMING_H
#define SVELMORACOMTIMING_H

// How long the serial worker waits, in milliseconds. The program runs with
// the defaults; tests shorten them.
struct SVelmoraComTiming
{
    // An answer's first byte may come up to the pause plus the read's
    // constant and per-byte totals after the line; it is judged the moment it
    // is there. The read time-outs are also set on the port when it opens
    // (see SerialReadTimeouts).
    int answerPauseMs = 100;
    int readIntervalMs = 100;
    int readPerByteMs = 300;
    int readConstantMs = 50;
    // How long a line waits for its answer after each write, as configured.
    // The default is the wait above for an event line; a longer one replaces
    // the pause plus read time-outs wherever it is the longer, so that the
    // default keeps the timing (and the tests' shortened timing) as it was.
    static constexpr int kDefaultAckWaitMs = 750;
    int ackWaitMs = kDefaultAckWaitMs;
    // No acknowledged line for this long brings a keepalive; 0: none.
    int keepaliveMs = 0;
    // How often the first held event is retried while the software does not
    // answer and there are no keepalives to tell when it is back.
    int absenceRetryMs = 10000;
    // How often a port that would not open, or went away, is tried again.
    int reopenMs = 5000;

    // The keepalive period for a configured number of seconds: nothing for
    // 0 or less, and never beyond what a timer can count.
    static int keepalivePeriodMs(int configuredSeconds);
};

#endif // SVELMORACOMTIMING_H
