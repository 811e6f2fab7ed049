// The Windows durable file under Wine, built against the Qt stand-in in
// qtstandin/. Each case works in a folder of its own under the temporary
// directory.

#include "durablefile.h"
#include "winetest.h"

#include <QByteArray>

#include <windows.h>

#include <string>

namespace winetest {
inline std::string show(const QString &text)
{
    return show(text.toLatin1());
}
} // namespace winetest

namespace {

// A fresh, empty folder; forward slashes, as the journal passes paths.
std::string freshFolder(const std::string &name)
{
    char temporary[MAX_PATH] = {};
    GetTempPathA(sizeof temporary, temporary);
    std::string folder = std::string(temporary) + "lumari-durablefile-" + name + "-"
                         + std::to_string(GetCurrentProcessId());
    for (char &c : folder) {
        if (c == '\\')
            c = '/';
    }
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

QString path(const std::string &text)
{
    return QString::fromLatin1(text);
}

std::string contents(DurableFile &file)
{
    QByteArray bytes;
    const qint64 size = file.size();
    if (size < 0 || !file.readAt(0, static_cast<int>(size), &bytes))
        return "<unreadable: " + file.errorString().toLatin1() + ">";
    return bytes.toStdString();
}

std::string fileOnDisk(const std::string &name)
{
    DurableFile file;
    if (!file.open(path(name)))
        return "<cannot open: " + file.errorString().toLatin1() + ">";
    return contents(file);
}

bool contains(const QString &text, const std::string &part)
{
    return text.toLatin1().find(part) != std::string::npos;
}

} // namespace

WINE_TEST(createWriteAtOffsetsFlushTruncate)
{
    const std::string name = freshFolder("write") + "/journal";
    {
        DurableFile file;
        CHECK(!file.isOpen());
        CHECK(file.open(path(name)));
        CHECK(file.isOpen());
        CHECK_EQ(contents(file), std::string());

        CHECK(file.writeAt(0, QByteArray("record-1", 8)));
        // Past the end: the gap reads as zero bytes.
        CHECK(file.writeAt(12, QByteArray("tail", 4)));
        CHECK(file.sync());
        CHECK_EQ(contents(file), std::string("record-1\0\0\0\0tail", 16));
        // Over existing bytes.
        CHECK(file.writeAt(7, QByteArray("2", 1)));
        CHECK_EQ(contents(file), std::string("record-2\0\0\0\0tail", 16));

        CHECK(file.truncate(8));
        CHECK(file.sync());
        CHECK_EQ(contents(file), std::string("record-2"));
        // A write after a truncate still lands at its offset.
        CHECK(file.writeAt(8, QByteArray("+3", 2)));
        file.close();
        CHECK(!file.isOpen());
        file.close();
    }
    // Reopening keeps what was written.
    CHECK_EQ(fileOnDisk(name), std::string("record-2+3"));
}

WINE_TEST(secondOpenRefusedWithReason)
{
    const std::string name = freshFolder("shared") + "/journal";
    DurableFile first;
    CHECK(first.open(path(name)));
    DurableFile second;
    CHECK(!second.open(path(name)));
    CHECK(!second.isOpen());
    const QString reason = second.errorString();
    CHECK_MSG(contains(reason, "Cannot open " + name + ": "), reason.toLatin1());
    // The system's words follow the path.
    CHECK_MSG(reason.toLatin1().size() > ("Cannot open " + name + ": ").size() + 3, reason.toLatin1());

    first.close();
    CHECK(second.open(path(name)));
}

WINE_TEST(failuresCarryTheSystemReason)
{
    const std::string folder = freshFolder("fail");
    winetest::row("missing folder");
    DurableFile file;
    const std::string missing = folder + "/no-such-folder/journal";
    CHECK(!file.open(path(missing)));
    CHECK_MSG(contains(file.errorString(), "Cannot open " + missing + ": "),
              file.errorString().toLatin1());

    winetest::row("a folder is no file");
    CHECK(!file.open(path(folder)));
    CHECK_MSG(contains(file.errorString(), "Cannot open " + folder + ": "),
              file.errorString().toLatin1());

    winetest::row("replace from a missing file");
    QString error;
    const std::string target = folder + "/target";
    CHECK(!DurableFile::replace(path(folder + "/missing"), path(target), &error));
    CHECK_MSG(contains(error, "Cannot replace " + target + ": "), error.toLatin1());
}

WINE_TEST(replacePutsTheNewFileInPlace)
{
    const std::string folder = freshFolder("replace");
    const std::string target = folder + "/journal";
    const std::string source = folder + "/journal.new";
    {
        DurableFile old;
        CHECK(old.open(path(target)));
        CHECK(old.writeAt(0, QByteArray("old contents", 12)));
        CHECK(old.sync());
        DurableFile replacement;
        CHECK(replacement.open(path(source)));
        CHECK(replacement.writeAt(0, QByteArray("new", 3)));
        CHECK(replacement.sync());
    }
    QString error;
    CHECK_MSG(DurableFile::replace(path(source), path(target), &error), error.toLatin1());
    CHECK_MSG(DurableFile::syncDirectory(path(folder), &error), error.toLatin1());
    CHECK_EQ(fileOnDisk(target), std::string("new"));
    CHECK_EQ(GetFileAttributesA(source.c_str()), INVALID_FILE_ATTRIBUTES);

    // Into a missing target, as on the first compaction.
    const std::string fresh = folder + "/fresh";
    {
        DurableFile file;
        CHECK(file.open(path(source)));
        CHECK(file.writeAt(0, QByteArray("first", 5)));
    }
    CHECK_MSG(DurableFile::replace(path(source), path(fresh), &error), error.toLatin1());
    CHECK_EQ(fileOnDisk(fresh), std::string("first"));
}

WINE_TEST(largeReadAndWrite)
{
    const std::string name = freshFolder("large") + "/journal";
    std::string bytes(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 + i / 251);
    DurableFile file;
    CHECK(file.open(path(name)));
    CHECK(file.writeAt(0, QByteArray(bytes)));
    CHECK(file.sync());
    CHECK(contents(file) == bytes);
}

int main(int argc, char **argv)
{
    return winetest::runAll(argc, argv);
}
