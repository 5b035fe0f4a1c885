#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "view/LineView.h"

namespace vornix::view {

// Where and what the line view serves.
struct ServeOptions {
    std::string address = "127.0.0.1";
    int port = 8080;
    std::string stationDirectory;  // holds the journal and transcripts/
    std::string database;          // the line database's connection string, or empty
    std::string station;           // the station's name in the line, with a database
    int timeoutSeconds = 10;       // each database call's deadline
    std::vector<std::string> allowHosts;  // names besides the address and localhost (--allow-host)
    LineView::Options::StationUnits stationUnits = nullptr;  // without a database: the station's units
};

// "[ADDRESS:]PORT" into options; false and why when it is not one.
bool parseListen(const std::string& text, ServeOptions& options, std::string& why);

// Whether a request's Host header names the view: one of names (compared
// without regard to case; an IPv6 address with or without its brackets)
// with the view's port, which a Host without one means to be 80. A page
// of another site that rebinds its own name to this address sends that name.
bool hostAllowed(std::string_view host, const std::vector<std::string>& names, int port);

// Serves the read-only line view until SIGINT or SIGTERM. 0 when stopped,
// 1 when the address cannot be bound (said on err).
int serve(const ServeOptions& options, std::FILE* out, std::FILE* err);

}  // namespace vornix::view
