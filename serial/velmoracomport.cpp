#include "velmoracomport.h"

#include "receiverline.h"
#include "velmoraclock.h"
#include "velmoracomreport.h"
#include "velmoraportopening.h"

#include <QCoreApplication>
#include <QVector>

VelmoraComPort::VelmoraComPort(VelmoraClock &clock, const SVelmoraComSettings &settingsToUse, QObject *parent)
    : QObject(parent),
      settings(settingsToUse),
      line(ReceiverLine::forName(std::string())),
      lineExchange(*line),
      reopenTimer(new VelmoraTimer(clock, this))
{
    reopenTimer->setSingleShot(true);
    connect(reopenTimer, &VelmoraTimer::timeout, this, &VelmoraComPort::reopen);
}

VelmoraComPort::~VelmoraComPort() = default;

bool VelmoraComPort::isOpen() const
{
    return line->isOpen();
}

bool VelmoraComPort::start()
{
    reopenTimer->stop();
    // A closed line is made anew for the configured name.
    if (!line->isOpen()) {
        line = ReceiverLine::forName(settings.portName.toUtf8().toStdString());
        lineExchange.setLine(*line);
    }
    lineExchange.setTiming(settings.timing);
    if (VelmoraPortOpening::settingsIgnored(*line, settings))
        emit reportSignal(VelmoraPortOpening::ignoredSettingsReport(settings.portName));
    forgetFailure();
    return tryOpen();
}

void VelmoraComPort::reopen()
{
    if (!isOpen())
        tryOpen();
}

void VelmoraComPort::forgetFailure()
{
    reportedFailureStep = -1;
    reportedFailureReason.clear();
}

bool VelmoraComPort::tryOpen()
{
    // The success lines wait until the whole sequence succeeded or failed,
    // so that a retry that fails like the last one says nothing at all.
    QVector<VelmoraComReport> succeeded;
    const auto &steps = VelmoraPortOpening::steps();
    for (std::size_t index = 0; index < steps.size(); ++index) {
        const VelmoraPortOpenStep &step = steps[index];
        if (step.call(*line, settings)) {
            succeeded << step.success.report(settings.portName);
            continue;
        }
        const QString reason = QString::fromStdString(line->lastErrorText());
        // Half an open is no open: a port left open with the wrong settings
        // would take event lines it garbles.
        line->close();
        reopenTimer->start(qMax(0, settings.timing.reopenMs));
        if (int(index) == reportedFailureStep && reason == reportedFailureReason)
            return false;
        reportedFailureStep = int(index);
        reportedFailureReason = reason;
        emit closedSignal(reason);
        for (const VelmoraComReport &report : qAsConst(succeeded))
            emit reportSignal(report);
        emit reportSignal(step.failure.report(settings.portName).plain(QStringLiteral(" (") + reason + QLatin1Char(')')));
        return false;
    }
    forgetFailure();
    for (const VelmoraComReport &report : qAsConst(succeeded))
        emit reportSignal(report);
    emit reportSignal(VelmoraPortOpening::readyLine.report(settings.portName));
    emit openedSignal();
    return true;
}

void VelmoraComPort::lose()
{
    const QString reason = QString::fromStdString(line->lastErrorText());
    emit reportSignal(VelmoraComReport(VelmoraComReport::Short)
                          .translated(QT_TRANSLATE_NOOP("VelmoraCom", " Lost the port "))
                          .plain(settings.portName)
                          .plain(QStringLiteral(" (") + reason + QLatin1Char(')'))
                          .translated(QT_TRANSLATE_NOOP("VelmoraCom", "; held events wait until it opens again.")));
    line->close();
    // Closed before it is said, so that a switch to the other output that
    // follows finds this one closed.
    emit closedSignal(reason);
    forgetFailure();
    reopenTimer->start(qMax(0, settings.timing.reopenMs));
}

void VelmoraComPort::close()
{
    reopenTimer->stop();
    emit closedSignal(QCoreApplication::translate("VelmoraCom", "closed for new settings"));
    if (isOpen()) {
        line->close();
        emit reportSignal(VelmoraPortOpening::closedLine.report(settings.portName));
    } else {
        emit reportSignal(VelmoraPortOpening::notOpenLine.report(settings.portName));
    }
}
