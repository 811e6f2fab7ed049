#include "linereader.h"

void LineReader::append(const QByteArray &bytes)
{
    buffer.append(bytes);
}

bool LineReader::take(QByteArray *line, bool *terminated)
{
    const int end = buffer.indexOf(kTerminator);
    if (end >= 0 && end <= kMaxLineSize) {
        *line = buffer.left(end);
        *terminated = true;
        buffer.remove(0, end + 1);
        return true;
    }
    if (buffer.size() > kMaxLineSize) {
        *line = buffer.left(kMaxLineSize);
        *terminated = false;
        buffer.remove(0, kMaxLineSize);
        return true;
    }
    return false;
}
