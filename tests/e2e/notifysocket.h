#ifndef NOTIFYSOCKET_H
#define NOTIFYSOCKET_H

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

class QSocketNotifier;

// The service manager's end of NOTIFY_SOCKET: a datagram socket whose
// messages are kept in order, read from the event loop of the test.
class NotifySocket
{
public:
    explicit NotifySocket(const QString &path);
    ~NotifySocket();
    NotifySocket(const NotifySocket &) = delete;
    NotifySocket &operator=(const NotifySocket &) = delete;

    bool isValid() const { return descriptor >= 0; }
    // Messages holding this line.
    int count(const QByteArray &message) const;
    // Whether a message begins with this text.
    bool hasMessageStartingWith(const QByteArray &start) const;

    QList<QByteArray> messages;

private:
    int descriptor = -1;
    std::unique_ptr<QSocketNotifier> notifier;
};

#endif // NOTIFYSOCKET_H
