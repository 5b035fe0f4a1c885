#pragma once

// A PostgreSQL server of one test's own: a fresh cluster in a scratch
// directory, listening on 127.0.0.1 and the test's port, with a role that
// logs in by password and a database it owns. initdb refuses root, so the
// cluster belongs to the postgres user. The server is stopped and its
// directory removed at the end; a server left by a crashed earlier run on
// the same port is stopped first.
//
// Every process that includes this reaches the driver through a registration
// of the tests' own (ODBCSYSINI, set before main, so that vornix-cli and Wine
// programs started by the test inherit it): Debian registers psqlODBC with
// CommLog=1, under which each process that closed a connection leaves a
// /tmp/psqlodbc_*.log behind, whatever the connection string says.
#include <fcntl.h>
#include <sys/stat.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

extern char** environ;

namespace vornix::test {

// Debian's registration with the driver's log off, in a directory of this
// test process's own (its vornix-cli children read it through ODBCSYSINI),
// removed when the process ends.
struct QuietDriver {
    std::string directory = "/tmp/vornix-odbc-" + std::to_string(::getpid());
    QuietDriver() {
        ::mkdir(directory.c_str(), 0755);
        std::ofstream(directory + "/odbcinst.ini", std::ios::trunc)
            << "[PostgreSQL Unicode]\nDriver=psqlodbcw.so\nSetup=libodbcpsqlS.so\nDebug=0\nCommLog=0\n\n"
               "[PostgreSQL ANSI]\nDriver=psqlodbca.so\nSetup=libodbcpsqlS.so\nDebug=0\nCommLog=0\n";
        ::setenv("ODBCSYSINI", directory.c_str(), 1);
    }
    ~QuietDriver() {
        std::error_code ignored;
        std::filesystem::remove_all(directory, ignored);
    }
};
inline const QuietDriver quietDriver;

class PostgresServer {
public:
    static constexpr const char* user = "vornix_line";
    static constexpr const char* password = "Lime-7f3c.q9";
    static constexpr const char* database = "vornix_line";

    // port: below the kernel's ephemeral range (32768 and up), where an
    // outgoing connection of another test may hold it in TIME_WAIT.
    // durable: keep PostgreSQL's flushes to disk (for timings); tests go without.
    // netns: the network namespace the server listens in (its 127.0.0.1), for
    // stations that run in one; psql still reaches it through its socket file.
    explicit PostgresServer(int port, bool durable = false, const std::string& netns = "")
        : port_(port), durable_(durable), netns_(netns), directory_("/tmp/vornix-pg-" + std::to_string(port)) {
        if (!findBinaries()) return;
        if (::geteuid() != 0) {
            failure_ = "the test PostgreSQL server needs root (initdb and pg_ctl run as the postgres user)";
            return;
        }
        const passwd* owner = ::getpwnam("postgres");
        if (!owner) {
            failure_ = "there is no postgres user: install postgresql (scripts/install-deps)";
            return;
        }
        stopStale();
        if (netns_.empty() && listening()) {
            failure_ = "port " + std::to_string(port_) + " is in use by something else";
            return;
        }
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
        std::filesystem::create_directories(directory_);
        if (::chown(directory_.c_str(), owner->pw_uid, owner->pw_gid) != 0) {
            failure_ = "cannot hand " + directory_ + " to the postgres user";
            return;
        }
        if (asPostgres({bin_ + "/initdb", "-D", data(), "-U", "postgres", "-E", "UTF8", "--no-locale",
                        "--auth-local=trust", "--auth-host=scram-sha-256", "--no-sync"}) != 0) {
            failure_ = "initdb failed: " + log();
            return;
        }
        if (!start()) return;
        if (!superuser("CREATE ROLE " + std::string(user) + " LOGIN PASSWORD '" + password + "'", "postgres") ||
            !superuser("CREATE DATABASE " + std::string(database) + " OWNER " + user, "postgres")) {
            failure_ = "cannot create the test role and database: " + log();
            return;
        }
        ready_ = true;
    }

    ~PostgresServer() {
        if (started_) stop();
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    bool ready() const { return ready_; }
    // Why the server is not ready, for the failing test's message.
    const std::string& failure() const { return failure_; }
    int port() const { return port_; }

    std::string connectionString() const {
        return "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + std::to_string(port_) + ";Database=" + database +
               ";Uid=" + user + ";Pwd=" + password + ";";
    }

    // Stops the server (connections are cut) and keeps its data.
    bool stop() {
        const bool stopped = asPostgres({bin_ + "/pg_ctl", "-D", data(), "-m", "fast", "-w", "-t", "30", "stop"}) == 0;
        if (!stopped) killPostmaster();
        started_ = false;
        return stopped;
    }

    // Starts it again on the same data.
    bool start() {
        std::string options = "-c listen_addresses=127.0.0.1 -c port=" + std::to_string(port_) +
                              " -c unix_socket_directories=" + directory_;
        if (!durable_) options += " -c fsync=off -c synchronous_commit=off -c full_page_writes=off";
        if (asPostgres({bin_ + "/pg_ctl", "-D", data(), "-l", directory_ + "/server.log", "-w", "-t", "60", "-o",
                        options, "start"}) != 0) {
            failure_ = "pg_ctl start failed: " + log();
            return false;
        }
        started_ = true;
        return true;
    }

    // One statement as the superuser over the server's socket, in the test
    // database: the rows as psql -At prints them, fields split by "|".
    // ok (when given) tells whether psql succeeded.
    // The server and every process it started stop (SIGSTOP) or go on
    // (SIGCONT): a server that no longer answers on open connections, while
    // the kernel still accepts and acknowledges.
    bool signalAll(int signal) const {
        const pid_t parent = postmaster();
        if (!parent) return false;
        ::kill(parent, signal);
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
            std::ifstream stat(entry.path() / "stat");
            std::string line;
            if (!std::getline(stat, line)) continue;
            // "pid (name) state ppid ...": the name may hold blanks.
            const std::size_t close = line.rfind(')');
            if (close == std::string::npos) continue;
            std::istringstream rest(line.substr(close + 1));
            std::string state;
            long ppid = 0;
            if (rest >> state >> ppid && ppid == parent) ::kill(static_cast<pid_t>(std::stol(line)), signal);
        }
        return true;
    }

