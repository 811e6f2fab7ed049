#ifndef VELMORADEVICESTATEFILE_H
#define VELMORADEVICESTATEFILE_H

#include "velmoradevicestore.h"

#include <QHash>
#include <QString>

#include <memory>

class DurableFile;

// The device store as one file in spool/, written by appending: each line
// is one device's whole state, or its forgetting, with a checksum, and the
// last line of a device counts. A line cut off by a crash fails its
// checksum and is passed over. When the file has grown well past what it
// holds, it is written anew beside itself and put in its place in one step.
class VelmoraDeviceStateFile : public VelmoraDeviceStore
{
public:
    static constexpr char kFileName[] = "devices.state";

    explicit VelmoraDeviceStateFile(const QString &spoolDirectory);
    ~VelmoraDeviceStateFile() override;

    bool open() override;
    QVector<SVelmoraDeviceState> devices() const override;
    bool save(const QVector<SVelmoraDeviceState> &states, bool durable) override;
    bool forget(const QString &deviceId) override;
    QString errorString() const override { return lastError; }

    QString filePath() const;
    // Lines passed over at open because they were damaged.
    int damagedLines() const { return damaged; }

    // One line of the file, and back; false for a damaged line.
    static QByteArray stateLine(const SVelmoraDeviceState &state);
    static QByteArray forgetLine(const QString &deviceId);
    static bool readLine(const QByteArray &line, SVelmoraDeviceState *state, bool *forgotten);

private:
    bool append(const QByteArray &lines, bool durable);
    bool compact();

    QString directory;
    std::unique_ptr<DurableFile> file;
    QHash<QString, SVelmoraDeviceState> states;
    qint64 fileSize = 0;
    int damaged = 0;
    QString lastError;
};

#endif // VELMORADEVICESTATEFILE_H
