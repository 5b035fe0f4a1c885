#include "records/LineClient.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vornix {

struct LineClient::Slot {
    std::unique_ptr<LineDatabase> database;
};

namespace {

using Clock = std::chrono::steady_clock;

// What one call shares with its thread: the thread may outlive the caller's
// wait, so it owns all it touches.
struct Pending {
    std::mutex mutex;
    std::condition_variable done;
    bool answered = false;
    bool givenUp = false;
    LineClient::Answer answer;
};

// Calls of this process whose thread is still waiting for a server that
// did not answer in time, and when the last one was given up. While one
// waits, a new call within twice the timeout fails at once: a run that met a
// silent server ends within its timeout, not once for every call it makes.
std::mutex silentMutex;
std::condition_variable silentGone;  // silentCalls went down
int silentCalls = 0;
Clock::time_point lastGivenUp;

// A thread given up on counts itself out once it has let go of its
// connection. A normal exit unloads the database driver after this file's
// statics are gone: such threads get a moment to leave the driver first.
struct WaitForGivenUpThreads {
    ~WaitForGivenUpThreads() {
        std::unique_lock<std::mutex> lock(silentMutex);
        silentGone.wait_for(lock, std::chrono::seconds(3), [] { return silentCalls == 0; });
    }
} waitForGivenUpThreads;

void givenUpThreadEnds() {
    std::lock_guard<std::mutex> silent(silentMutex);
    --silentCalls;
    silentGone.notify_all();
}

bool serverSilent(Clock::duration patience) {
    std::lock_guard<std::mutex> lock(silentMutex);
    return silentCalls > 0 && Clock::now() - lastGivenUp < patience;
}

int secondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::seconds>(deadline - Clock::now()).count();
    return left < 1 ? 1 : static_cast<int>(left);
}

}  // namespace

int lineTimeoutSeconds(int configured) {
    if (configured < 1) return 10;
    return configured > 3600 ? 3600 : configured;
}

LineClient::LineClient(std::string connectionString, std::string station, int timeoutSeconds)
    : connectionString_(std::move(connectionString)),
      station_(std::move(station)),
      timeoutSeconds_(lineTimeoutSeconds(timeoutSeconds)),
      slot_(std::make_shared<Slot>()) {}

LineClient::~LineClient() {
    if (!slot_ || !slot_->database) return;
    // Letting go of a connection talks to the server (the driver closes its
    // statements): a server that stopped answering after the last call would
    // hold the run forever. The connection goes on a thread of its own,
    // waited for at most the timeout; given up, it counts as a silent call.
    auto pending = std::make_shared<Pending>();
    std::thread closer;
    try {
        closer = std::thread([pending, slot = std::move(slot_)]() mutable {
            slot.reset();
            std::lock_guard<std::mutex> lock(pending->mutex);
            pending->answered = true;
            pending->done.notify_all();
            if (pending->givenUp) givenUpThreadEnds();
        });
    } catch (const std::system_error&) {
        return;  // no thread: the connection is left to the process's end
    }
    std::unique_lock<std::mutex> lock(pending->mutex);
    if (pending->done.wait_for(lock, std::chrono::seconds(timeoutSeconds_), [&] { return pending->answered; })) {
        lock.unlock();
        closer.join();
        return;
    }
    closer.detach();
    pending->givenUp = true;
    std::lock_guard<std::mutex> silent(silentMutex);
    ++silentCalls;
    lastGivenUp = Clock::now();
}

std::string LineClient::unansweredLine() const {
    return "Can't reach the line database: no answer within " + std::to_string(timeoutSeconds_) + " s";
}