    std::string sql(const std::string& statement, bool* ok = nullptr) const {
        std::string output;
        const bool success = superuser(statement, database, &output);
        if (ok) *ok = success;
        return output;
    }

private:
    std::string data() const { return directory_ + "/data"; }

    bool findBinaries() {
        namespace fs = std::filesystem;
        std::error_code error;
        int best = -1;
        for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
            const std::string version = entry.path().filename().string();
            const int number = std::atoi(version.c_str());
            if (number > best && fs::exists(entry.path() / "bin" / "initdb")) {
                best = number;
                bin_ = (entry.path() / "bin").string();
            }
        }
        if (best < 0) failure_ = "no PostgreSQL server in /usr/lib/postgresql/*/bin: run scripts/install-deps";
        return best >= 0;
    }

    bool listening() const {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(static_cast<unsigned short>(port_));
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool connected = ::connect(s, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
        ::close(s);
        return connected;
    }

    // A crashed earlier run on this port may have left its server running.
    void stopStale() {
        if (!postmaster()) return;
        if (asPostgres({bin_ + "/pg_ctl", "-D", data(), "-m", "immediate", "-w", "-t", "30", "stop"}) != 0)
            killPostmaster();
    }

    // The live server of our data directory: the pid in its postmaster.pid,
    // if that process is a postgres started on this very directory (a pid
    // file outlives its process, and the number may have been reused).
    pid_t postmaster() const {
        std::ifstream pidFile(data() + "/postmaster.pid");
        long pid = 0;
        if (!(pidFile >> pid) || pid <= 1) return 0;
        std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
        const std::string command((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
        return command.find("postgres") != std::string::npos && command.find(data()) != std::string::npos
                   ? static_cast<pid_t>(pid)
                   : 0;
    }

    void killPostmaster() {
        const pid_t pid = postmaster();
        if (!pid) return;
        ::kill(pid, SIGKILL);
        for (int i = 0; i < 100 && ::kill(pid, 0) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    bool superuser(const std::string& statement, const std::string& db, std::string* output = nullptr) const {
        return asPostgres({bin_ + "/psql", "-X", "-q", "-h", directory_, "-p", std::to_string(port_), "-U", "postgres",
                           "-d", db, "-At", "-v", "ON_ERROR_STOP=1", "-c", statement},
                          output) == 0;
    }

    // Runs a program as the postgres user; its output goes to the scratch
    // directory's command log, or into *output (standard output only).
    int asPostgres(std::vector<std::string> command, std::string* output = nullptr) const {
        std::vector<std::string> full{"/usr/sbin/runuser", "-u", "postgres", "--"};
        if (!netns_.empty()) full.insert(full.begin(), {"/usr/sbin/ip", "netns", "exec", netns_});
        full.insert(full.end(), command.begin(), command.end());
        std::vector<char*> argv;
        for (std::string& a : full) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string commandLog = directory_ + "/commands.log";
        int pipeEnds[2] = {-1, -1};
        if (output && ::pipe2(pipeEnds, O_CLOEXEC) != 0) return -1;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (output) posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
        else posix_spawn_file_actions_addopen(&actions, 1, commandLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, commandLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        pid_t pid = 0;
        const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (output) {
            ::close(pipeEnds[1]);
            char buffer[4096];
            for (ssize_t n; spawned == 0 && (n = ::read(pipeEnds[0], buffer, sizeof buffer)) != 0;) {
                if (n < 0) {
                    if (errno == EINTR) continue;
                    break;
                }
                output->append(buffer, static_cast<std::size_t>(n));
            }
            ::close(pipeEnds[0]);
        }
        if (spawned != 0) return -1;
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The end of the logs, for a failure message.
    std::string log() const {
        std::string text;
        for (const char* name : {"/commands.log", "/server.log"}) {
            std::ifstream in(directory_ + name);
            std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (all.size() > 1500) all = "..." + all.substr(all.size() - 1500);
            text += all;
        }
        return text;
    }

    int port_;
    bool durable_;
    std::string netns_;
    std::string directory_;
    std::string bin_;
    std::string failure_;
    bool ready_ = false;
    bool started_ = false;
};

}  // namespace vornix::test
