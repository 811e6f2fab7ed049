#ifndef JOURNALLISTING_H
#define JOURNALLISTING_H

#include "svelmoramsg.h"

#include <QString>
#include <QVector>
#include <QtGlobal>

// What an event journal holds, read without touching it: the file is opened
// for reading only, never locked or written, and read only as far as it
// reached when it was opened, so a program appending meanwhile is neither
// disturbed nor followed. The records are read by the journal's own record
// reader.
class JournalListing
{
public:
    enum class State {
        Pending,   // waiting for the monitoring software
        SetAside,  // refused by the monitoring software, kept
        Delivered, // acknowledged; gone at the next compaction
        Released,  // set aside, then let go by the operator; gone likewise
    };

    struct Entry
    {
        qint64 journalId = 0;
        State state = State::Pending;
        SVelmoraMsg event;
    };

    enum class Outcome {
        Ok,
        // No journal file where one was looked for.
        Missing,
        // There, but it cannot be opened or read.
        Unreadable,
        // Read, but bytes before its end belong to no intact record; the
        // entries are those of the intact records.
        Damaged,
    };

    // Reads the journal at path: a journal file, a spool directory holding
    // one, or an application directory with spool/ in it.
    static JournalListing read(const QString &path);
    // The journal file a path names, by the rules of read().
    static QString journalFileFor(const QString &path);
    // The journal in PostgreSQL that the program keeps when configured so:
    // its pending and set-aside events (the database deletes settled ones).
    // Only read, with one SELECT; Missing where the database holds no
    // journal, Unreadable where it cannot be reached or the build has no
    // libpq.
    static JournalListing readDatabase(const QString &connectionString);
    // Whether the argument is a PostgreSQL connection string (a URI, or
    // key=value pairs) rather than a path that exists.
    static bool isConnectionString(const QString &argument);

    static QString stateName(State state);

    Outcome outcome = Outcome::Ok;
    // Why the outcome is not Ok, for people.
    QString problem;
    // The file read; for a database, its connection string without the
    // password.
    QString filePath;
    bool inDatabase = false;
    qint64 fileSize = 0;
    // Bytes at the end that begin a record not yet complete: one being
    // appended while the file was read, or torn by a crash. Not damage.
    qint64 unfinishedTailBytes = 0;
    // Bytes elsewhere that belong to no intact record.
    qint64 damagedBytes = 0;
    // The damaged or cut records among them, counted as the program counts
    // them at start, and where the first of them begin.
    int damagedRecords = 0;
    QVector<qint64> damagedOffsets;
    // Events in journal id order.
    QVector<Entry> entries;

    int count(State state) const;
};

#endif // JOURNALLISTING_H
