#include "velmorajournalloader.h"

#include "durablefile.h"
#include "velmoraeventjournalrecord.h"
#include "velmorajournaldamage.h"
#include "velmorajournalindex.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

using Record = VelmoraEventJournalRecord;

// A damaged journal is kept as it was found under this name and the time.
const QString kDamagedSuffix = QStringLiteral(".damaged-");
const QString kDamagedTimePattern = QStringLiteral("yyyyMMdd-hhmmss");

} // namespace

VelmoraJournalLoader::VelmoraJournalLoader(DurableFile &file, const QString &directory, const QString &journalPath)
    : file(file),
      directory(directory),
      journalPath(journalPath)
{
}

bool VelmoraJournalLoader::prepareDirectory(const QString &directory, QString *error)
{
    const QFileInfo directoryInfo(directory);
    if (directoryInfo.exists() && !directoryInfo.isDir()) {
        *error = QStringLiteral("Cannot use the spool directory %1: a file of that name is in the way").arg(directory);
        return false;
    }
    const bool directoryCreated = !directoryInfo.exists();
    if (!QDir().mkpath(directory)) {
        *error = QStringLiteral("Cannot create the spool directory %1").arg(directory);
        return false;
    }
    // A flushed append to a file whose directory entry never reached the
    // disk would be lost with the entry, and so would a new directory's.
    return !directoryCreated || DurableFile::syncDirectory(directoryInfo.absolutePath(), error);
}

bool VelmoraJournalLoader::openAndRead(VelmoraJournalIndex &index)
{
    const bool created = !QFileInfo::exists(journalPath);
    if (!file.open(journalPath)) {
        lastError = file.errorString();
        return false;
    }
    if (created && !DurableFile::syncDirectory(directory, &lastError))
        return false;
    return read(index);
}

bool VelmoraJournalLoader::read(VelmoraJournalIndex &index)
{
    index.clear();
    highestId = 0;
    VelmoraJournalDamage damage;
    const auto take = [&](const Record::Found &record) {
        damage.noteRecord(record.offset, record.size);
        switch (record.type) {
        case Record::Type::Header:
            highestId = qMax(highestId, record.journalId - 1);
            break;
        case Record::Type::Event:
            highestId = qMax(highestId, record.journalId);
            index.add(record.journalId, QByteArray(record.bytes, record.size), record.deviceId,
                      record.deviceIdSize);
            break;
        case Record::Type::Delivered:
        case Record::Type::Refused:
        case Record::Type::Released:
        case Record::Type::Requeued:
            highestId = qMax(highestId, record.journalId);
            index.applyMark(record.journalId, record.type);
            break;
        }
    };

    // Only as far as the file reached when it was opened: a device file
    // such as /dev/zero would otherwise be read for ever.
    const qint64 fileSize = file.size();
    if (fileSize < 0) {
        lastError = file.errorString();
        return false;
    }
    Record::Scan progress;
    QByteArray buffer;
    QByteArray chunk;
    qint64 base = 0;
    qint64 readEnd = 0;
    bool atEnd = false;
    while (!atEnd) {
        const int wanted = static_cast<int>(qMin<qint64>(Record::kChunkSize, fileSize - readEnd));
        if (!file.readAt(readEnd, wanted, &chunk)) {
            lastError = file.errorString();
            return false;
        }
        readEnd += chunk.size();
        atEnd = readEnd >= fileSize || chunk.size() < wanted;
        buffer.append(chunk);
        const qint64 done = Record::scan(buffer.constData(), buffer.size(), base, atEnd, progress, take);
        buffer.remove(0, static_cast<int>(done));
        base += done;
    }
    index.dropSettled();
    intactEnd = progress.validEnd;
    scannedEnd = base;
    return tallyDamage(damage, fileSize);
}

bool VelmoraJournalLoader::tallyDamage(VelmoraJournalDamage &damage, qint64 fileSize)
{
    // Damage is rare, so its bytes are read a second time rather than kept
    // while the file is read: a piece at a time, a record being far smaller.
    QByteArray bytes;
    const auto readRange = [&](qint64 start, qint64 end, bool tail) {
        for (qint64 offset = start; offset < end; offset += bytes.size()) {
            const int wanted = static_cast<int>(qMin<qint64>(Record::kChunkSize, end - offset));
            if (!file.readAt(offset, wanted, &bytes) || bytes.size() != wanted) {
                lastError = file.errorString();
                return false;
            }
            if (tail && end - start <= Record::kChunkSize)
                damage.countTail(offset, bytes);
            else
                damage.countGap(offset, bytes);
        }
        return true;
    };
    for (const VelmoraJournalDamage::Gap &gap : damage.gaps()) {
        if (!readRange(gap.start, gap.end, false))
            return false;
    }
    if (!readRange(damage.intactEnd(), fileSize, true))
        return false;

    found = Damage();
    found.records = damage.records();
    found.offsets = damage.offsets();
    // Kept as found, before truncation or compaction rewrites anything.
    if (damage.records() > 0)
        found.keptCopy = keepDamagedCopy(fileSize, &found.copyError);
    return true;
}

QString VelmoraJournalLoader::keepDamagedCopy(qint64 fileSize, QString *error)
{
    const QString base = journalPath + kDamagedSuffix + QDateTime::currentDateTime().toString(kDamagedTimePattern);
    QString copyPath = base;
    // Never over an earlier copy, not even one of the same second.
    for (int number = 2; QFileInfo::exists(copyPath); ++number)
        copyPath = base + QLatin1Char('-') + QString::number(number);
    DurableFile copy;
    bool copied = copy.open(copyPath);
    QByteArray bytes;
    for (qint64 offset = 0; copied && offset < fileSize; offset += bytes.size()) {
        const int wanted = static_cast<int>(qMin<qint64>(Record::kChunkSize, fileSize - offset));
        copied = file.readAt(offset, wanted, &bytes) && bytes.size() == wanted && copy.writeAt(offset, bytes);
    }
    if (!copied || !copy.sync() || !DurableFile::syncDirectory(directory, error)) {
        if (error->isEmpty())
            *error = copy.errorString().isEmpty() ? file.errorString() : copy.errorString();
        copy.close();
        QFile::remove(copyPath);
        return QString();
    }
    return copyPath;
}
