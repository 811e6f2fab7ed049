#ifndef VELMORAJOURNALDAMAGE_H
#define VELMORAJOURNALDAMAGE_H

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

// What a read of the event journal found besides its intact records: the
// records that are damaged (a checksum that fails, a marker or a length
// that is wrong) or cut (bytes missing in the middle), each counted once
// with the offset it starts at. A record torn at the very end of the file,
// as an append cut short by a crash leaves it, is not damage: it was never
// acknowledged to its device.
//
// The reader passes every intact record it finds, in file order, then the
// bytes of each gap between them and of the end; the gaps are looked at
// with the journal's own record reader, so an intact record of a kind this
// version does not know is not taken for damage.
class VelmoraJournalDamage
{
public:
    struct Gap
    {
        qint64 start = 0;
        qint64 end = 0;
    };

    // Every intact record, in file order.
    void noteRecord(qint64 offset, qint64 size);
    // The gaps between intact records seen so far (the end not included).
    const QVector<Gap> &gaps() const { return foundGaps; }
    // Where the last intact record ends.
    qint64 intactEnd() const { return expected; }

    // Counts the damaged records in the bytes of a gap that starts at start.
    void countGap(qint64 start, const QByteArray &bytes);
    // The bytes from intactEnd() to the end of the file: a torn last record
    // or damage.
    void countTail(qint64 start, const QByteArray &bytes);
    // Whether the bytes after the last intact record are what a crash in
    // the middle of an append leaves: the start of one record that is not
    // complete, or nothing, either followed by zeros only.
    static bool isTornTail(const QByteArray &bytes);

    int records() const { return damagedRecords; }
    // The first offsets, at most kMaxOffsets of them.
    const QVector<qint64> &offsets() const { return damagedOffsets; }
    qint64 bytes() const { return damagedBytes; }
    qint64 tornTailBytes() const { return tornBytes; }

    static constexpr int kMaxOffsets = 100;

private:
    qint64 expected = 0;
    QVector<Gap> foundGaps;
    int damagedRecords = 0;
    QVector<qint64> damagedOffsets;
    qint64 damagedBytes = 0;
    qint64 tornBytes = 0;
};

#endif // VELMORAJOURNALDAMAGE_H
