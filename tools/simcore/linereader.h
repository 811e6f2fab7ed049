#ifndef LINEREADER_H
#define LINEREADER_H

#include <QByteArray>

// Splits the bytes from the serial line into receiver lines, each ended by
// 0x14. Nothing else separates them.
class LineReader
{
public:
    static constexpr char kTerminator = 0x14;
    // A real line is a few dozen bytes. Past this, the bytes are handed out
    // as one unterminated line rather than buffered without end.
    static constexpr int kMaxLineSize = 1024;

    void append(const QByteArray &bytes);
    // Takes the next line, without its terminator. Returns false when no
    // complete line is buffered. *terminated is false only for an overlong
    // fragment cut at kMaxLineSize.
    bool take(QByteArray *line, bool *terminated);
    int buffered() const { return buffer.size(); }

private:
    QByteArray buffer;
};

#endif // LINEREADER_H
