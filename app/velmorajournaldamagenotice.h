#ifndef VELMORAJOURNALDAMAGENOTICE_H
#define VELMORAJOURNALDAMAGENOTICE_H

#include "velmoraeventjournal.h"

#include <QWidget>

class QLabel;
class QPushButton;

// The status bar's report of a damaged event journal: what was found, and a
// button with which the operator acknowledges it. It stays until then; the
// acknowledgement is written to the day log.
class VelmoraJournalDamageNotice : public QWidget
{
    Q_OBJECT

public:
    VelmoraJournalDamageNotice(const VelmoraEventJournal::Damage &damage, QWidget *parent = nullptr);

    // The day log's line (English, translated false) or the window's.
    static QString reportLine(const VelmoraEventJournal::Damage &damage, const QString &journalPath,
                              bool translated);

    QLabel *text() const { return label; }
    QPushButton *acknowledgeButton() const { return button; }

signals:
    void acknowledged();

private slots:
    void acknowledgeSlot();

private:
    QLabel *label = nullptr;
    QPushButton *button = nullptr;
};

#endif // VELMORAJOURNALDAMAGENOTICE_H
