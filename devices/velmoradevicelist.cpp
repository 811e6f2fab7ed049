#include "velmoradevicelist.h"

#include <QSet>
#include <QStringList>
#include <QTextCodec>

namespace {

const QByteArray kUtf8ByteOrderMark("\xEF\xBB\xBF");
const char kFallbackCodec[] = "Windows-1251";
const QLatin1Char kQuote('"');
constexpr int kDeviceIdDigits = 6;
constexpr int kMacDigits = 16;
constexpr int kFieldCount = 4;

enum class Encoding { Utf8WithMark, Utf8, Windows1251 };

struct Text
{
    QString text;
    Encoding encoding = Encoding::Utf8;
};

Text decode(const QByteArray &bytes)
{
    if (bytes.startsWith(kUtf8ByteOrderMark))
        return {QString::fromUtf8(bytes.mid(kUtf8ByteOrderMark.size())), Encoding::Utf8WithMark};
    QTextCodec::ConverterState state;
    const QString utf8 = QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars == 0)
        return {utf8, Encoding::Utf8};
    return {QTextCodec::codecForName(kFallbackCodec)->toUnicode(bytes), Encoding::Windows1251};
}

QByteArray encode(const QString &text, Encoding encoding)
{
    QTextCodec *windows1251 = QTextCodec::codecForName(kFallbackCodec);
    switch (encoding) {
    case Encoding::Utf8:
        return text.toUtf8();
    case Encoding::Windows1251:
        // A description the old code page cannot hold turns the file into
        // UTF-8 rather than into question marks.
        if (windows1251->canEncode(text))
            return windows1251->fromUnicode(text);
        break;
    case Encoding::Utf8WithMark:
        break;
    }
    return kUtf8ByteOrderMark + text.toUtf8();
}

// One record of the file: its fields and where its text lies.
struct Record
{
    int lineNumber = 0;
    int start = 0;
    // Past the record's line break.
    int end = 0;
    QStringList fields;
    bool blank() const { return fields.size() == 1 && fields.first().trimmed().isEmpty(); }
};

QVector<Record> records(const QString &text, QChar separator)
{
    QVector<Record> result;
    Record record;
    record.lineNumber = 1;
    QString field;
    bool inQuotes = false;
    bool fieldQuoted = false;
    int line = 1;
    const auto endField = [&]() {
        record.fields << field;
        field.clear();
        fieldQuoted = false;
    };
    const auto endRecord = [&](int end) {
        endField();
        record.end = end;
        result << record;
        record = Record();
        record.start = end;
        record.lineNumber = line;
    };
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\n'))
            ++line;
        if (inQuotes) {
            if (c != kQuote)
                field += c;
            else if (i + 1 < text.size() && text.at(i + 1) == kQuote)
                field += text.at(++i);
            else
                inQuotes = false;
        } else if (c == kQuote && field.isEmpty() && !fieldQuoted) {
            inQuotes = true;
            fieldQuoted = true;
        } else if (c == separator) {
            endField();
        } else if (c == QLatin1Char('\n')) {
            endRecord(i + 1);
        } else if (c != QLatin1Char('\r')) {
            field += c;
        }
    }
    if (record.start < text.size())
        endRecord(text.size());
    return result;
}

QChar separatorOf(const QString &text)
{
    const QString firstLine = text.left(text.indexOf(QLatin1Char('\n')));
    return firstLine.contains(QLatin1Char(';')) && !firstLine.contains(QLatin1Char(','))
        ? QLatin1Char(';')
        : QLatin1Char(',');
}

bool isHeader(const Record &record)
{
    const QStringList names = QString::fromLatin1(VelmoraDeviceList::kHeader).split(QLatin1Char(','));
    if (record.fields.size() != names.size())
        return false;
    for (int i = 0; i < names.size(); ++i) {
        if (record.fields.at(i).trimmed().compare(names.at(i), Qt::CaseInsensitive) != 0)
            return false;
    }
    return true;
}

bool isHex(const QString &text, int digits)
{
    if (text.size() != digits)
        return false;
    for (const QChar c : text) {
        if (!c.isDigit() && !(c.toUpper() >= QLatin1Char('A') && c.toUpper() <= QLatin1Char('F')))
            return false;
    }
    return true;
}

// The row, or the reason it is no row.
bool readRow(const Record &record, SVelmoraDeviceListRow *row, QString *reason)
{
    if (record.fields.size() > kFieldCount) {
        *reason = QStringLiteral("%1 fields, at most %2 expected").arg(record.fields.size()).arg(kFieldCount);
        return false;
    }
    QStringList fields = record.fields;
    while (fields.size() < kFieldCount)
        fields << QString();
    row->lineNumber = record.lineNumber;
    row->deviceId = fields.at(0).trimmed().toUpper();
    if (!VelmoraDeviceList::isDeviceId(row->deviceId)) {
        *reason = QStringLiteral("device_id \"%1\" is not 6 hex digits").arg(fields.at(0).trimmed());
        return false;
    }
    row->description = fields.at(1).trimmed();
    const QString period = fields.at(2).trimmed();
    if (period.isEmpty()) {
        row->supervisionS = SVelmoraDeviceListRow::kDefaultPeriod;
    } else {
        bool converted = false;
        row->supervisionS = period.toInt(&converted);
        if (!converted || row->supervisionS < 0 || row->supervisionS > VelmoraDeviceList::kMaxSupervisionS) {
            *reason = QStringLiteral("supervision_s \"%1\" is not a number of seconds from 0 to %2")
                          .arg(period)
                          .arg(VelmoraDeviceList::kMaxSupervisionS);
            return false;
        }
    }
    row->mac = fields.at(3).trimmed().toUpper();
    if (!row->mac.isEmpty() && !VelmoraDeviceList::isMac(row->mac)) {
        *reason = QStringLiteral("mac \"%1\" is not 16 hex digits").arg(fields.at(3).trimmed());
        return false;
    }
    return true;
}

