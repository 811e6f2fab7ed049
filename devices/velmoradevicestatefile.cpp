#include "velmoradevicestatefile.h"

#include "durablefile.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>

#include <limits>

namespace {

const char kStateTag[] = "S";
const char kForgetTag[] = "F";
const char kNoMac[] = "-";
const char kReplacementSuffix[] = ".new";
constexpr int kStateFields = 7;
constexpr int kForgetFields = 3;
// The file is written anew once it is this many times what it holds (and
// at least kCompactFloorBytes): a few writes per device between rewrites.
constexpr qint64 kCompactFactor = 4;
constexpr qint64 kCompactFloorBytes = 65536;

QByteArray checksumOf(const QByteArray &text)
{
    return QByteArray::number(qChecksum(text.constData(), uint(text.size())), 16).rightJustified(4, '0');
}

QByteArray withChecksum(const QByteArray &text)
{
    return text + ' ' + checksumOf(text) + '\n';
}

} // namespace

VelmoraDeviceStateFile::VelmoraDeviceStateFile(const QString &spoolDirectory)
    : directory(spoolDirectory)
{
}

VelmoraDeviceStateFile::~VelmoraDeviceStateFile() = default;

QString VelmoraDeviceStateFile::filePath() const
{
    return QDir(directory).filePath(QLatin1String(kFileName));
}

QByteArray VelmoraDeviceStateFile::stateLine(const SVelmoraDeviceState &state)
{
    const QByteArray text = QByteArray(kStateTag) + ' ' + state.deviceId.toLatin1() + ' '
        + (state.mac.isEmpty() ? QByteArray(kNoMac) : state.mac.toLatin1()) + ' '
        + QByteArray::number(state.lastHeardAt) + ' ' + (state.absenceReported ? '1' : '0') + ' '
        + QByteArray::number(state.absentSince);
    return withChecksum(text);
}

QByteArray VelmoraDeviceStateFile::forgetLine(const QString &deviceId)
{
    return withChecksum(QByteArray(kForgetTag) + ' ' + deviceId.toLatin1());
}

bool VelmoraDeviceStateFile::readLine(const QByteArray &line, SVelmoraDeviceState *state, bool *forgotten)
{
    const int lastSpace = line.lastIndexOf(' ');
    if (lastSpace < 0 || checksumOf(line.left(lastSpace)) != line.mid(lastSpace + 1))
        return false;
    const QByteArrayList fields = line.split(' ');
    *state = SVelmoraDeviceState();
    state->deviceId = QString::fromLatin1(fields.value(1));
    if (fields.first() == kForgetTag && fields.size() == kForgetFields) {
        *forgotten = true;
        return true;
    }
    if (fields.first() != kStateTag || fields.size() != kStateFields)
        return false;
    *forgotten = false;
    bool heardRead = false;
    bool sinceRead = false;
    state->mac = fields.at(2) == kNoMac ? QString() : QString::fromLatin1(fields.at(2));
    state->lastHeardAt = fields.at(3).toLongLong(&heardRead);
    state->absenceReported = fields.at(4) == "1";
    state->absentSince = fields.at(5).toLongLong(&sinceRead);
    return heardRead && sinceRead;
}

bool VelmoraDeviceStateFile::open()
{
    states.clear();
    damaged = 0;
    if (!QDir().mkpath(directory)) {
        lastError = QStringLiteral("can not create %1").arg(directory);
        return false;
    }
    file = std::make_unique<DurableFile>();
    if (!file->open(filePath())) {
        lastError = file->errorString();
        file.reset();
        return false;
    }
    const qint64 size = file->size();
    QByteArray bytes;
    if (size < 0 || size > std::numeric_limits<int>::max() || !file->readAt(0, int(size), &bytes)) {
        lastError = file->errorString();
        file.reset();
        return false;
    }
    for (const QByteArray &line : bytes.split('\n')) {
        if (line.isEmpty())
            continue;
        SVelmoraDeviceState state;
        bool forgotten = false;
        if (!readLine(line, &state, &forgotten)) {
            ++damaged;
            continue;
        }
        if (forgotten)
            states.remove(state.deviceId);
        else
            states.insert(state.deviceId, state);
    }
    fileSize = size;
    // A cut-off line at the end would join the next one appended.
    if (damaged > 0 || (!bytes.isEmpty() && !bytes.endsWith('\n')))
        return compact();
    return true;
}

QVector<SVelmoraDeviceState> VelmoraDeviceStateFile::devices() const
{
    QVector<SVelmoraDeviceState> all;
    all.reserve(states.size());
    for (const SVelmoraDeviceState &state : states)
        all << state;
    return all;
}

bool VelmoraDeviceStateFile::save(const QVector<SVelmoraDeviceState> &changed, bool durable)
{
    QByteArray lines;
    for (const SVelmoraDeviceState &state : changed)
        lines += stateLine(state);
    if (!append(lines, durable))
        return false;
    for (const SVelmoraDeviceState &state : changed)
        states.insert(state.deviceId, state);
    return true;
}

bool VelmoraDeviceStateFile::forget(const QString &deviceId)
{
    if (!states.contains(deviceId))
        return true;
    if (!append(forgetLine(deviceId), true))
        return false;
    states.remove(deviceId);
    return true;
}

bool VelmoraDeviceStateFile::append(const QByteArray &lines, bool durable)
{
    if (lines.isEmpty())
        return true;
    // A store that could not be opened tries again.
    if (!file && !open())
        return false;
    if (!file->writeAt(fileSize, lines) || (durable && !file->sync())) {
        lastError = file->errorString();
        // What may have been written in part is cut off again.
        file->truncate(fileSize);
        return false;
    }
    fileSize += lines.size();
    const qint64 held = qint64(states.size()) * stateLine(SVelmoraDeviceState()).size();
    if (fileSize > kCompactFloorBytes && fileSize > kCompactFactor * held)
        compact();
    return true;
}

bool VelmoraDeviceStateFile::compact()
{
    QByteArray bytes;
    for (const SVelmoraDeviceState &state : qAsConst(states))
        bytes += stateLine(state);
    const QString replacementPath = filePath() + QLatin1String(kReplacementSuffix);
    {
        QFile::remove(replacementPath);
        DurableFile replacement;
        if (!replacement.open(replacementPath) || !replacement.writeAt(0, bytes) || !replacement.sync()) {
            lastError = replacement.errorString();
            return false;
        }
    }
    // Written whole and on the disk before it takes the file's place: a
    // crash leaves the old file or the new one.
    file.reset();
    if (!DurableFile::replace(replacementPath, filePath(), &lastError)
        || !DurableFile::syncDirectory(directory, &lastError)) {
        file = std::make_unique<DurableFile>();
        file->open(filePath());
        return false;
    }
    file = std::make_unique<DurableFile>();
    if (!file->open(filePath())) {
        lastError = file->errorString();
        file.reset();
        return false;
    }
    fileSize = bytes.size();
    return true;
}
