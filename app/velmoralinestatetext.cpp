#include "velmoralinestatetext.h"

namespace {

QString sinceText(const QDateTime &since, const QDateTime &now)
{
    const QDateTime local = since.toLocalTime();
    if (local.date() == now.toLocalTime().date())
        return local.toString(QStringLiteral("hh:mm"));
    return local.toString(QStringLiteral("dd.MM.yyyy hh:mm"));
}

} // namespace

QString VelmoraLineStateText::text(const SVelmoraLineState &state, const QDateTime &now)
{
    QString text;
    switch (state.kind) {
    case SVelmoraLineState::PortClosed:
        text = tr("Line: port closed (%1)").arg(state.reason);
        break;
    case SVelmoraLineState::PortOpen:
        text = tr("Line: port open, no answer yet");
        break;
    case SVelmoraLineState::Answering:
        text = tr("Line: answering");
        break;
    case SVelmoraLineState::NotAnswering:
        text = tr("Line: not answering since %1").arg(sinceText(state.since, now));
        break;
    case SVelmoraLineState::RefusingEvents:
        text = tr("Line: refuses events since %1").arg(sinceText(state.since, now));
        break;
    }
    if (state.setAside > 0)
        text += tr(", set aside: %1").arg(state.setAside);
    return text;
}
