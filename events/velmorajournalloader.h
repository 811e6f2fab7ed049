#ifndef VELMORAJOURNALLOADER_H
#define VELMORAJOURNALLOADER_H

#include <QString>
#include <QVector>
#include <QtGlobal>

class DurableFile;
class VelmoraJournalDamage;
class VelmoraJournalIndex;

// Opens the event journal file as it is found at start-up and reads it into
// the index of held events: a piece at a time, so that neither the file's size nor the
// memory it would take whole set a limit. Counts what is damaged or cut
// besides the intact records and, when there is any, keeps a copy of the
// file as it was found beside it. It writes nothing to the journal itself;
// cutting off a torn or damaged end is the journal's.
//
// The journal calls it under its lock, on the file it holds open.
class VelmoraJournalLoader
{
public:
    // What the read found damaged or cut. Records torn at the end by a
    // crash during an append are not counted.
    struct Damage
    {
        int records = 0;
        // Where the first of them start (at most
        // VelmoraJournalDamage::kMaxOffsets).
        QVector<qint64> offsets;
        // The copy of the file as found, kept beside it and never touched
        // again; empty when it could not be made, and copyError says why.
        QString keptCopy;
        QString copyError;
    };

    // The journal's file, the directory it is in and its path.
    VelmoraJournalLoader(DurableFile &file, const QString &directory, const QString &journalPath);

    // Makes the spool directory usable: creates it, flushed, when it is
    // missing. False, with error, when it cannot be used.
    static bool prepareDirectory(const QString &directory, QString *error);

    // Opens the file, creating it when it is missing, empties index and
    // reads every intact record of the file into it. False, with
    // errorString(), when the file cannot be opened or read; it may be open
    // then.
    bool openAndRead(VelmoraJournalIndex &index);

    // Just past the last intact record: where the next one goes.
    qint64 validEnd() const { return intactEnd; }
    // Whether bytes follow validEnd(): a torn last record or damage.
    bool hasTail() const { return intactEnd < scannedEnd; }
    // The highest journal id the file has used or handed out.
    qint64 highestJournalId() const { return highestId; }
    const Damage &damage() const { return found; }
    QString errorString() const { return lastError; }

private:
    bool read(VelmoraJournalIndex &index);
    // Counts what the read found besides intact records and keeps a copy
    // of a damaged file; false when the file cannot be read again.
    bool tallyDamage(VelmoraJournalDamage &damage, qint64 fileSize);
    QString keepDamagedCopy(qint64 fileSize, QString *error);

    DurableFile &file;
    const QString directory;
    const QString journalPath;
    qint64 intactEnd = 0;
    qint64 scannedEnd = 0;
    qint64 highestId = 0;
    Damage found;
    QString lastError;
};

#endif // VELMORAJOURNALLOADER_H
