#pragma once

#include <functional>
#include <memory>
#include <string>

#include "config/RouterPort.h"

namespace vornix {

namespace detail {
struct Connection;
}

// The station's telnet command channel: a plain TCP connection to the
// router's telnet port, no option negotiation. Copies share the connection;
// only close() releases it, never a destructor.
class TelnetChannel {
public:
    // 1 when connected, 0 when sockets cannot start, no socket can be made,
    // the host is neither a dotted address nor resolvable, or the connection
    // is refused or times out. A failed connect keeps its socket until close().
    // via: on a gang station, the network port the connection must use.
    int connect(const std::string& host, int port, const RouterPort& via = RouterPort());
    // One send of the text up to its first NUL; the count sent or -1.
    int send(const std::string& text) const;
    // Shuts the connection both ways and closes it; legal on a channel that
    // never connected. Collectors on it end; none reads the socket afterwards.
    void close();
    bool connected() const;
    // The router ended the connection: a receive on it saw the end.
    bool closedByRouter() const;

private:
    friend int collectUntil(const TelnetChannel& channel, int milliseconds, const std::function<bool()>& done);
    friend bool waitForRouterClose(const TelnetChannel& channel, int milliseconds);
    friend bool waitOnChannel(const TelnetChannel& channel, int milliseconds, const std::function<bool()>& done);
    std::shared_ptr<detail::Connection> connection_;
};

// Starts a collector on the channel and waits for it at most milliseconds,
// less when the router closes the connection. The collector keeps handing
// whatever arrives to the ResponseCapture until the connection ends. Always 1.
int collectFor(const TelnetChannel& channel, int milliseconds);
// The same wait, ended early once done() holds (checked whenever the
// capture changes).
int collectUntil(const TelnetChannel& channel, int milliseconds, const std::function<bool()>& done);
// Waits at most milliseconds for done() to hold, without a collector of its
// own (one is started if none is receiving on the channel). True when it held.
bool waitOnChannel(const TelnetChannel& channel, int milliseconds, const std::function<bool()>& done);

// Waits at most milliseconds for the router to end the connection (a
// collector is started if none is receiving). True when it did, or when
// there is no connection.
bool waitForRouterClose(const TelnetChannel& channel, int milliseconds);

// Waits, at most timeoutMs, until no collector of this process is left:
// they end with their connections. True when none is. A process calls it
// before it ends, so that no thread is inside the socket library then.
bool awaitCollectors(int timeoutMs);

}  // namespace vornix
