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

QString VelmoraLineStateText::outputText(SVelmoraLineState::Kind kind, const QDateTime &since,
                                         const QString &reason, const QDateTime &now)
{
    switch (kind) {
    case SVelmoraLineState::PortClosed:
        return tr("port closed (%1)").arg(reason);
    case SVelmoraLineState::PortOpen:
        return tr("port open, no answer yet");
    case SVelmoraLineState::Answering:
        return tr("answering");
    case SVelmoraLineState::NotAnswering:
        return tr("not answering since %1").arg(sinceText(since, now));
    case SVelmoraLineState::RefusingEvents:
        return tr("refuses events since %1").arg(sinceText(since, now));
    }
    return QString();
}

QString VelmoraLineStateText::text(const SVelmoraLineState &state, const QDateTime &now)
{
    QString text;
    if (!state.fallbackName.isEmpty()) {
        const QString primary = outputText(state.kind, state.since, state.reason, now);
        const QString fallback = outputText(state.fallbackKind, state.fallbackSince, state.fallbackReason, now);
        text = state.onFallback ? tr("Line: fallback %1 %2, primary %3").arg(state.fallbackName, fallback, primary)
                                : tr("Line: %1, fallback %2 %3").arg(primary, state.fallbackName, fallback);
        if (state.setAside > 0)
            text += tr(", set aside: %1").arg(state.setAside);
        return text;
    }
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
