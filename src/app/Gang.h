#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "station/OperatorConsole.h"
#include "config/RouterPort.h"

namespace vornix {

namespace platform {
class ChildProcess;
}

// A gang station: up to eight one-router runs at once, one network port
// each, every router at the same address. Each port's run is a process of
// its own (this program, started with portArgument), built as a one-port
// station is, with its sockets tied to its port: a crash, a hang or a kill
// on one port never reaches another, and what a process holds for its one
// run (the response capture, the wire tap) is never shared. What the ports
// share, setup.ini's start_mac, the journal and the line database, they
// share through a file lock and the database.
class Gang {
public:
    // The argument that makes this program one port's run: "--gang-port K".
    static constexpr const char* portArgument = "--gang-port";
    // ... and the one that names the gang run it is part of: "--gang-run TAG".
    static constexpr const char* runArgument = "--gang-run";
    // A port's process exits with this when its router did not answer.
    static constexpr int noRouterStatus = 3;
    // ... and with this when it ended its run unfinished: its gang, or the
    // pipe its log goes to, was gone (none of the statuses a run ends with).
    static constexpr int interruptedStatus = 4;

    enum class Result { NotRun, Passed, Failed, NoRouter, Interrupted };

    struct Port {
        RouterPort port;
        std::string problem;  // why it does not run, or empty
        std::string serial = std::string();  // its unit's, on a station with serials
    };
    // The serials given for the ports (port, serial), on a station whose
    // setup.ini has [SERIAL]: a port that needs one and has none does not
    // run, and says so. false and why for serials that cannot be used.
    static bool giveSerials(std::vector<Port>& ports, const std::vector<std::pair<int, std::string>>& serials,
                            std::string& why);

    // setup.ini's gang in the current directory, each port checked (its
    // interface there, up and holding its address). nullopt and why when
    // setup.ini has no usable [GANG] section.
    static std::optional<std::vector<Port>> ports(std::string& why);
    // Port number's entry for that port's own process, checked as above.
    static std::optional<RouterPort> port(int number, std::string& why);
    // The line that says why a port does not run: "Can't use port K (IFACE): why".
    static std::string problemLine(const Port& port);
    // Whether setup.ini in the current directory asks for a scanned serial
    // for each port's unit ([SERIAL] Source=scan).
    static bool scansSerials();
    // A scanned serial as setup.ini's [SERIAL] takes it: empty and the
    // serial without the scanner's line end, or the line why it is refused.
    static std::string checkSerial(const std::string& typed, std::string& serial);
    // Whether setup.ini in the current directory has a [GANG] section, usable or not.
    static bool configured();

    // A port's own run (the process started with portArgument): a one-port
    // station whose sockets go through that port, reporting to console.
    // Its exit status: as a one-router run's, and noRouterStatus when its
    // router did not answer.
    // gangRun: the tag of the gang run, which its ports share (empty when
    // started by hand).
    // serial: its unit's (empty: none given).
    static int runPort(int number, OperatorConsole& console, const std::string& gangRun = std::string(),
                       const std::string& serial = std::string());
    // Makes the records of runs killed before they ended (as a station's
    // start does), reporting to console; tell: where lines about the
    // station's files go (standard error when none).
    using Tell = std::function<void(const std::string&)>;
    static void recover(OperatorConsole& console, const Tell& tell = Tell());

    struct Events {
        // A port's log line, exactly as its run logged it (any thread, one call at a time).
        std::function<void(int port, const std::string& line)> line;
        // A port's run is over (any thread, one call at a time); called again
        // with Interrupted when its transcript shows it was killed.
        std::function<void(int port, Result result)> ended;
    };

    // Ends every port's run still going on at once, and starts none after:
    // the operator left the program while they ran.
    class Stop {
    public:
        // Returns once no port's process is being started: a process the
        // system was still making when the program ended would be left
        // outside the job that ends it with the program.
        void now();

    private:
        friend class Gang;
        // Before a port's process is started: false once stopped (it is not).
        bool admit();
        // After an admitted start: its process (nullptr when none started);
        // stopped already, it is ended at once.
        void add(const std::shared_ptr<platform::ChildProcess>& child);
        void remove(const std::shared_ptr<platform::ChildProcess>& child);
        std::mutex mutex_;
        std::condition_variable started_;
        bool stopped_ = false;
        int starting_ = 0;
        std::vector<std::shared_ptr<platform::ChildProcess>> children_;
    };

    // Runs every port without a problem at once, each with the stage
    // arguments ("--mac", "--boot"); returns when all are over, the
    // results in port order. A port's run killed from outside gets its
    // record (interrupted) through recover, called once they are all over.
    static std::vector<Result> run(const std::vector<Port>& ports, const std::vector<std::string>& stageArguments,
                                   const Events& events, const std::function<void()>& recover,
                                   Stop* stop = nullptr);
    // run, as both front ends use it: killed runs of earlier gangs get their
    // records first, then every port runs; recovery reports to console.
    static std::vector<Result> runAll(const std::vector<Port>& ports, const std::vector<std::string>& stageArguments,
                                      const Events& events, OperatorConsole& console, Stop* stop = nullptr,
                                      const Tell& tell = Tell());

    static const char* resultText(Result result);
    // 0 when every port whose router answered passed and one did at least.
    static int exitStatus(const std::vector<Result>& results);
};

}  // namespace vornix
