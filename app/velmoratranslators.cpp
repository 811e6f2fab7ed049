#include "velmoratranslators.h"

#include <QCoreApplication>
#include <QTranslator>

#include <memory>

QList<QTranslator *> installVelmoraTranslators(const QString &directory)
{
    static const char *const fileNames[] = {"velmora_ru.qm", "velmoracomlib_ru.qm", "velmoranetworklib_ru.qm"};
    QList<QTranslator *> installed;
    for (const char *fileName : fileNames) {
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(QLatin1String(fileName), directory, QString(), QString())
            && QCoreApplication::installTranslator(translator.get()))
            installed << translator.release();
    }
    return installed;
}
