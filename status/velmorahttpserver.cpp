#include "velmorahttpserver.h"

#include <httplib.h>

#include <chrono>
#include <utility>
#include <vector>

struct VelmoraHttpServer::Routes
{
    std::vector<std::pair<std::string, Handler>> gets;
    std::vector<std::pair<std::string, PostHandler>> posts;
};

class HttpServerImpl
{
public:
    httplib::Server server;
};

namespace {

const int kStartWaitMs = 5000;

void answer(httplib::Response &response, const VelmoraHttpServer::Reply &reply)
{
    response.status = reply.status;
    response.set_content(reply.body, reply.contentType.c_str());
    // The page and its data change from one request to the next.
    response.set_header("Cache-Control", "no-store");
    response.set_header("X-Content-Type-Options", "nosniff");
}

} // namespace

VelmoraHttpServer::VelmoraHttpServer()
    : routes(std::make_unique<Routes>())
{
}

VelmoraHttpServer::~VelmoraHttpServer()
{
    stop();
}

void VelmoraHttpServer::get(const std::string &path, Handler handler)
{
    routes->gets.emplace_back(path, std::move(handler));
}

void VelmoraHttpServer::post(const std::string &path, PostHandler handler)
{
    routes->posts.emplace_back(path, std::move(handler));
}

bool VelmoraHttpServer::start(const QString &address, int port, QString *error)
{
    stop();
    impl = std::make_unique<HttpServerImpl>();
    httplib::Server &server = impl->server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    server.set_payload_max_length(kMaxRequestBodyBytes);
    server.set_read_timeout(kReadTimeoutSeconds, 0);
    server.set_write_timeout(kWriteTimeoutSeconds, 0);
    server.set_keep_alive_timeout(kReadTimeoutSeconds);
    server.set_keep_alive_max_count(100);
    for (const auto &route : routes->gets) {
        const Handler handler = route.second;
        server.Get(route.first, [handler](const httplib::Request &, httplib::Response &response) {
            answer(response, handler());
        });
    }
    for (const auto &route : routes->posts) {
        const PostHandler handler = route.second;
        server.Post(route.first, [handler](const httplib::Request &request, httplib::Response &response) {
            answer(response, handler(request.body));
        });
    }

    const std::string host = address.toStdString();
    const bool bound = port == 0 ? (boundPort = server.bind_to_any_port(host)) > 0
                                 : server.bind_to_port(host, port);
    if (!bound) {
        if (error)
            *error = QStringLiteral("cannot bind the address (in use, or not an address of this machine)");
        impl.reset();
        boundPort = 0;
        return false;
    }
    if (port != 0)
        boundPort = port;
    listenerThread = std::thread([this] { impl->server.listen_after_bind(); });
    // A stop() that came before the loop runs would find nothing to stop
    // and wait for ever, so start() returns once it runs.
    for (int waited = 0; !impl->server.is_running() && waited < kStartWaitMs; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void VelmoraHttpServer::stop()
{
    if (impl)
        impl->server.stop();
    if (listenerThread.joinable())
        listenerThread.join();
    impl.reset();
    boundPort = 0;
}

bool VelmoraHttpServer::isRunning() const
{
    return impl && listenerThread.joinable();
}
