#include "velmoraconf.h"

#include <QFile>
#include <QSaveFile>
#include <QTextCodec>
#include <QXmlStreamReader>

namespace {

SVelmoraConf globalConf;

const char kRootElement[] = "LUMARICONFIG";
const char kGroupElement[] = "LUMARICOMMON";
const char kFileCodec[] = "Windows-1251";

// Conversion of a "value" attribute: anything that is not a decimal int is 0.
qint32 toIntOrZero(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

// Index fields are compared as unsigned, so negative numbers are out of range too.
qint32 indexOrReplacement(const QString &text, unsigned maximum, qint32 replacement)
{
    const qint32 value = toIntOrZero(text);
    return static_cast<unsigned>(value) > maximum ? replacement : value;
}

void storeField(SVelmoraConf *conf, QStringView name, const QString &value)
{
    if (name == QLatin1String("LUMARIPORT"))
        conf->tcpPort = toIntOrZero(value);
    else if (name == QLatin1String("LUMARICOMNAME"))
        conf->comName = value;
    else if (name == QLatin1String("LUMARICOMBAUDRATE"))
        conf->baudRateIndex = indexOrReplacement(value, 10, 7);
    else if (name == QLatin1String("LUMARICOMDATABITS"))
        conf->dataBitsIndex = indexOrReplacement(value, 2, 1);
    else if (name == QLatin1String("LUMARICOMPARITY"))
        conf->parityIndex = indexOrReplacement(value, 2, 0);
    else if (name == QLatin1String("LUMARICOMSTOPBITS"))
        conf->stopBitsIndex = indexOrReplacement(value, 1, 0);
    else if (name == QLatin1String("LUMARICOMSERVER"))
        conf->server = value;
    else if (name == QLatin1String("LUMARICOMLINE"))
        conf->line = value;
    else if (name == QLatin1String("LUMARICOMKEEPALIVE"))
        conf->keepAlive = toIntOrZero(value);
    else if (name == QLatin1String("LUMARICOMUSETIME"))
        conf->useTime = toIntOrZero(value);
}

bool isFieldName(QStringView name)
{
    static const char *const names[] = {
        "LUMARIPORT", "LUMARICOMNAME", "LUMARICOMBAUDRATE", "LUMARICOMDATABITS",
        "LUMARICOMPARITY", "LUMARICOMSTOPBITS", "LUMARICOMSERVER", "LUMARICOMLINE",
        "LUMARICOMKEEPALIVE", "LUMARICOMUSETIME",
    };
    for (const char *fieldName : names) {
        if (name == QLatin1String(fieldName))
            return true;
    }
    return false;
}

// Reads the settings group up to its end element (or the end of input).
void readGroup(QXmlStreamReader &reader, SVelmoraConf *conf)
{
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isEndElement() && reader.name() == QLatin1String(kGroupElement))
            return;
        if (!reader.isStartElement())
            continue;
        if (isFieldName(reader.name()))
            storeField(conf, reader.name(), reader.attributes().value(QLatin1String("value")).toString());
        else
            reader.skipCurrentElement();
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

int VelmoraCommon_ReadConf(const QString &path, SVelmoraConf *conf)
{
    if (!conf)
        return -1;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;

    QXmlStreamReader reader(&file);
    // Up to the first start element: declaration, comments and white space
    // are passed over; an empty file or one that is not XML ends here.
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement())
            break;
    }
    if (!reader.isStartElement())
        return 0;

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
            readGroup(reader, conf);
        else
            reader.skipCurrentElement();
    }
    while (!reader.atEnd())
        reader.readNext();
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
    const QString backupPath = path + QStringLiteral(".bak");
    if (QFile::exists(backupPath) && !QFile::remove(backupPath))
        return -1;
    return QFile::copy(path, backupPath) ? 1 : -1;
}
