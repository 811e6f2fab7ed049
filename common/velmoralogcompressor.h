#ifndef VELMORALOGCOMPRESSOR_H
#define VELMORALOGCOMPRESSOR_H

#include <QString>
#include <QtGlobal>

// Turns a finished day log into a gzip file (RFC 1952, what zcat, gzip and
// 7-Zip read) through zlib.
class VelmoraLogCompressor
{
public:
    struct Result
    {
        bool ok = false;
        qint64 sourceBytes = 0;
        qint64 targetBytes = 0;
        // The system's or zlib's reason when not ok.
        QString error;
    };

    // Writes source, compressed, to target. The bytes go to a temporary
    // file beside target that is flushed to the disk and only then renamed
    // to target, so target is either absent or complete; a target that
    // exists already is refused, never rewritten. source is left alone.
    static Result compress(const QString &source, const QString &target);

    // True when the gzip file at compressed is whole and holds exactly the
    // bytes of the file at plain.
    static bool holdsSame(const QString &compressed, const QString &plain);

    // Whether a file name is one compress() leaves behind while it works on
    // target (the process ended meanwhile): such a file holds nothing that
    // is not still in the source.
    static bool isLeftoverOf(const QString &fileName, const QString &targetFileName);
};

#endif // VELMORALOGCOMPRESSOR_H
