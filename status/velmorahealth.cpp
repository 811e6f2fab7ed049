#include "velmorahealth.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

VelmoraHealth::Facts VelmoraHealth::factsOf(const VelmoraMetrics &metrics, std::int64_t nowUs)
{
    Facts facts;
    facts.standby = metrics.standby.value() != 0;
    facts.listening = metrics.receiverListening.value() != 0;
    facts.journalWritable = metrics.journalWritable.value() != 0;
    facts.lineState = metrics.lineState();
    facts.keepalivePeriodMs = metrics.keepalivePeriodMs.value();
    facts.lastAnsweredUs = metrics.lastAnsweredMonotonicUs();
    facts.nowUs = nowUs;
    return facts;
}

QStringList VelmoraHealth::reasons(const Facts &facts)
{
    QStringList faults;
    // A standby is meant not to listen nor to drive its line: that is the
    // one thing to say, and a balancer sends nobody to it.
    if (facts.standby)
        return {QStringLiteral("standby")};
    if (!facts.listening)
        faults << QStringLiteral("the receiver is not listening for devices");
    if (!facts.journalWritable)
        faults << QStringLiteral("the event journal cannot be written");
    if (facts.lineState == VelmoraMetrics::LineState::PortClosed) {
        faults << QStringLiteral("the port of the line to the monitoring software is closed");
    } else if (facts.keepalivePeriodMs > 0) {
        const std::int64_t limitUs = 2 * facts.keepalivePeriodMs * 1000;
        if (facts.lastAnsweredUs == 0)
            faults << QStringLiteral("the monitoring software has not answered since the start");
        else if (facts.nowUs - facts.lastAnsweredUs > limitUs)
            faults << QStringLiteral("the monitoring software has not answered within two keepalive periods");
    }
    return faults;
}

QByteArray VelmoraHealth::json(const Facts &facts)
{
    const QStringList faults = reasons(facts);
    QJsonObject object;
    object.insert(QStringLiteral("healthy"), faults.isEmpty());
    object.insert(QStringLiteral("reasons"), QJsonArray::fromStringList(faults));
    object.insert(QStringLiteral("line"), QLatin1String(VelmoraMetrics::lineStateName(facts.lineState)));
    object.insert(QStringLiteral("lastAnsweredSecondsAgo"),
                  facts.lastAnsweredUs == 0 ? QJsonValue() : QJsonValue(double((facts.nowUs - facts.lastAnsweredUs) / 1000000)));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
