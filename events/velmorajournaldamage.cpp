#include "velmorajournaldamage.h"

#include "velmoraeventjournalrecord.h"


void VelmoraJournalDamage::noteRecord(qint64 offset, qint64 size)
{
    if (offset > expected)
        foundGaps.append({expected, offset});
    expected = offset + size;
}

void VelmoraJournalDamage::countGap(qint64 start, const QByteArray &bytes)
{
    using namespace VelmoraEventJournalRecordDetail;
    const char *data = bytes.constData();
    const qint64 size = bytes.size();
    qint64 position = 0;
    while (position < size) {
        VelmoraEventJournalRecord::Found found;
        const qint64 recordSize = recordAt(data + position, size - position, true, found);
        if (recordSize > 0) {
            position += recordSize;
            continue;
        }
        // One damaged record: from here to where the next one may begin.
        const qint64 next = nextMarker(data, size, position + 1);
        const qint64 resume = next < 0 ? size : next;
        ++damagedRecords;
        if (damagedOffsets.size() < kMaxOffsets)
            damagedOffsets.append(start + position);
        damagedBytes += resume - position;
        position = resume;
    }
}

void VelmoraJournalDamage::countTail(qint64 start, const QByteArray &bytes)
{
    if (isTornTail(bytes))
        tornBytes = bytes.size();
    else
        countGap(start, bytes);
}

bool VelmoraJournalDamage::isTornTail(const QByteArray &bytes)
{
    // Zeros at the end are where the file grew but the data never reached
    // the disk.
    int written = bytes.size();
    while (written > 0 && bytes.at(written - 1) == 0)
        --written;
    if (written == 0)
        return true;
    // The record reader asks for more bytes: what is there is the start of
    // one record, cut short.
    VelmoraEventJournalRecord::Found found;
    return VelmoraEventJournalRecordDetail::recordAt(bytes.constData(), written, false, found) < 0;
}
