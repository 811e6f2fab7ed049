#include "signalwatcher.h"
#include "station.h"
#include "stationoptions.h"
#include "stationport.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumari-station"));

    StationOptions options;
    QString error;
    const int parsed = StationOptions::parse(QCoreApplication::arguments(), &options, &error);
    if (parsed != StationOptions::kContinue) {
        if (!error.isEmpty())
            QTextStream(stderr) << "lumari-station: " << error << "\nTry --help.\n";
        return parsed;
    }

    StationPort port;
    bool opened = false;
    if (options.listenPort >= 0)
        opened = port.listenTcp(quint16(options.listenPort));
    else if (options.devicePath.isEmpty())
        opened = port.createPseudoTerminal(options.linkPath);
    else
        opened = port.openDevice(options.devicePath, options.baudRate);
    if (!opened) {
        QTextStream(stderr) << "lumari-station: " << port.errorString() << '\n';
        return Station::PortFailed;
    }

    SignalWatcher signalWatcher;
    Station station(options, port);
    QObject::connect(&signalWatcher, &SignalWatcher::terminationRequested, &station,
                     [&station] { station.stop(Station::Done); });
    QObject::connect(&station, &Station::finished, &application, &QCoreApplication::exit, Qt::QueuedConnection);
    station.start();
    return QCoreApplication::exec();
}
