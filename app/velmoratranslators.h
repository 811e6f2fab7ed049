#ifndef VELMORATRANSLATORS_H
#define VELMORATRANSLATORS_H

#include <QList>
#include <QString>

class QTranslator;

// Loads "velmora_ru.qm", "velmoracomlib_ru.qm" and "velmoranetworklib_ru.qm"
// from the directory, in that order, and installs each one that loads; a
// missing or unreadable file is skipped without a word. Returns the installed
// translators, which have no parent and are meant to live as long as the
// process.
QList<QTranslator *> installVelmoraTranslators(const QString &directory);

#endif // VELMORATRANSLATORS_H
