#include "apptestsupport.h"

#include <QAbstractButton>
#include <QDate>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>

#include <pty.h>
#include <unistd.h>

void clickBoxButton(QMessageBox *box, const QString &text)
{
    for (QAbstractButton *button : box->buttons()) {
        if (button->text() == text) {
            button->click();
            return;
        }
    }
}

PseudoTerminal::PseudoTerminal()
{
    char name[256] = {};
    if (::openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0) {
        masterFd = slaveFd = -1;
        return;
    }
    path = QString::fromLocal8Bit(name);
    notifier = std::make_unique<QSocketNotifier>(masterFd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [this]() { readMaster(); });
}

void PseudoTerminal::readMaster()
{
    const char kLineEnd = 0x14;
    const char kAck = 0x06;
    char buffer[512];
    const ssize_t received = ::read(masterFd, buffer, sizeof buffer);
    for (ssize_t i = 0; i < received; ++i) {
        if (buffer[i] != kLineEnd)
            continue;
        ++lineCount;
        if (acknowledging && ::write(masterFd, &kAck, 1) != 1)
            qWarning("the station could not answer");
    }
}

PseudoTerminal::~PseudoTerminal()
{
    notifier.reset();
    if (slaveFd >= 0)
        ::close(slaveFd);
    if (masterFd >= 0)
        ::close(masterFd);
}

quint16 unusedTcpPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

QString readTextFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString dayLogPath(const QString &appDirectory)
{
    return appDirectory + QStringLiteral("/log/") + QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))
        + QStringLiteral("_Lumari.log");
}

QByteArray deviceTestEventFrame(const QByteArray &deviceId)
{
    const quint16 kTestEventType = 0x0003;
    // Header bytes, the ID, four zero bytes, the type, then ten data bytes.
    QByteArray payload = QByteArray::fromHex("000000000101") + deviceId + QByteArray(4, '\0');
    payload.append(char(kTestEventType >> 8)).append(char(kTestEventType & 0xFF)).append(QByteArray(10, '\0'));
    const int length = payload.size() + 1;
    // The checksum covers the two length bytes and the payload.
    quint8 sum = quint8((length >> 8) + (length & 0xFF));
    for (const char byte : payload)
        sum = quint8(sum + quint8(byte));
    payload.append(char(sum));
    QByteArray frame = QByteArray::fromHex("4DD400");
    frame.append(char(length >> 8)).append(char(length & 0xFF));
    return frame + payload + QByteArray::fromHex("4C0D0A");
}