LineClient::Answer LineClient::call(Work work) {
    if (serverSilent(std::chrono::seconds(2 * timeoutSeconds_))) return {Status::Unanswered, std::string()};
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeoutSeconds_);
    auto pending = std::make_shared<Pending>();
    auto run = [pending, slot = slot_, work = std::move(work), connectionString = connectionString_, deadline]() mutable {
        Answer answer;
        // A first connection, or one lost during the first try: connect
        // (again), then ask. A server that is restarting refuses for a
        // moment: refusals are tried again, for up to 3 s at first (a server
        // that is down says so soon) and until near the deadline after a
        // connection was lost.
        const Clock::time_point firstTries = std::min(Clock::now() + std::chrono::seconds(3), deadline);
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!slot->database) {
                const Clock::time_point until = (attempt == 0 ? firstTries : deadline) - std::chrono::milliseconds(700);
                std::string diagnostic;
                do {
                    // The driver's own limits sit just past ours: they free this
                    // thread after a give-up, and never answer before the deadline does.
                    slot->database = LineDatabase::open(connectionString, secondsLeft(deadline) + 2, diagnostic);
                    if (slot->database) break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                } while (Clock::now() < until);
                if (!slot->database) {
                    answer = {Status::Failed, diagnostic};
                    break;
                }
            }
            answer = work(*slot->database);
            if (answer.status != Status::Failed || !slot->database->lost()) break;
            // The connection is gone: the next attempt, if any, opens another.
            slot->database.reset();
            if (Clock::now() >= deadline) break;
        }
        // Let go of this thread's hold on the connection before it counts
        // itself out (a given-up call's is the last one).
        slot.reset();
        std::lock_guard<std::mutex> lock(pending->mutex);
        pending->answer = std::move(answer);
        pending->answered = true;
        pending->done.notify_all();
        if (pending->givenUp) givenUpThreadEnds();
    };
    std::thread worker;
    try {
        worker = std::thread(std::move(run));
    } catch (const std::system_error&) {
        return {Status::Failed, "no thread could be made for the call"};
    }
    std::unique_lock<std::mutex> lock(pending->mutex);
    if (pending->done.wait_until(lock, deadline, [&] { return pending->answered; })) {
        lock.unlock();
        // Answered: the thread is ending. Joined, it has let go of the
        // connection and of what the driver keeps per thread.
        worker.join();
        return pending->answer;
    }
    // Given up, under the lock: the thread learns it when it answers.
    worker.detach();
    pending->givenUp = true;
    {
        std::lock_guard<std::mutex> silent(silentMutex);
        ++silentCalls;
        lastGivenUp = Clock::now();
    }
    // The thread keeps the old connection until it ends; never use it again.
    slot_ = std::make_shared<Slot>();
    return {Status::Unanswered, std::string()};
}

std::string LineClient::keep(const std::string& runId, const std::string& record) {
    return keepForUnit(runId, std::string(), record);
}

std::string LineClient::keepForUnit(const std::string& runId, const std::string& serial, const std::string& record) {
    const Answer answer = call([runId, serial, record, station = station_](LineDatabase& database) {
        std::string diagnostic;
        const bool kept = database.recordRun(runId, station, record, diagnostic, serial);
        return Answer{kept ? Status::Done : Status::Failed, diagnostic};
    });
    if (answer.status == Status::Unanswered) return unansweredLine();
    if (answer.status != Status::Done)
        return "Can't write the run journal to the line database: " + answer.diagnostic;
    return std::string();
}

std::string LineClient::release(const std::string& runId, std::string& spentFirst, int& spentCount) {
    spentFirst.clear();
    spentCount = 0;
    // Shared with the call's thread, which may outlive an unanswered call.
    auto spent = std::make_shared<std::vector<Reservation>>();
    const Answer answer = call([runId, spent](LineDatabase& database) {
        std::string diagnostic;
        const bool released = database.release(runId, *spent, diagnostic);
        return Answer{released ? Status::Done : Status::Failed, diagnostic};
    });
    if (answer.status == Status::Unanswered) return unansweredLine();
    if (answer.status != Status::Done) return "Can't reach the line database: " + answer.diagnostic;
    // A run holds one block at a time.
    if (!spent->empty()) {
        spentFirst = formatMac(spent->front().first);
        spentCount = spent->front().count;
    }
    return std::string();
}

std::unique_ptr<LineRecordKeeper> lineRecordKeeper(const std::string& connectionString, const std::string& station,
                                                   int timeoutSeconds) {
    return std::make_unique<LineClient>(connectionString, station, timeoutSeconds);
}

}  // namespace vornix
