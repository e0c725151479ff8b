#include "serve_http.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include <httplib.h>

#include "errors.h"
#include "exporter.h"

namespace tarn {

struct HttpServer::Impl {
    ServeConfig config;
    httplib::Server server;
    uint16_t port = 0;
    std::atomic<bool> listenReturned{false};
    std::thread thread;
};

namespace {

// Devices read a file in one piece; a slice this size keeps a large image
// from being copied whole into the socket's buffer.
constexpr size_t kSlice = size_t{64} * 1024;

void serve(HttpServer::Impl &impl, const httplib::Request &req, httplib::Response &res) {
    const std::string name = req.path.substr(std::min<size_t>(1, req.path.size()));
    const auto served = std::find_if(impl.config.files.begin(), impl.config.files.end(),
                                     [&](const ServedFile &f) { return f.name == name; });
    if (req.path.empty() || req.path[0] != '/' || served == impl.config.files.end()) {
        res.status = 404;
        return;
    }
    const std::shared_ptr<const std::string> content = served->content;
    res.set_content_provider(content->size(), "application/octet-stream",
                             [content](size_t offset, size_t length, httplib::DataSink &sink) {
                                 return sink.write(content->data() + offset,
                                                   std::min(length, kSlice));
                             });
}

}  // namespace

HttpServer::HttpServer(ServeConfig config) : impl_(std::make_unique<Impl>()) {
    Impl &impl = *impl_;
    impl.config = std::move(config);
    // cpp-httplib reports only that binding failed; a socket of our own
    // finds the reason (and the port, when any port will do) first.
    const int probe = bindServerSocket(SOCK_STREAM, impl.config.address, impl.config.port, "HTTP");
    impl.port = boundPort(probe);
    close(probe);
    configureServer(impl.server);
    impl.server.set_payload_max_length(0);
    const auto handler = [&impl](const httplib::Request &req, httplib::Response &res) {
        serve(impl, req, res);
    };
    impl.server.Get(".*", handler);
    if (!impl.server.bind_to_port(impl.config.address, impl.port))
        throw UsageError("the HTTP server cannot listen on " + impl.config.address + ":" +
                         std::to_string(impl.port) + ".");
    impl.thread = std::thread([&impl] {
        impl.server.listen_after_bind();
        impl.listenReturned = true;
    });
}

HttpServer::~HttpServer() {
    stop();
}

uint16_t HttpServer::port() const {
    return impl_->port;
}

void HttpServer::stop() {
    if (!impl_->thread.joinable())
        return;
    stopServer(impl_->server, impl_->listenReturned);
    impl_->thread.join();
}

}  // namespace tarn
