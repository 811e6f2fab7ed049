#ifndef JOURNALREPORT_H
#define JOURNALREPORT_H

#include <QString>

class JournalListing;

// The listing as lumari-journal prints it.
namespace JournalReport {

enum class Format { Text, Csv, Json };

// "text", "csv" or "json"; false for anything else.
bool formatFromName(const QString &name, Format *format);

// Text: a table for people, then the counts. CSV: a header row and one row
// per event, nothing else, for spreadsheets. JSON: one object with the
// file, the counts and the events. Receive times are local in the text and
// UTC (ISO 8601) in CSV and JSON.
QString render(const JournalListing &listing, Format format);

} // namespace JournalReport

#endif // JOURNALREPORT_H
