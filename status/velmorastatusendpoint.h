#ifndef VELMORASTATUSENDPOINT_H
#define VELMORASTATUSENDPOINT_H

#include "svelmoradevicesnapshot.h"
#include "svelmoraheldrow.h"

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>

class QTimer;
class VelmoraHttpServer;

// The HTTP status endpoint, made and configured in the GUI thread: GET
// /metrics, /health, / (the operator's page) and /status.json, and POST
// /action for Send again, Release and Admit when a password is set. The
// page's data is a copy kept here under one mutex, replaced from the GUI
// thread as the workers' copies come in; the HTTP threads only copy it out.
// The workers are asked for their copies only while the page is open, that
// is while /status.json was fetched lately: the device records cost the
// network thread a copy of each.
class VelmoraStatusEndpoint : public QObject
{
    Q_OBJECT

public:
    // The page counts as open this long after its last /status.json.
    static constexpr int kPageOpenMs = 10000;

    explicit VelmoraStatusEndpoint(QObject *parent = nullptr);
    ~VelmoraStatusEndpoint() override;

    // "ADDRESS:PORT" from LUMARIHTTP, empty: off. passwordHash from
    // LUMARIHTTPPASSWORD. Stops a running listener first; a non-loopback
    // address without a password is refused. Logs what it did. Returns true
    // when it listens.
    bool apply(const QString &addressAndPort, const QString &passwordHash);
    bool isListening() const;
    int port() const;

    // Splits "ADDRESS:PORT" ("[::1]:8080" for IPv6); false when it is not that.
    static bool parseAddress(const QString &text, QString *address, int *port);
    static bool isLoopback(const QString &address);

signals:
    void logSignal(QString line);
    // Asked every few seconds while listening: the workers' copies.
    void heldRowsWantedSignal(bool wanted);
    void deviceSnapshotRequestSignal();
    // An operator's action from the page, password checked.
    void sendAgainSignal(qint64 key);
    void releaseSignal(qint64 key);
    // A device refused for not being listed, as of the page's copy.
    void admitDeviceSignal(const QString &deviceId);

public slots:
    // The status bar's texts, as the window shows them: connections, held
    // events, line, absent and refused devices, standby.
    void setStatusTexts(const QStringList &texts);
    void setHeldRows(const SVelmoraHeldRows &rows);
    void setDevices(const SVelmoraDeviceSnapshot &snapshot);

private:
    void stop();
    void report(const QString &screenText, const QString &fileText, bool error);
    void refresh();
    void closePage();
    void askWorkers();
    void rebuildStatus();
    QByteArray statusJson() const;
    int actionStatus(const std::string &body);

    std::unique_ptr<VelmoraHttpServer> server;
    QTimer *refreshTimer = nullptr;
    QStringList statusTexts;
    SVelmoraHeldRows heldRows;
    // The devices' rows of /status.json, a JSON array made when a copy
    // comes in.
    QByteArray deviceRowsJson = "[]";
    bool pageOpen = false;
    // The copies came in since the page was opened.
    bool heldRowsIn = false;
    bool devicesIn = false;
    // VelmoraMetrics::monotonicUs() of the last /status.json, 0: never.
    std::atomic<qint64> statusFetchedUs{0};
    std::atomic<bool> pageSeen{false};
    // Guards password, page, status and refused, which the HTTP threads read.
    mutable std::mutex mutex;
    QString password;
    QByteArray page;
    QByteArray status;
    QSet<QString> refusedNotListed;
};

#endif // VELMORASTATUSENDPOINT_H
