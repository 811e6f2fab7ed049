#ifndef NETWORKTESTHELPERS_H
#define NETWORKTESTHELPERS_H

#include "velmoraframe.h"
#include "velmoralog.h"

#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTranslator>
#include <QtTest>

#include <memory>

namespace NetworkTest {

// A port nobody listens on at the moment.
inline int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A device connected to the receiver, its MAC request read; null on failure.
inline std::unique_ptr<QTcpSocket> connectDevice(int port, QByteArray *firstFrame = nullptr)
{
    auto device = std::make_unique<QTcpSocket>();
    device->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
    if (!QTest::qWaitFor([&] { return device->bytesAvailable() >= 24; }, 5000))
        return nullptr;
    const QByteArray frame = device->read(24);
    if (firstFrame)
        *firstFrame = frame;
    return device;
}

inline QByteArray readReply(QTcpSocket *device)
{
    if (!QTest::qWaitFor([&] { return device->bytesAvailable() >= 24; }, 5000))
        return QByteArray();
    return device->read(24);
}

inline QString dayLog(const QString &directory)
{
    QFile file(directory + VelmoraCommon_FormatTime("%Y%m%d", 0) + QStringLiteral("_Lumari.log"));
    // Text mode: the lines end in CR LF on Windows.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QString::fromUtf8(file.readAll());
}

inline QStringList texts(const QSignalSpy &spy)
{
    QStringList lines;
    for (const QList<QVariant> &arguments : spy)
        lines << arguments.at(0).toString();
    return lines;
}

// Puts "ru:" in front of every text of the receiver's translation context
// and knows no other context.
class MarkingTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char * = nullptr,
                      int = -1) const override
    {
        if (qstrcmp(context, "VelmoraNetworkServer") != 0)
            return QString();
        return QStringLiteral("ru:") + QString::fromLatin1(sourceText);
    }
    bool isEmpty() const override { return false; }
};

// Installed for the lifetime of the object.
struct InstalledTranslator
{
    MarkingTranslator translator;
    InstalledTranslator() { QCoreApplication::installTranslator(&translator); }
    ~InstalledTranslator() { QCoreApplication::removeTranslator(&translator); }
};

} // namespace NetworkTest

#endif // NETWORKTESTHELPERS_H
