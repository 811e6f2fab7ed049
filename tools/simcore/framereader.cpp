#include "framereader.h"

#include "deviceframe.h"

void FrameReader::append(const QByteArray &bytes)
{
    buffer.append(bytes);
}

FrameReader::Result FrameReader::take(QByteArray *frame)
{
    if (buffer.isEmpty())
        return Result::NeedMore;
    const bool markersSoFar = quint8(buffer[0]) == 0x4D && (buffer.size() < 2 || quint8(buffer[1]) == 0xD4);
    if (!markersSoFar) {
        *frame = buffer;
        buffer.clear();
        return Result::NotAFrame;
    }
    if (buffer.size() < DeviceFrame::kHeadSize)
        return Result::NeedMore;
    const int length = (quint8(buffer[3]) << 8) | quint8(buffer[4]);
    const int total = DeviceFrame::kHeadSize + length + DeviceFrame::kTailSize;
    if (buffer.size() < total)
        return Result::NeedMore;
    *frame = buffer.left(total);
    buffer.remove(0, total);
    return Result::Frame;
}
