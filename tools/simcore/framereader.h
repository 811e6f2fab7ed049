#ifndef FRAMEREADER_H
#define FRAMEREADER_H

#include <QByteArray>

// Cuts the byte stream of a connection into frames by their length field.
class FrameReader
{
public:
    enum class Result { NeedMore, Frame, NotAFrame };

    void append(const QByteArray &bytes);
    // Frame: *frame holds the first complete frame, removed from the buffer.
    // NotAFrame: the buffer does not start with the frame markers; *frame
    // holds everything buffered, which is dropped.
    Result take(QByteArray *frame);
    int buffered() const { return buffer.size(); }

private:
    QByteArray buffer;
};

#endif // FRAMEREADER_H
