#ifndef VELMORARECEIVEBUFFER_H
#define VELMORARECEIVEBUFFER_H

#include <QByteArray>

// Bytes received on one connection that are not handled yet. TCP delivers a
// stream, so a read may hold several frames, or part of one.
//
// Between reads the buffer holds at most one incomplete frame, never more
// than one maximal frame: every complete frame is taken off the front, and
// bytes that cannot start a frame are dropped at once.
class VelmoraReceiveBuffer
{
public:
    enum class PieceKind {
        Incomplete, // nothing to take until more bytes arrive
        Frame,      // one whole frame with a length in range
        Unknown,    // bytes that cannot start a frame, now dropped
    };

    struct Piece
    {
        PieceKind kind = PieceKind::Incomplete;
        QByteArray bytes;
    };

    void append(const char *bytes, int length);

    // Takes the next piece off the front: call until it says Incomplete.
    Piece takeNext();

    int size() const;

    // Empties the buffer; the bytes it held.
    QByteArray takeAll();

private:
    Piece takeRest(PieceKind kind);

    QByteArray pending;
    // Start of the bytes not yet taken. Frames are taken by moving it on,
    // and the taken bytes are cut off once, when the read is used up: one
    // read can hold thousands of frames.
    int front = 0;
};

#endif // VELMORARECEIVEBUFFER_H
