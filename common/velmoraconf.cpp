#include "velmoraconf.h"

#include "conffileplatform.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>
#include <QTextCodec>
#include <QXmlStreamReader>

#include <algorithm>
#include <iterator>

namespace {

SVelmoraConf globalConf;

const char kRootElement[] = "LUMARICONFIG";
const char kGroupElement[] = "LUMARICOMMON";
const char kFileCodec[] = "Windows-1251";
const QByteArray kUtf8ByteOrderMark = QByteArrayLiteral("\xEF\xBB\xBF");

// Conversion of a "value" attribute: anything that is not a decimal int is 0.
qint32 toIntOrZero(const QString &text, bool *converted)
{
    const int value = text.toInt(converted, 10);
    return *converted ? value : 0;
}

// Index fields are compared as unsigned, so negative numbers are out of range too.
qint32 indexOrReplacement(const QString &text, unsigned maximum, qint32 replacement, bool *asWritten)
{
    const qint32 value = toIntOrZero(text, asWritten);
    if (static_cast<unsigned>(value) > maximum) {
        *asWritten = false;
        return replacement;
    }
    return value;
}

// The ten fields in the order of the file.
const char *const kFieldNames[] = {
    "LUMARIPORT", "LUMARICOMNAME", "LUMARICOMBAUDRATE", "LUMARICOMDATABITS",
    "LUMARICOMPARITY", "LUMARICOMSTOPBITS", "LUMARICOMSERVER", "LUMARICOMLINE",
    "LUMARICOMKEEPALIVE", "LUMARICOMUSETIME",
};
constexpr int kFieldCount = int(sizeof kFieldNames / sizeof kFieldNames[0]);


int fieldIndex(QStringView name)
{
    for (int i = 0; i < kFieldCount; ++i) {
        if (name == QLatin1String(kFieldNames[i]))
            return i;
    }
    return -1;
}

// Stores one field; false when the field got a default or replacement value
// instead of the text in the file.
bool storeField(SVelmoraConf *conf, int field, const QXmlStreamAttributes &attributes)
{
    const QLatin1String valueName("value");
    const bool present = attributes.hasAttribute(valueName);
    const QString value = attributes.value(valueName).toString();
    bool asWritten = present;
    bool converted = false;
    switch (field) {
    case 0:
        conf->tcpPort = toIntOrZero(value, &converted);
        return converted;
    case 1:
        conf->comName = value;
        return asWritten;
    case 2:
        conf->baudRateIndex = indexOrReplacement(value, 10, 7, &asWritten);
        return asWritten;
    case 3:
        conf->dataBitsIndex = indexOrReplacement(value, 2, 1, &asWritten);
        return asWritten;
    case 4:
        conf->parityIndex = indexOrReplacement(value, 2, 0, &asWritten);
        return asWritten;
    case 5:
        conf->stopBitsIndex = indexOrReplacement(value, 1, 0, &asWritten);
        return asWritten;
    case 6:
        conf->server = value;
        return asWritten;
    case 7:
        conf->line = value;
        return asWritten;
    case 8:
        conf->keepAlive = toIntOrZero(value, &converted);
        return converted;
    case 9:
        conf->useTime = toIntOrZero(value, &converted);
        return converted;
    default:
        return false;
    }
}

// The elements after the ten, each optional: absent means the default and is
// not reported; a value that is there but unusable leaves the default and is
// reported. Each is written only when it differs from its default, so that a
// file with every default is the same bytes as one written before they
// existed.
struct OptionalElement
{
    const char *name;
    // The description written with it, as the ten have theirs.
    const char *description;
    // Stores the value; false, with the default kept, when it is unusable.
    bool (*read)(SVelmoraConf *conf, const QString &value);
    // The value to write; empty while the field holds its default.
    QString (*write)(const SVelmoraConf &conf);
};

// A whole number from minimum to maximum.
template <qint32 SVelmoraConf::*field, qint32 minimum, qint32 maximum>
bool readBoundedInt(SVelmoraConf *conf, const QString &value)
{
    bool converted = false;
    const qint32 number = toIntOrZero(value.trimmed(), &converted);
    if (!converted || number < minimum || number > maximum) {
        conf->*field = SVelmoraConf().*field;
        return false;
    }
    conf->*field = number;
    return true;
}

template <qint32 SVelmoraConf::*field>
QString writeInt(const SVelmoraConf &conf)
{
    return conf.*field == SVelmoraConf().*field ? QString() : QString::number(conf.*field);
}

// Text, taken as it stands apart from the white space around it.
template <QString SVelmoraConf::*field>
bool readText(SVelmoraConf *conf, const QString &value)
{
    conf->*field = value.trimmed();
    return true;
}

// "all" or "listed", in any case.
bool readDevicesMode(SVelmoraConf *conf, const QString &value)
{
    const QString mode = value.trimmed().toLower();
    if (mode != QLatin1String(SVelmoraConf::kDevicesAll) && mode != QLatin1String(SVelmoraConf::kDevicesListed)) {
        conf->devices = SVelmoraConf().devices;
        return false;
    }
    conf->devices = mode;
    return true;
}

template <QString SVelmoraConf::*field>
QString writeText(const SVelmoraConf &conf)
{
    return conf.*field == SVelmoraConf().*field ? QString() : conf.*field;
}

const OptionalElement kOptionalElements[] = {
    {"LUMARILOGDAYS", "Хранить дневные логи (дней, 0 - все)",
     readBoundedInt<&SVelmoraConf::logDays, 0, SVelmoraConf::kMaxLogDays>, writeInt<&SVelmoraConf::logDays>},
    {"LUMARIHTTP", "HTTP: адрес:порт страницы состояния и метрик",
     readText<&SVelmoraConf::httpAddress>, writeText<&SVelmoraConf::httpAddress>},
    {"LUMARIHTTPPASSWORD", "HTTP: хеш пароля (PBKDF2)",
     readText<&SVelmoraConf::httpPasswordHash>, writeText<&SVelmoraConf::httpPasswordHash>},
    {"LUMARISUPERVISION", "Период контроля связи с устройствами (сек, 0 - нет)",
     readBoundedInt<&SVelmoraConf::supervisionS, 0, SVelmoraConf::kMaxSupervisionS>,
     writeInt<&SVelmoraConf::supervisionS>},
    {"LUMARIDEVICES", "Какие устройства принимаются (all - все, listed - из списка)", readDevicesMode,
     writeText<&SVelmoraConf::devices>},
    {"LUMARICOMACKWAIT", "Ожидание ответа (ACK) на строку, мс",
     readBoundedInt<&SVelmoraConf::comAckWaitMs, SVelmoraConf::kMinComAckWaitMs, SVelmoraConf::kMaxComAckWaitMs>,
     writeInt<&SVelmoraConf::comAckWaitMs>},
    {"LUMARICOMFALLBACK", "Резервный COM-порт или tcp://адрес:порт",
     readText<&SVelmoraConf::comFallback>, writeText<&SVelmoraConf::comFallback>},
    {"LUMARIJOURNAL", "Журнал событий в PostgreSQL (строка подключения libpq)",
     readText<&SVelmoraConf::journal>, writeText<&SVelmoraConf::journal>},
};
constexpr int kOptionalCount = int(sizeof kOptionalElements / sizeof kOptionalElements[0]);

int optionalIndex(QStringView name)
{
    for (int i = 0; i < kOptionalCount; ++i) {
        if (name == QLatin1String(kOptionalElements[i].name))
            return i;
    }
    return -1;
}

// Reads the settings group up to its end element (or the end of input).
// A field read twice counts as the later occurrence left it.
void readGroup(QXmlStreamReader &reader, SVelmoraConf *conf, bool *asWritten, bool *optionalAsWritten)
{
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isEndElement() && reader.name() == QLatin1String(kGroupElement))
            return;
        if (!reader.isStartElement())
            continue;
        const int field = fieldIndex(reader.name());
        const int optional = field < 0 ? optionalIndex(reader.name()) : -1;
        if (field >= 0) {
            asWritten[field] = storeField(conf, field, reader.attributes());
        } else if (optional >= 0) {
            const OptionalElement &element = kOptionalElements[optional];
            optionalAsWritten[optional] =
                element.read(conf, reader.attributes().value(QLatin1String("value")).toString());
        } else {
            reader.skipCurrentElement();
        }
    }
}

