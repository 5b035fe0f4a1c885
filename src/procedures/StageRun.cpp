#include "procedures/StageRun.h"

#include "config/ConfigKeys.h"
#include "link/ResponseCapture.h"
#include "link/RouterLogin.h"

namespace vornix {

namespace {

std::atomic<int>& busyFlag(RunFlags& flags, Stage stage) {
    return stage == Stage::MacWriting ? flags.macBusy : stage == Stage::BootUpdate ? flags.bootBusy : flags.firmwareBusy;
}

std::atomic<int>& succeededFlag(RunFlags& flags, Stage stage) {
    return stage == Stage::MacWriting   ? flags.macSucceeded
           : stage == Stage::BootUpdate ? flags.bootSucceeded
                                        : flags.firmwareSucceeded;
}

}  // namespace

StageRun::StageRun(StationContext& context, Stage stage)
    : context_(context), stage_(stage), busy_(busyFlag(context.flags, stage)),
      succeeded_(succeededFlag(context.flags, stage)), config_(context.profile),
      pacer_(context.pause, promptPacing(config_.read(keys::pacing).text)) {
    busy_ = 1;
    succeeded_ = 0;
}

void StageRun::log(const std::string& line) { context_.console.appendLog(line.substr(0, maxLineLength)); }

void StageRun::noteFailure(const std::string& line) {
    context_.note([&](RunRecord& record) { record.stageFailed(stage_, line); });
}

int StageRun::fail(const std::string& line) {
    noteFailure(line);
    log(line);
    closeRouter();
    context_.console.enableStart(true);
    busy_ = 0;
    return 0;
}

int StageRun::end(bool succeeded, std::initializer_list<const char*> closingLines) {
    context_.console.enableStart(true);
    for (const char* line : closingLines) log(line);
    if (succeeded) succeeded_ = 1;  // before busy: the next stage's gate reads it once busy is 0
    busy_ = 0;
    return succeeded ? 1 : 0;
}

bool StageRun::openRouter(const std::string& address, const std::string& noConnection, const std::string& noLogin) {
    channelOpen_ = true;  // a failed connect still holds a socket: close() releases it
    if (!channel_.connect(address, 23, context_.port)) {
        fail(noConnection);
        return false;
    }
    if (context_.routerReached) {
        const std::string elsewhere = context_.routerReached();
        if (!elsewhere.empty()) {
            fail(elsewhere);
            return false;
        }
    }
    if (!RouterLogin(context_.profile, context_.telnetWait, context_.pause, &pacer_).login(channel_)) {
        fail(noLogin);
        return false;
    }
    return true;
}

bool StageRun::sendCommand(const std::string& command, bool logged) {
    if (command.size() > maxLineLength) {
        fail("Command too long for the router (over 1023 characters): " + command.substr(0, command.find(' ')) +
             " ...");
        return false;
    }
    if (logged) log(command);
    channel_.send(command);
    return true;
}

std::optional<std::string> StageRun::readBack(const std::string& command, int pauseMs, int collectMs) {
    if (!sendCommand(command)) return std::nullopt;
    afterCommand(pauseMs);
    ResponseCapture& capture = ResponseCapture::instance();
    capture.clear();
    pacer_.collect(channel_, collectMs);
    afterCommand(2000);
    closeRouter();
    // As it stood when the connection closed, with what was still in its
    // 50 ms: a collector just finishing cannot change it under the searches.
    return capture.arrivedText();
}

std::optional<std::string> StageRun::answerTo(const std::string& command, int limitMs,
                                              const std::function<bool(const std::string&)>& done) {
    if (!sendCommand(command)) return std::nullopt;
    ResponseCapture& capture = ResponseCapture::instance();
    capture.clear();
    waitOnChannel(channel_, limitMs, [&] { return channel_.closedByRouter() || done(capture.arrivedText()); });
    return capture.arrivedText();
}

void StageRun::closeRouter() {
    if (channelOpen_) channel_.close();
    channelOpen_ = false;
}

}  // namespace vornix
