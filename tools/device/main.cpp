#include "deviceconnection.h"
#include "deviceoptions.h"
#include "devicereport.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QTextStream>

#include <memory>
#include <vector>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumari-device"));

    DeviceOptions options;
    QString error;
    const int parsed = DeviceOptions::parse(QCoreApplication::arguments(), &options, &error);
    if (parsed != DeviceOptions::kContinue) {
        if (!error.isEmpty())
            QTextStream(stderr) << "lumari-device: " << error << "\nTry --help.\n";
        return parsed;
    }

    const DeviceReport report(options.json);
    std::vector<std::unique_ptr<DeviceConnection>> connections;
    int running = options.connections;
    int firstFailure = DeviceConnection::Ok;
    for (int number = 1; number <= options.connections; ++number) {
        auto connection = std::make_unique<DeviceConnection>(number, options, report);
        DeviceConnection *raw = connection.get();
        QObject::connect(raw, &DeviceConnection::finished, &application, [&, raw] {
            if (firstFailure == DeviceConnection::Ok)
                firstFailure = raw->outcome();
            if (--running == 0)
                QCoreApplication::quit();
        });
        connections.push_back(std::move(connection));
    }
    for (auto &connection : connections)
        connection->start();
    QCoreApplication::exec();

    int sent = 0;
    int acknowledged = 0;
    int failed = 0;
    for (const auto &connection : connections) {
        sent += connection->eventsSent();
        acknowledged += connection->eventsAcknowledged();
        failed += connection->outcome() == DeviceConnection::Ok ? 0 : 1;
    }
    report.print(QStringLiteral("summary: %1 connection(s), %2 event(s) sent, %3 acknowledged, %4 connection(s) "
                                "failed, exit %5")
                     .arg(options.connections)
                     .arg(sent)
                     .arg(acknowledged)
                     .arg(failed)
                     .arg(firstFailure),
                 {{QStringLiteral("step"), QStringLiteral("summary")},
                  {QStringLiteral("connections"), options.connections},
                  {QStringLiteral("sent"), sent},
                  {QStringLiteral("acknowledged"), acknowledged},
                  {QStringLiteral("failed"), failed},
                  {QStringLiteral("exit"), firstFailure}});
    return firstFailure;
}
