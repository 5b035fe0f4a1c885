#pragma once

#include <atomic>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>

#include "config/StationConfig.h"
#include "link/Pacer.h"
#include "link/TelnetChannel.h"
#include "station/StationContext.h"

namespace vornix {

// What every stage does around its own steps: its log lines, its failure
// exit, its connection to the router and the commands sent on it, and the
// flags and Start button it hands back on every way out. A stage reads as
// its steps; this is the rest.
class StageRun {
public:
    // Commands and log lines live in 1024-byte buffers on the router's side.
    static constexpr std::size_t maxLineLength = maxLogLineLength;

    // The stage's own pair of flags: busy 1 and succeeded 0 from here on.
    StageRun(StationContext& context, Stage stage);
    StageRun(const StageRun&) = delete;
    StageRun& operator=(const StageRun&) = delete;

    StationContext& context() { return context_; }
    const StationConfig& config() const { return config_; }
    void pause(int milliseconds) { context_.pause.sleepMs(milliseconds); }
    // The pause after a command sent to the router: with prompt pacing it
    // ends once the router's prompt is back.
    void afterCommand(int milliseconds) { pacer_.afterCommand(channel_, milliseconds); }
    // In prompt pacing, once the router has learned prompt: until the
    // router's prompt is back, at most limitMs, false when it never came.
    // Otherwise the fixed pause of fixedMs.
    bool untilPromptBack(int limitMs, int fixedMs) { return pacer_.untilPromptBack(channel_, limitMs, fixedMs); }
    // Until the router ends the connection, at most milliseconds.
    void untilRouterCloses(int milliseconds) { waitForRouterClose(channel_, milliseconds); }
    // One line of the run log, as far as its buffer reaches.
    void log(const std::string& line);

    // Every failure exit: the line, the connection closed if one is open,
    // Start enabled, busy 0 (succeeded stays 0). Returns 0.
    int fail(const std::string& line);
    // The end of a stage that got through its steps: Start enabled, then
    // the closing lines, then succeeded 1 if it did, then busy 0. Returns
    // 1 or 0 accordingly.
    int end(bool succeeded, std::initializer_list<const char*> closingLines = {});
    // The line that says why a stage that gets to its end did not succeed,
    // for the run's record (a failure exit notes its own).
    void noteFailure(const std::string& line);

    // Connects to the router's telnet port and logs in. False after failing
    // with noConnection or noLogin.
    bool openRouter(const std::string& address, const std::string& noConnection, const std::string& noLogin);
    // Sends a command (logged first when asked), whole or not at all: a
    // command longer than the router's line fails the stage. False then.
    bool sendCommand(const std::string& command, bool logged = false);
    void closeRouter();
    // The read-back both stages end their dialogue with: the command, a
    // pause, the capture cleared, up to collectMs of the router's answer,
    // 2000 ms more, the connection closed. The answer as it stood then;
    // nullopt when the command could not be sent (the stage has failed).
    std::optional<std::string> readBack(const std::string& command, int pauseMs, int collectMs);
    // A command that is not logged, and its answer: the capture cleared as
    // it goes, then up to limitMs until done() holds for what arrived since
    // (the command's echo may be in it), or the router closed the
    // connection. The answer as it stood then; nullopt when the command
    // could not be sent (the stage has failed).
    std::optional<std::string> answerTo(const std::string& command, int limitMs,
                                        const std::function<bool(const std::string&)>& done);

private:
    StationContext& context_;
    Stage stage_;
    std::atomic<int>& busy_;
    std::atomic<int>& succeeded_;
    const StationConfig config_;
    Pacer pacer_;
    TelnetChannel channel_;
    bool channelOpen_ = false;
};

}  // namespace vornix
