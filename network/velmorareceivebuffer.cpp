#include "velmorareceivebuffer.h"

#include "velmoraframe.h"

namespace {

bool passesMarkerTest(const QByteArray &bytes)
{
    // Devices are known to get one of the two marker bytes wrong, so either
    // one is enough.
    return static_cast<quint8>(bytes[0]) == VelmoraFrame::kMarker0
        || static_cast<quint8>(bytes[1]) == VelmoraFrame::kMarker1;
}

int payloadLength(const QByteArray &bytes)
{
    return (static_cast<quint8>(bytes[VelmoraFrame::kLengthOffset]) << 8)
         | static_cast<quint8>(bytes[VelmoraFrame::kLengthOffset + 1]);
}

} // namespace

void VelmoraReceiveBuffer::append(const char *bytes, int length)
{
    if (bytes && length > 0)
        pending.append(bytes, length);
}

VelmoraReceiveBuffer::Piece VelmoraReceiveBuffer::takeNext()
{
    Piece piece;
    if (pending.size() < 2)
        return piece;

    if (!passesMarkerTest(pending)) {
        piece.kind = PieceKind::Unknown;
        piece.bytes.swap(pending);
        return piece;
    }
    if (pending.size() < VelmoraFrame::kPayloadOffset)
        return piece;

    const int length = payloadLength(pending);
    if (length < VelmoraFrame::kMinPayloadLength || length > VelmoraFrame::kMaxPayloadLength) {
        piece.kind = PieceKind::Unknown;
        piece.bytes.swap(pending);
        return piece;
    }
    const int frameSize = length + VelmoraFrame::kOverhead;
    if (pending.size() < frameSize)
        return piece;

    piece.kind = PieceKind::Frame;
    piece.bytes = pending.left(frameSize);
    pending.remove(0, frameSize);
    return piece;
}

int VelmoraReceiveBuffer::size() const
{
    return pending.size();
}
