#include "notifysocket.h"

#include <QFile>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

NotifySocket::NotifySocket(const QString &path)
{
    descriptor = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(path);
    std::memcpy(address.sun_path, encoded.constData(),
                size_t(std::min(encoded.size(), int(sizeof address.sun_path) - 1)));
    if (descriptor >= 0 && ::bind(descriptor, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(descriptor);
        descriptor = -1;
    }
    if (descriptor >= 0) {
        notifier = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [this]() {
            char buffer[4096];
            const ssize_t got = ::recv(descriptor, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got > 0)
                messages << QByteArray(buffer, int(got));
        });
    }
}

NotifySocket::~NotifySocket()
{
    notifier.reset();
    if (descriptor >= 0)
        ::close(descriptor);
}

int NotifySocket::count(const QByteArray &message) const
{
    return int(std::count_if(messages.cbegin(), messages.cend(),
                             [&message](const QByteArray &each) { return each.split('\n').contains(message); }));
}

bool NotifySocket::hasMessageStartingWith(const QByteArray &start) const
{
    return std::any_of(messages.cbegin(), messages.cend(),
                       [&start](const QByteArray &message) { return message.startsWith(start); });
}