QString rowText(const SVelmoraDeviceListRow &row, QChar separator)
{
    QStringList fields;
    fields << row.deviceId << VelmoraDeviceList::quoted(row.description, separator)
           << (row.supervisionS == SVelmoraDeviceListRow::kDefaultPeriod ? QString()
                                                                          : QString::number(row.supervisionS))
           << row.mac;
    return fields.join(separator);
}

QString headerText(QChar separator)
{
    return QString::fromLatin1(VelmoraDeviceList::kHeader).replace(QLatin1Char(','), separator);
}

// The record of the device after the header, or -1.
int recordOf(const QVector<Record> &all, const QString &deviceId)
{
    for (int i = 1; i < all.size(); ++i) {
        if (!all.at(i).fields.isEmpty() && all.at(i).fields.first().trimmed().toUpper() == deviceId)
            return i;
    }
    return -1;
}

QString lineBreakOf(const QString &text)
{
    return text.contains(QLatin1String("\r\n")) ? QStringLiteral("\r\n") : QStringLiteral("\n");
}

} // namespace

VelmoraDeviceList::Parsed VelmoraDeviceList::parse(const QByteArray &bytes)
{
    Parsed parsed;
    const Text text = decode(bytes);
    parsed.separator = separatorOf(text.text);
    const QVector<Record> all = records(text.text, parsed.separator);
    int first = 0;
    while (first < all.size() && all.at(first).blank())
        ++first;
    if (first >= all.size())
        return parsed;
    if (!isHeader(all.at(first))) {
        parsed.problems << Problem{all.at(first).lineNumber,
                                   QStringLiteral("the header is not %1").arg(QLatin1String(kHeader))};
        return parsed;
    }
    QSet<QString> seen;
    for (int i = first + 1; i < all.size(); ++i) {
        const Record &record = all.at(i);
        if (record.blank())
            continue;
        SVelmoraDeviceListRow row;
        QString reason;
        if (!readRow(record, &row, &reason)) {
            parsed.problems << Problem{record.lineNumber, reason};
            continue;
        }
        if (seen.contains(row.deviceId)) {
            parsed.problems << Problem{record.lineNumber,
                                       QStringLiteral("device_id %1 is listed twice").arg(row.deviceId)};
            continue;
        }
        seen.insert(row.deviceId);
        parsed.rows << row;
    }
    return parsed;
}

const SVelmoraDeviceListRow *VelmoraDeviceList::find(const Parsed &list, const QString &deviceId)
{
    for (const SVelmoraDeviceListRow &row : list.rows) {
        if (row.deviceId == deviceId)
            return &row;
    }
    return nullptr;
}

QByteArray VelmoraDeviceList::withRow(const QByteArray &bytes, const SVelmoraDeviceListRow &row)
{
    Text text = decode(bytes);
    const QChar separator = separatorOf(text.text);
    const QVector<Record> all = records(text.text, separator);
    const QString lineBreak = lineBreakOf(text.text);
    if (all.isEmpty() || !isHeader(all.first())) {
        if (text.text.trimmed().isEmpty())
            return toCsv({row}, QLatin1Char(','));
        // Not a list this program can add to without losing the operator's
        // text: the row goes after it all the same, where it is seen.
    }
    const int index = recordOf(all, row.deviceId);
    if (index >= 0) {
        const Record &record = all.at(index);
        const bool hadBreak = text.text.midRef(record.start, record.end - record.start).endsWith(QLatin1Char('\n'));
        text.text.replace(record.start, record.end - record.start,
                          rowText(row, separator) + (hadBreak ? lineBreak : QString()));
    } else {
        if (!text.text.isEmpty() && !text.text.endsWith(QLatin1Char('\n')))
            text.text += lineBreak;
        text.text += rowText(row, separator) + lineBreak;
    }
    return encode(text.text, text.encoding);
}

QByteArray VelmoraDeviceList::withoutRow(const QByteArray &bytes, const QString &deviceId)
{
    Text text = decode(bytes);
    const QVector<Record> all = records(text.text, separatorOf(text.text));
    const int index = recordOf(all, deviceId);
    if (index < 0)
        return bytes;
    text.text.remove(all.at(index).start, all.at(index).end - all.at(index).start);
    return encode(text.text, text.encoding);
}

QByteArray VelmoraDeviceList::toCsv(const QVector<SVelmoraDeviceListRow> &rows, QChar separator)
{
    QString text = headerText(separator) + QLatin1Char('\n');
    for (const SVelmoraDeviceListRow &row : rows)
        text += rowText(row, separator) + QLatin1Char('\n');
    return text.toUtf8();
}

QString VelmoraDeviceList::quoted(const QString &field, QChar separator)
{
    if (!field.contains(separator) && !field.contains(kQuote) && !field.contains(QLatin1Char('\n'))
        && !field.contains(QLatin1Char('\r')))
        return field;
    QString doubled = field;
    doubled.replace(kQuote, QStringLiteral("\"\""));
    return kQuote + doubled + kQuote;
}

bool VelmoraDeviceList::isDeviceId(const QString &text)
{
    return isHex(text, kDeviceIdDigits);
}

bool VelmoraDeviceList::isMac(const QString &text)
{
    return isHex(text, kMacDigits);
}
