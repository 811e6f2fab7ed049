#include "velmorajournaldamagenotice.h"

#include "velmoralog.h"

#include <QCoreApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStringList>

namespace {

const char kContext[] = "VelmoraJournalDamageNotice";
const char kDamaged[] = QT_TRANSLATE_NOOP(
    "VelmoraJournalDamageNotice",
    "[Lumari] The event journal %1 is damaged: %2 record(s) could not be read, at offset(s) %3. Alarms may "
    "have been lost. %4");
const char kCopyKept[] = QT_TRANSLATE_NOOP("VelmoraJournalDamageNotice", "The journal as found is kept as %1.");
const char kCopyFailed[] =
    QT_TRANSLATE_NOOP("VelmoraJournalDamageNotice", "A copy of the journal as found could not be made: %1.");
const char kStatus[] = QT_TRANSLATE_NOOP("VelmoraJournalDamageNotice",
                                         "Event journal damaged: %1 record(s) lost, alarms may have been lost");
const char kAcknowledge[] = QT_TRANSLATE_NOOP("VelmoraJournalDamageNotice", "Acknowledge");
const char kAcknowledged[] = "[Lumari] The operator acknowledged the report of the damaged event journal.";

QString sourceText(const char *source, bool translated)
{
    return translated ? QCoreApplication::translate(kContext, source) : QString::fromLatin1(source);
}

} // namespace

VelmoraJournalDamageNotice::VelmoraJournalDamageNotice(const VelmoraEventJournal::Damage &damage, QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    label = new QLabel(sourceText(kStatus, true).arg(damage.records), this);
    label->setStyleSheet(QStringLiteral("color: #b00020; font-weight: bold;"));
    label->setToolTip(reportLine(damage, QString(), true));
    button = new QPushButton(sourceText(kAcknowledge, true), this);
    layout->addWidget(label);
    layout->addWidget(button);
    connect(button, &QPushButton::clicked, this, &VelmoraJournalDamageNotice::acknowledgeSlot);
}

QString VelmoraJournalDamageNotice::reportLine(const VelmoraEventJournal::Damage &damage,
                                               const QString &journalPath, bool translated)
{
    QStringList offsets;
    for (const qint64 offset : damage.offsets)
        offsets << QString::number(offset);
    if (damage.records > damage.offsets.size())
        offsets << QStringLiteral("...");
    const QString copy = damage.keptCopy.isEmpty()
        ? sourceText(kCopyFailed, translated).arg(damage.copyError)
        : sourceText(kCopyKept, translated).arg(QDir::toNativeSeparators(damage.keptCopy));
    return sourceText(kDamaged, translated)
        .arg(QDir::toNativeSeparators(journalPath), QString::number(damage.records),
             offsets.join(QStringLiteral(", ")), copy);
}

void VelmoraJournalDamageNotice::acknowledgeSlot()
{
    VelmoraCommon_LogError(QString::fromLatin1(kAcknowledged));
    hide();
    emit acknowledged();
}
