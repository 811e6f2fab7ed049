#include "velmorareceivebuffer.h"

#include "velmoraframe.h"

namespace {

bool passesMarkerTest(const char *bytes)
{
    // Devices are known to get one of the two marker bytes wrong, so either
    // one is enough.
    return static_cast<quint8>(bytes[0]) == VelmoraFrame::kMarker0
        || static_cast<quint8>(bytes[1]) == VelmoraFrame::kMarker1;
}

} // namespace

void VelmoraReceiveBuffer::append(const char *bytes, int length)
{
    if (!bytes || length <= 0)
        return;
    pending.remove(0, front);
    front = 0;
    pending.append(bytes, length);
}

VelmoraReceiveBuffer::Piece VelmoraReceiveBuffer::takeNext()
{
    const char *bytes = pending.constData() + front;
    const int available = pending.size() - front;
    if (available >= 2 && !passesMarkerTest(bytes))
        return takeRest(PieceKind::Unknown);

    if (available >= VelmoraFrame::kPayloadOffset) {
        const int length = VelmoraFrame::payloadLength(reinterpret_cast<const quint8 *>(bytes));
        if (!VelmoraFrame::isPayloadLengthValid(length))
            return takeRest(PieceKind::Unknown);
        const int frameSize = VelmoraFrame::frameSize(length);
        if (available >= frameSize) {
            Piece piece;
            piece.kind = PieceKind::Frame;
            piece.bytes = QByteArray(bytes, frameSize);
            front += frameSize;
            return piece;
        }
    }

    // Only the unfinished frame waits for the next read. An empty buffer
    // gives its memory back: most connections are idle most of the time.
    if (front == pending.size())
        pending.clear();
    else
        pending.remove(0, front);
    front = 0;
    return Piece();
}

VelmoraReceiveBuffer::Piece VelmoraReceiveBuffer::takeRest(PieceKind kind)
{
    Piece piece;
    piece.kind = kind;
    piece.bytes = pending.mid(front);
    pending.clear();
    front = 0;
    return piece;
}

QByteArray VelmoraReceiveBuffer::takeAll()
{
    const QByteArray rest = pending.mid(front);
    pending.clear();
    front = 0;
    return rest;
}

int VelmoraReceiveBuffer::size() const
{
    return pending.size() - front;
}
