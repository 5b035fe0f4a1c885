#include "view/ViewServer.h"

#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <thread>

#include "view/Assets.h"
#include "view/Connections.h"
#include "view/LineView.h"

namespace vornix::view {

namespace {

// What the pages may load: only what this program serves.
constexpr char securityPolicy[] =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; object-src 'none'; "
    "base-uri 'none'; form-action 'self'; frame-ancestors 'none'";

void secure(httplib::Response& response) {
    response.set_header("Content-Security-Policy", securityPolicy);
    response.set_header("X-Content-Type-Options", "nosniff");
    response.set_header("Cache-Control", "no-store");
}

void sendJson(httplib::Response& response, int status, const nlohmann::json& body) {
    response.status = status;
    // Records are UTF-8, but a database may hold anything: never let one byte stop an answer.
    response.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                         "application/json; charset=utf-8");
    secure(response);
}

bool loopback(const std::string& address) {
    return address == "localhost" || address == "::1" || address.rfind("127.", 0) == 0;
}

// What one client may take of the view (docs/line.md, The line view).
constexpr ConnectionLimits limits{512, 16384, 10, 15, 10, 100, 8};

// Set by a refusal that leaves a request's body unread: the connection
// closes after the answer, or the body would be read as the next request.
thread_local bool closeAfterAnswer = false;

// The library's server, its connections kept by Connections: accepting
// only hands the socket over, and a worker parses and answers one request
// whose head is complete.
class HttpServer : public httplib::Server {
public:
    HttpServer()
        : connections_(limits, [this](httplib::Stream& stream, bool last, bool& close) {
              closeAfterAnswer = false;
              const bool answered = process_request(stream, last, close, nullptr);
              close = close || closeAfterAnswer;
              return answered;
          }) {
        new_task_queue = [] { return new AtOnce; };
    }
    ~HttpServer() override { connections_.stop(); }
    void stopConnections() { connections_.stop(); }
    // The library listens with a queue of 5 connections not yet accepted:
    // a burst of clients beyond it waits a second or more for its SYN to be
    // sent again. Listening again on a bound socket sets a longer queue.
    bool lengthenQueue() { return ::listen(svr_sock_, static_cast<int>(limits.connections)) == 0; }

private:
    struct AtOnce : httplib::TaskQueue {
        void enqueue(std::function<void()> task) override { task(); }
        void shutdown() override {}
    };
    bool process_and_close_socket(socket_t socket) override {
        connections_.adopt(socket);
        return true;
    }
    Connections connections_;
};

httplib::Server::HandlerResponse refuse(httplib::Response& response, int status, const char* text) {
    closeAfterAnswer = true;
    response.status = status;
    response.set_content(text, "text/plain; charset=utf-8");
    secure(response);
    return httplib::Server::HandlerResponse::Handled;
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view unbracketed(std::string_view name) {
    return name.size() > 2 && name.front() == '[' && name.back() == ']' ? name.substr(1, name.size() - 2) : name;
}

}  // namespace

bool hostAllowed(std::string_view host, const std::vector<std::string>& names, int port) {
    std::string_view name = host, portText;
    bool hasPort = false;
    if (!host.empty() && host.front() == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos) return false;
        name = host.substr(1, close - 1);
        const std::string_view rest = host.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') return false;
        hasPort = !rest.empty();
        if (hasPort) portText = rest.substr(1);
    } else if (const std::size_t colon = host.find(':'); colon != std::string_view::npos) {
        if (host.find(':', colon + 1) != std::string_view::npos) return false;  // an IPv6 address needs brackets
        name = host.substr(0, colon);
        portText = host.substr(colon + 1);
        hasPort = true;
    }
    long given = 80;
    if (hasPort) {
        if (portText.empty() || portText.size() > 5 ||
            !std::all_of(portText.begin(), portText.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        given = std::strtol(std::string(portText).c_str(), nullptr, 10);
    }
    if (name.empty() || given != port) return false;
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& allowed) { return sameName(unbracketed(allowed), name); });
}

bool parseListen(const std::string& text, ServeOptions& options, std::string& why) {
    std::string address = options.address, port = text;
    const std::size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        address = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (address.size() > 2 && address.front() == '[' && address.back() == ']')
            address = address.substr(1, address.size() - 2);
        if (address.empty() || address.find_first_of(" \t[]/") != std::string::npos) {
            why = "not an address: " + text.substr(0, colon);
            return false;
        }
    }
    char* end = nullptr;
    const long value = port.empty() || port.size() > 5 ? 0 : std::strtol(port.c_str(), &end, 10);
    if (port.empty() || port.size() > 5 || *end != '\0' || value < 1 || value > 65535) {
        why = "not a port from 1 to 65535: " + port;
        return false;
    }
    options.address = address;
    options.port = static_cast<int>(value);
    return true;
}

