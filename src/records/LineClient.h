#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "records/LineDatabase.h"
#include "records/LineRecordKeeper.h"

namespace vornix {

// The line database as a run uses it: every call ends within the timeout,
// whatever the server, the network or the driver do. A call runs on a thread
// of its own; one that gets no answer in time is left to end by itself with
// its connection, and the next call connects anew. A connection lost during
// a call is replaced once and the call asked again: reserve, assign and the
// records are safe to repeat.
class LineClient : public LineRecordKeeper {
public:
    LineClient(std::string connectionString, std::string station, int timeoutSeconds);
    ~LineClient() override;

    // What a call came to. Unanswered: no answer within the timeout.
    enum class Status { Done, Refused, Failed, Unanswered };
    struct Answer {
        Status status = Status::Failed;
        std::string diagnostic;  // passwords masked
    };
    using Work = std::function<Answer(LineDatabase&)>;
    // Runs work against a connection within the timeout.
    Answer call(Work work);

    // "Can't reach the line database: no answer within <N> s"
    std::string unansweredLine() const;
    int timeoutSeconds() const { return timeoutSeconds_; }

    std::string keep(const std::string& runId, const std::string& record) override;
    std::string keepForUnit(const std::string& runId, const std::string& serial, const std::string& record) override;
    std::string release(const std::string& runId, std::string& spentFirst, int& spentCount) override;

private:
    struct Slot;
    std::string connectionString_;
    std::string station_;
    int timeoutSeconds_;
    std::shared_ptr<Slot> slot_;  // the connection; a new one after a call that got no answer
};

// The [LINE] Timeout value as used: 1 to 3600 s, 10 when unset or not a number.
int lineTimeoutSeconds(int configured);

}  // namespace vornix
