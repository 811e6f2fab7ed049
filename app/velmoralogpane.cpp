#include "velmoralogpane.h"

#include <QTextCursor>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int kBatchIntervalMs = 1000 / VelmoraLogPane::kUpdatesPerSecond;

} // namespace

VelmoraLogPane::VelmoraLogPane(QWidget *parent)
    : QTextEdit(parent)
    , batchTimer(new QTimer(this))
{
    setReadOnly(true);
    // A read-only pane has nothing to undo; the history would only grow.
    setUndoRedoEnabled(false);
    batchTimer->setSingleShot(true);
    connect(batchTimer, &QTimer::timeout, this, &VelmoraLogPane::flushWaitingLines);
    sinceLastBatch.start();
}

void VelmoraLogPane::setClock(Clock fake)
{
    clock = fake;
}

void VelmoraLogPane::addLine(const QString &text)
{
    waiting.append({clock ? clock().toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch(), text});
    if (!batchTimer->isActive()) {
        const qint64 wait = kBatchIntervalMs - sinceLastBatch.elapsed();
        batchTimer->start(int(std::max<qint64>(0, wait)));
    }
}

void VelmoraLogPane::flushWaitingLines()
{
    batchTimer->stop();
    sinceLastBatch.restart();
    if (waiting.isEmpty())
        return;

    // Only the lines after the last emptying of this batch stay on the
    // pane; the ones before it would be wiped before anyone saw them.
    bool emptyFirst = false;
    int firstShown = 0;
    int count = linesOnPage;
    for (int i = 0; i < waiting.size(); ++i) {
        if (count == kMaxLines) {
            emptyFirst = true;
            firstShown = i;
            count = 0;
        }
        ++count;
    }
    linesOnPage = count;

    QString batch;
    for (int i = firstShown; i < waiting.size(); ++i) {
        if (i > firstShown)
            batch += QLatin1Char('\n');
        batch += stamp(waiting.at(i).reportedAtMs);
        batch += QLatin1Char(' ');
        batch += waiting.at(i).text;
    }
    waiting.clear();

    if (emptyFirst)
        emptyPage();
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    if (pageHasLines)
        cursor.insertBlock();
    // One insertion for the whole batch: the line breaks become paragraphs.
    cursor.insertText(batch);
    pageHasLines = true;
    // The newest line in view.
    setTextCursor(cursor);
    ++updates;
}

void VelmoraLogPane::startNewPage()
{
    flushWaitingLines();
    emptyPage();
}

void VelmoraLogPane::emptyPage()
{
    QTextEdit::clear();
    pageHasLines = false;
}

QString VelmoraLogPane::stamp(qint64 reportedAtMs)
{
    const qint64 second = reportedAtMs / 1000;
    if (second != stampedSecond) {
        stampedSecond = second;
        stampedText = QDateTime::fromMSecsSinceEpoch(reportedAtMs, Qt::LocalTime).toString(Qt::TextDate);
    }
    return stampedText;
}