int serve(const ServeOptions& options, std::FILE* out, std::FILE* err) {
    // Stopped by a signal that one thread waits for: every other thread,
    // the server's and the database's, leaves SIGINT and SIGTERM to it.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    LineView view({options.stationDirectory, options.database, options.timeoutSeconds, options.station, 30,
                   options.stationUnits});
    HttpServer server;
    // Browsers keep their connections: without this each answer waits for
    // the peer's delayed acknowledgement.
    server.set_tcp_nodelay(true);
    // What the answers' Keep-Alive header says; Connections holds to it.
    server.set_keep_alive_timeout(limits.idleSeconds);
    server.set_keep_alive_max_count(static_cast<std::size_t>(limits.requestsPerConnection));
    server.set_payload_max_length(0);
    // Only the view's own names: a page elsewhere that points its own name
    // at this address (DNS rebinding) sends that name, and reads nothing.
    std::vector<std::string> names = {options.address, "localhost"};
    names.insert(names.end(), options.allowHosts.begin(), options.allowHosts.end());
    server.set_pre_routing_handler([names, port = options.port](const httplib::Request& request,
                                                                 httplib::Response& response) {
        if (request.get_header_value_count("Host") != 1)
            return refuse(response, 400, "a request names its Host, once\n");
        std::vector<std::string> own = names;
        // The address the request came to, as a number, is no other site's name.
        own.push_back(request.local_addr);
        if (request.local_addr.rfind("::ffff:", 0) == 0) own.push_back(request.local_addr.substr(7));  // IPv4 on an IPv6 socket
        if (!hostAllowed(request.get_header_value("Host"), own, port))
            return refuse(response, 403, "this view answers only to its own names (see vornix-cli --allow-host)\n");
        if (request.has_header("Transfer-Encoding") ||
            (request.has_header("Content-Length") && request.get_header_value("Content-Length") != "0"))
            return refuse(response, 413, "the view takes no request body\n");
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // The library's default also shares the port with any other server on
    // it (SO_REUSEPORT), which would split the answers between an old view
    // and a new one: only a port in TIME_WAIT may be bound again.
    server.set_socket_options([](socket_t socket) {
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.Get("/api/.*", [&view](const httplib::Request& request, httplib::Response& response) {
        LineView::Params params;
        for (const auto& [name, value] : request.params) params.emplace(name, value);
        const LineView::Answer answer = view.api(request.path, params);
        sendJson(response, answer.status, answer.body);
    });
    server.Get("/transcripts/(.*)", [&view](const httplib::Request& request, httplib::Response& response) {
        int fd = -1;
        long long size = 0;
        response.status = view.transcript(request.matches[1], fd, size);
        secure(response);
        if (response.status != 200) {
            response.set_content(response.status == 400 ? "not a transcript's name\n" : "no such transcript\n",
                                 "text/plain; charset=utf-8");
            return;
        }
        // Streamed from the file opened, whole, with its size as opened.
        const std::shared_ptr<int> file(new int(fd), [](int* f) {
            ::close(*f);
            delete f;
        });
        response.set_content_provider(
            static_cast<std::size_t>(size), "text/plain; charset=utf-8",
            [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                char buffer[65536];
                const ssize_t n =
                    ::pread(*file, buffer, std::min(length, sizeof buffer), static_cast<off_t>(offset));
                // A file cut shorter since it was opened ends the answer short: the client sees it.
                return n > 0 && sink.write(buffer, static_cast<std::size_t>(n));
            });
    });
    server.Get(".*", [](const httplib::Request& request, httplib::Response& response) {
        const Asset* asset = findAsset(request.path);
        if (!asset) {
            response.status = 404;
            response.set_content("no such page\n", "text/plain; charset=utf-8");
        } else {
            response.set_content(std::string(asset->body), std::string(asset->contentType).c_str());
        }
        secure(response);
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
        sendJson(response, 500, nlohmann::json{{"error", "the answer could not be made"}});
    });

    if (!server.bind_to_port(options.address.c_str(), options.port) || !server.lengthenQueue()) {
        std::fprintf(err, "vornix-cli: cannot serve on %s:%d: the address is not this computer's or the port is taken\n",
                     options.address.c_str(), options.port);
        return 1;
    }
    if (!loopback(options.address))
        std::fprintf(err,
                     "vornix-cli: serving on %s, not on loopback: every computer that reaches this address can "
                     "read the line's records\n",
                     options.address.c_str());
    std::fputs("vornix-cli: reading the records\n", err);
    const std::string problem = view.load();
    if (!problem.empty()) std::fprintf(err, "vornix-cli: line database: %s\n", problem.c_str());
    view.follow();

    std::thread stopper([&server, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
    });
    const bool literal6 = options.address.find(':') != std::string::npos;
    std::fprintf(out, "vornix-cli: serving the line view on http://%s%s%s:%d/ (journal: %s%s)\n",
                 literal6 ? "[" : "", options.address.c_str(), literal6 ? "]" : "", options.port,
                 view.journalPath().c_str(), view.hasDatabase() ? ", line database: yes" : "");
    std::fflush(out);
    const bool listened = server.listen_after_bind();
    server.stopConnections();
    // Ended without a signal: wake the thread that waits for one.
    if (!listened) pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    std::fputs("vornix-cli: the line view stopped\n", err);
    return listened ? 0 : 1;
}

}  // namespace vornix::view
