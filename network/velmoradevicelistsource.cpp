#include "velmoradevicelistsource.h"

#include "velmoradevicereport.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>

#include <utility>

VelmoraDeviceListSource::VelmoraDeviceListSource(QObject *parent) : QObject(parent) {}

void VelmoraDeviceListSource::setPath(const QString &path)
{
    listPath = path;
}

void VelmoraDeviceListSource::setReporter(SVelmoraLogLine::Sink sink)
{
    report = std::move(sink);
}

void VelmoraDeviceListSource::watch()
{
    if (listPath.isEmpty() || watcher)
        return;
    watcher = new QFileSystemWatcher(this);
    watcher->addPath(QFileInfo(listPath).absolutePath());
    connect(watcher, &QFileSystemWatcher::directoryChanged, this, &VelmoraDeviceListSource::changedSignal);
    connect(watcher, &QFileSystemWatcher::fileChanged, this, &VelmoraDeviceListSource::changedSignal);
}

VelmoraDeviceList::Parsed VelmoraDeviceListSource::read()
{
    const QFileInfo info(listPath);
    exists = !listPath.isEmpty() && info.exists();
    modified = exists ? info.lastModified() : QDateTime();
    size = exists ? info.size() : -1;
    VelmoraDeviceList::Parsed list;
    if (!exists)
        return list;
    if (watcher && !watcher->files().contains(listPath))
        watcher->addPath(listPath);
    QFile file(listPath);
    if (!file.open(QIODevice::ReadOnly)) {
        report(VelmoraDeviceReport::listUnreadable(listPath, file.errorString()));
        return list;
    }
    list = VelmoraDeviceList::parse(file.readAll());
    for (const VelmoraDeviceList::Problem &problem : qAsConst(list.problems))
        report(VelmoraDeviceReport::listRowSkipped(listPath, problem.lineNumber, problem.reason));
    report(VelmoraDeviceReport::listRead(listPath, list.rows.size()));
    return list;
}

bool VelmoraDeviceListSource::changedSinceRead() const
{
    const QFileInfo info(listPath);
    const bool existsNow = !listPath.isEmpty() && info.exists();
    return existsNow != exists || (existsNow && (info.lastModified() != modified || info.size() != size));
}
