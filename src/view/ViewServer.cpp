#include "view/ViewServer.h"

#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <cstdlib>
#include <thread>

#include "view/Assets.h"
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

}  // namespace

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

    LineView view({options.stationDirectory, options.database, options.timeoutSeconds, options.station, 30});
    httplib::Server server;
    // Browsers keep their connections: without this each answer waits for
    // the peer's delayed acknowledgement.
    server.set_tcp_nodelay(true);
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
        std::string text;
        response.status = view.transcript(request.matches[1], text);
        if (response.status == 200)
            response.set_content(text, "text/plain; charset=utf-8");
        else
            response.set_content(response.status == 400 ? "not a transcript's name\n" : "no such transcript\n",
                                 "text/plain; charset=utf-8");
        secure(response);
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

    if (!server.bind_to_port(options.address.c_str(), options.port)) {
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
    // Ended without a signal: wake the thread that waits for one.
    if (!listened) pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    std::fputs("vornix-cli: the line view stopped\n", err);
    return listened ? 0 : 1;
}

}  // namespace vornix::view
