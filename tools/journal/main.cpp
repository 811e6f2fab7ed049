// lumari-journal: lists what an application directory's event journal
// holds, safely while the program runs.

#include "binaryoutput.h"
#include "journallisting.h"
#include "journalreport.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

namespace {

constexpr int kExitUsage = 1;
constexpr int kExitNoJournal = 2;
constexpr int kExitDamaged = 3;

const char kDescription[] =
    "Lists the events in Lumari's event journal (spool/events.journal): pending ones, those set aside\n"
    "because the monitoring software refused them, and delivered ones the journal has not yet\n"
    "compacted away, with their counts. The journal is only read, never locked or written, so this\n"
    "is safe while Lumari runs; a record being appended at that moment is left for the next run.\n"
    "Given a PostgreSQL connection string instead (LUMARIJOURNAL), it lists the journal kept there:\n"
    "its pending and set-aside events, as the instance taking over would read them.\n"
    "\n"
    "Exit status: 0 listed; 1 wrong usage; 2 no journal, or it cannot be read; 3 the journal is\n"
    "damaged (its intact records are still listed).";

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumari-journal"));
    useBinaryStandardOutput();
    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption format(QStringLiteral("format"), QStringLiteral("Output format: text (default), csv or json."),
                                    QStringLiteral("format"), QStringLiteral("text"));
    parser.addOption(help);
    parser.addOption(format);
    parser.addPositionalArgument(
        QStringLiteral("directory"),
        QStringLiteral("Lumari's application directory (default: the one this program is in), its spool "
                       "directory, the journal file itself, or a PostgreSQL connection string."),
        QStringLiteral("[directory]"));

    if (!parser.parse(QCoreApplication::arguments())) {
        err << "lumari-journal: " << parser.errorText() << "\nTry --help.\n";
        return kExitUsage;
    }
    if (parser.isSet(help)) {
        out << parser.helpText();
        return 0;
    }
    JournalReport::Format outputFormat = JournalReport::Format::Text;
    if (!JournalReport::formatFromName(parser.value(format), &outputFormat)) {
        err << "lumari-journal: --format: \"" << parser.value(format) << "\" is none of text, csv, json\nTry --help.\n";
        return kExitUsage;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) {
        err << "lumari-journal: one directory at most, not " << positional.size() << "\nTry --help.\n";
        return kExitUsage;
    }
    // The program keeps its journal beside its executable, and so it is
    // installed beside this one.
    const QString path = positional.isEmpty() ? QCoreApplication::applicationDirPath() : positional.first();

    const JournalListing listing =
        JournalListing::isConnectionString(path) ? JournalListing::readDatabase(path) : JournalListing::read(path);
    if (listing.outcome == JournalListing::Outcome::Missing || listing.outcome == JournalListing::Outcome::Unreadable) {
        err << "lumari-journal: " << listing.problem << '\n';
        return kExitNoJournal;
    }
    out << JournalReport::render(listing, outputFormat);
    out.flush();
    if (listing.outcome == JournalListing::Outcome::Damaged) {
        err << "lumari-journal: " << listing.problem << "; the events listed are those of its intact records\n";
        return kExitDamaged;
    }
    return 0;
}
