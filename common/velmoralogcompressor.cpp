#include "velmoralogcompressor.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <zlib.h>

namespace {

constexpr int kChunkBytes = 256 * 1024;
// 15 bits of window, plus 16: a gzip header and trailer instead of zlib's.
constexpr int kGzipWindowBits = 15 + 16;
constexpr int kMemoryLevel = 8;
// Level 6, zlib's default: day logs are hex and repeated words, and the
// higher levels gain little for much more time.
constexpr int kLevel = Z_DEFAULT_COMPRESSION;
// QSaveFile writes beside the target under the target's name, a dot and
// six characters of its own.
constexpr int kTemporarySuffixLength = 7;

QString zlibError(const z_stream &stream, int code)
{
    return stream.msg ? QString::fromLatin1(stream.msg) : QStringLiteral("zlib error %1").arg(code);
}

// Feeds input to the stream and writes what comes out; flush is Z_NO_FLUSH
// or, for the last piece, Z_FINISH.
bool deflateInto(z_stream &stream, const QByteArray &input, int flush, QSaveFile &output, qint64 *written,
                 QString *error)
{
    QByteArray out(kChunkBytes, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(input.constData()));
    stream.avail_in = static_cast<uInt>(input.size());
    int code = Z_OK;
    do {
        stream.next_out = reinterpret_cast<Bytef *>(out.data());
        stream.avail_out = static_cast<uInt>(out.size());
        code = deflate(&stream, flush);
        if (code == Z_STREAM_ERROR) {
            *error = zlibError(stream, code);
            return false;
        }
        const qint64 produced = out.size() - static_cast<qint64>(stream.avail_out);
        if (produced > 0 && output.write(out.constData(), produced) != produced) {
            *error = output.errorString();
            return false;
        }
        *written += produced;
    } while (stream.avail_out == 0 || (flush == Z_FINISH && code != Z_STREAM_END));
    return true;
}

} // namespace

VelmoraLogCompressor::Result VelmoraLogCompressor::compress(const QString &source, const QString &target)
{
    Result result;
    if (QFileInfo::exists(target)) {
        result.error = QStringLiteral("%1 exists already").arg(target);
        return result;
    }
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly)) {
        result.error = input.errorString();
        return result;
    }
    // Unbuffered: a buffered QSaveFile can lose a short write when it
    // flushes and still commit.
    QSaveFile output(target);
    if (!output.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        result.error = output.errorString();
        return result;
    }

    z_stream stream{};
    const int init = deflateInit2(&stream, kLevel, Z_DEFLATED, kGzipWindowBits, kMemoryLevel, Z_DEFAULT_STRATEGY);
    if (init != Z_OK) {
        result.error = zlibError(stream, init);
        output.cancelWriting();
        return result;
    }
    bool ok = true;
    for (bool atEnd = false; ok && !atEnd;) {
        const QByteArray chunk = input.read(kChunkBytes);
        if (chunk.isEmpty() && input.error() != QFileDevice::NoError) {
            result.error = input.errorString();
            ok = false;
            break;
        }
        result.sourceBytes += chunk.size();
        atEnd = chunk.size() < kChunkBytes;
        ok = deflateInto(stream, chunk, atEnd ? Z_FINISH : Z_NO_FLUSH, output, &result.targetBytes, &result.error);
    }
    deflateEnd(&stream);
    if (!ok) {
        output.cancelWriting();
        return result;
    }
    // commit() flushes the file to the disk before it renames it.
    if (QFileInfo::exists(target) || !output.commit()) {
        result.error = QFileInfo::exists(target) ? QStringLiteral("%1 exists already").arg(target)
                                                 : output.errorString();
        output.cancelWriting();
        return result;
    }
    result.ok = true;
    return result;
}

bool VelmoraLogCompressor::holdsSame(const QString &compressed, const QString &plain)
{
    QFile packedFile(compressed);
    QFile plainFile(plain);
    if (!packedFile.open(QIODevice::ReadOnly) || !plainFile.open(QIODevice::ReadOnly))
        return false;
    z_stream stream{};
    if (inflateInit2(&stream, kGzipWindowBits) != Z_OK)
        return false;
    QByteArray out(kChunkBytes, Qt::Uninitialized);
    bool same = true;
    int code = Z_OK;
    while (same && code != Z_STREAM_END) {
        const QByteArray in = packedFile.read(kChunkBytes);
        if (in.isEmpty())
            break;
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.constData()));
        stream.avail_in = static_cast<uInt>(in.size());
        do {
            stream.next_out = reinterpret_cast<Bytef *>(out.data());
            stream.avail_out = static_cast<uInt>(out.size());
            code = inflate(&stream, Z_NO_FLUSH);
            if (code != Z_OK && code != Z_STREAM_END) {
                same = false;
                break;
            }
            const int produced = out.size() - static_cast<int>(stream.avail_out);
            same = plainFile.read(produced) == QByteArray::fromRawData(out.constData(), produced);
        } while (same && stream.avail_out == 0 && code != Z_STREAM_END);
    }
    inflateEnd(&stream);
    return same && code == Z_STREAM_END && plainFile.atEnd() && packedFile.atEnd();
}

bool VelmoraLogCompressor::isLeftoverOf(const QString &fileName, const QString &targetFileName)
{
    return fileName.size() == targetFileName.size() + kTemporarySuffixLength
        && fileName.startsWith(targetFileName + QLatin1Char('.'));
}
