#ifndef VELMORAHEALTH_H
#define VELMORAHEALTH_H

#include "velmorametrics.h"

#include <QByteArray>
#include <QStringList>

#include <cstdint>

// Whether the converter does its job, from what the metrics know: the
// receiver listens, the journal can be written, and the line to the
// monitoring software answered within the last two keepalive periods (or,
// without keepalives, its port is open). Pure: the caller hands in the facts.
class VelmoraHealth
{
public:
    struct Facts
    {
        // Another instance holds the shared journal's lease.
        bool standby = false;
        bool listening = false;
        bool journalWritable = false;
        VelmoraMetrics::LineState lineState = VelmoraMetrics::LineState::PortClosed;
        std::int64_t keepalivePeriodMs = 0;
        // 0: never answered.
        std::int64_t lastAnsweredUs = 0;
        std::int64_t nowUs = 0;
    };

    static Facts factsOf(const VelmoraMetrics &metrics, std::int64_t nowUs);
    // Empty when healthy; otherwise one English sentence per fault.
    static QStringList reasons(const Facts &facts);
    // {"healthy":…,"reasons":[…],"line":"…","lastAnsweredSecondsAgo":…}
    // in the same shape either way; the HTTP status is 200 or 503.
    static QByteArray json(const Facts &facts);
};

#endif // VELMORAHEALTH_H