QString fieldLine(const char *element, const QString &description, const QString &value)
{
    return QStringLiteral("\t\t<%1 description=\"%2\" value=\"%3\"/>\n")
        .arg(QLatin1String(element), description, value.toHtmlEscaped());
}

} // namespace

SVelmoraConf *VelmoraCommon_GetConf()
{
    return &globalConf;
}

void VelmoraCommon_SetDefaultConf(SVelmoraConf *conf)
{
    if (conf)
        *conf = SVelmoraConf();
}

int VelmoraCommon_ReadConf(const QString &path, SVelmoraConf *conf, QStringList *fallbackFields)
{
    if (!conf)
        return -1;
    QFile file;
    if (!confOpenRegularFile(&file, path))
        return -1;

    bool asWritten[kFieldCount] = {};
    bool optionalAsWritten[kOptionalCount];
    std::fill(std::begin(optionalAsWritten), std::end(optionalAsWritten), true);
    // A file saved as UTF-8 with a byte order mark (as Notepad does) still
    // carries the old "cp-1251" declaration. The reader would switch to that
    // codec and misread the mark as text before the root, so such a file is
    // decoded as UTF-8 here and the declaration is not looked at.
    QXmlStreamReader reader;
    if (file.peek(kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark)
        reader.addData(QString::fromUtf8(file.readAll().mid(kUtf8ByteOrderMark.size())));
    else
        reader.setDevice(&file);

    const auto reportFallbacks = [&]() {
        if (!fallbackFields)
            return;
        fallbackFields->clear();
        for (int i = 0; i < kFieldCount; ++i) {
            if (!asWritten[i])
                fallbackFields->append(QLatin1String(kFieldNames[i]));
        }
        for (int i = 0; i < kOptionalCount; ++i) {
            if (!optionalAsWritten[i])
                fallbackFields->append(QLatin1String(kOptionalElements[i].name));
        }
    };

    // Up to the first start element: declaration, comments and white space
    // are passed over; an empty file or one that is not XML ends here.
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement())
            break;
    }
    if (!reader.isStartElement()) {
        reportFallbacks();
        return 0;
    }

    if (reader.name() != QLatin1String(kRootElement)
        || !reader.attributes().value(QLatin1String("version")).startsWith(QLatin1String("1.0")))
        return -1;

    // Root content: the settings group is read, anything else skipped whole.
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isEndElement() && reader.name() == QLatin1String(kRootElement))
            break;
        if (!reader.isStartElement())
            continue;
        if (reader.name() == QLatin1String(kGroupElement))
            readGroup(reader, conf, asWritten, optionalAsWritten);
        else
            reader.skipCurrentElement();
    }
    while (!reader.atEnd())
        reader.readNext();
    reportFallbacks();
    return 0;
}

