#ifndef NETWORKEVENTDISPATCHER_H
#define NETWORKEVENTDISPATCHER_H

class QAbstractEventDispatcher;

// The event loop of the network thread, chosen per platform: one whose cost
// per wake-up does not grow with the number of connected devices where the
// system offers it, otherwise the toolkit's own.
class NetworkEventDispatcher
{
public:
    // A new dispatcher for QThread::setEventDispatcher, or nullptr for the
    // toolkit's default.
    static QAbstractEventDispatcher *create();
};

#endif // NETWORKEVENTDISPATCHER_H
