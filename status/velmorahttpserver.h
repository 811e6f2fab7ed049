#ifndef VELMORAHTTPSERVER_H
#define VELMORAHTTPSERVER_H

#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <thread>

class HttpServerImpl;

// The HTTP listener of the status endpoint, on threads of its own: one that
// accepts and a small pool that answers. The answers come from the callbacks,
// which read only atomics and copies, so a slow or hostile client ties up at
// most these threads, never a device's ACK or the serial line. Requests are
// bounded in size and in time.
class VelmoraHttpServer
{
public:
    struct Reply
    {
        int status = 200;
        std::string contentType;
        std::string body;
    };
    using Handler = std::function<Reply()>;
    // Gets the request's body; answers with the reply.
    using PostHandler = std::function<Reply(const std::string &body)>;

    static constexpr int kWorkerThreads = 2;
    static constexpr int kMaxRequestBodyBytes = 16 * 1024;
    static constexpr int kReadTimeoutSeconds = 5;
    static constexpr int kWriteTimeoutSeconds = 5;

    VelmoraHttpServer();
    ~VelmoraHttpServer();
    VelmoraHttpServer(const VelmoraHttpServer &) = delete;
    VelmoraHttpServer &operator=(const VelmoraHttpServer &) = delete;

    // Before start(): the answer to GET (or POST) on the path.
    void get(const std::string &path, Handler handler);
    void post(const std::string &path, PostHandler handler);

    // Binds and starts listening. False, with the system's reason, when the
    // address cannot be bound. Port 0 takes a free port (see port()).
    bool start(const QString &address, int port, QString *error);
    // Closes the listener and waits for the answers under way.
    void stop();
    bool isRunning() const;
    int port() const { return boundPort; }

private:
    struct Routes;
    std::unique_ptr<Routes> routes;
    std::unique_ptr<HttpServerImpl> impl;
    std::thread listenerThread;
    int boundPort = 0;
};

#endif // VELMORAHTTPSERVER_H