QByteArray VelmoraCommon_ConfFileText(const SVelmoraConf &conf)
{
    QString text;
    text += QStringLiteral("<?xml  version=\"1.0\" encoding=\"cp-1251\"?>\n");
    text += QStringLiteral("<LUMARICONFIG version=\"1.0\" description=\"LUMARI Specific Configuration\">\n");
    text += QStringLiteral("   <LUMARICOMMON version=\"1.0\" versionDate=\"20150131\">\n");
    // The first letter of the stop-bits and server descriptions is the Latin
    // capital C, as in the files the converter has always written.
    text += fieldLine("LUMARIPORT", QStringLiteral("Порт для входящих подключений VELMORA-KIT"), QString::number(conf.tcpPort));
    text += fieldLine("LUMARICOMNAME", QStringLiteral("COM-порт"), conf.comName);
    text += fieldLine("LUMARICOMBAUDRATE", QStringLiteral("Скорость COM-порта"), QString::number(conf.baudRateIndex));
    text += fieldLine("LUMARICOMDATABITS", QStringLiteral("Число битов в байте для COM-порта"), QString::number(conf.dataBitsIndex));
    text += fieldLine("LUMARICOMPARITY", QStringLiteral("Четность COM-порта"), QString::number(conf.parityIndex));
    text += fieldLine("LUMARICOMSTOPBITS", QStringLiteral("C") + QStringLiteral("топовые биты COM-порта"), QString::number(conf.stopBitsIndex));
    text += fieldLine("LUMARICOMSERVER", QStringLiteral("C") + QStringLiteral("ервер для протокола Surgard"), conf.server);
    text += fieldLine("LUMARICOMLINE", QStringLiteral("Линия для протокола Surgard"), conf.line);
    text += fieldLine("LUMARICOMKEEPALIVE", QStringLiteral("Keepalive время (сек) для протокола Surgard"), QString::number(conf.keepAlive));
    text += fieldLine("LUMARICOMUSETIME", QStringLiteral("Surgard+Время"), QString::number(conf.useTime));
    for (const OptionalElement &element : kOptionalElements) {
        const QString value = element.write(conf);
        if (!value.isEmpty())
            text += fieldLine(element.name, QString::fromUtf8(element.description), value);
    }
    text += QStringLiteral("   </LUMARICOMMON>\n");
    text += QStringLiteral("</LUMARICONFIG>");
    return QTextCodec::codecForName(kFileCodec)->fromUnicode(text);
}

int VelmoraCommon_WriteConf(const SVelmoraConf *conf, const QString &path)
{
    if (!conf)
        return -1;
    const QByteArray bytes = VelmoraCommon_ConfFileText(*conf);
    // Written beside the target and renamed over it on commit, so a crash or
    // a full disk never leaves a cut-off file behind. Unbuffered, because a
    // buffered QSaveFile loses a short write at flush time and commits the
    // cut-off file as if all went well.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Unbuffered))
        return -1;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return -1;
    }
    return file.commit() ? 1 : -1;
}

int VelmoraCommon_BackupConf(const QString &path)
{
    if (!QFile::exists(path))
        return 1;
    // Copying a FIFO or a device would wait on it, or never end.
    if (!confIsRegularFile(path))
        return -1;
    const QString backupPath = path + QStringLiteral(".bak");
    if (QFile::exists(backupPath) && !QFile::remove(backupPath))
        return -1;
    return QFile::copy(path, backupPath) ? 1 : -1;
}
