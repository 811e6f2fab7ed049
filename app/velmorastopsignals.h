#ifndef VELMORASTOPSIGNALS_H
#define VELMORASTOPSIGNALS_H

// A stop from outside (SIGTERM, SIGINT, SIGHUP on POSIX systems; the console
// close and end-of-session events on Windows) writes
// "[Lumari] Stopped by signal N." to the day log and ends the process with
// exit code 0 at once, like the Exit button: nothing is stopped or saved, and
// the journal is left as a crash would leave it, which loses nothing.
//
// The line is not written from the signal handler, where neither the clock
// formatting nor the log's mutex may be used: the handler only passes the
// signal number through a pipe to a thread of its own, which writes the line
// and ends the process. That thread does not depend on the GUI thread, so a
// busy window does not delay the stop.
class VelmoraStopSignals
{
public:
    // Once per process, after the application object exists. True when the
    // handlers are in place.
    static bool install();
};

#endif // VELMORASTOPSIGNALS_H
