#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <limits>
#include <map>
#include <random>
#include <thread>

#include "config/StationConfig.h"
#include "platform/Adapters.h"
#include "platform/AtomicReplace.h"
#include "platform/FileLock.h"
#include "procedures/MacBlock.h"
#include "procedures/ProfileBlockSource.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

using Moves = ProfileBlockSource::Moves;

// setup.ini with start_mac, and what its takers share, as each process has
// them: every source opens the files through handles of its own.
struct StartMacStation {
    explicit StartMacStation(const std::string& startMac = "00:11:22:00:00:FE")
        : path(dir.write("setup.ini", "[WRITE_MAC]\r\nstart_mac=" + startMac + "\r\n")) {}
    test::TempDir dir;
    std::string path;
    std::string claims = dir.file("claims");
    // stamp: set to clock's next value each time the lock is taken.
    StartMacShare share(long long* stamp = nullptr, std::atomic<long long>* clock = nullptr) const {
        return {[lock = dir.file("lock"), stamp, clock](std::string& why) {
                    std::shared_ptr<void> held(platform::lockFile(lock, 5000, why));
                    if (held && stamp) *stamp = ++*clock;
                    return held;
                },
                [c = claims](std::string& text) { return readFileBytes(c, text); },
                [c = claims](const std::string& text) { return platform::replaceFileAtomically(c, text); }, claims};
    }
    std::string startMac() const { return StationConfig(*platform::makeProfile(path)).read(keys::startMac).text; }
    std::string claimsText() const {
        std::string text;
        readFileBytes(claims, text);
        return text;
    }
};

// A gang port moves start_mac past its block as it takes it: a port that
// fails later leaves a gap, never a block for another router.
TEST(ProfileBlockSource, AGangPortsBlockIsTakenAtOnceAndNeverHandedOutAgain) {
    StartMacStation station;
    const std::unique_ptr<Profile> profile = platform::makeProfile(station.path);
    ProfileBlockSource failing(*profile, station.path, station.share(), Moves::AtOnce, "run 1");
    const MacBlockSource::Reserved first = failing.reserve(3);
    ASSERT_TRUE(first.ok) << first.failureLine;
    EXPECT_TRUE(first.taken);
    EXPECT_EQ(first.startMac, "00:11:22:00:00:FE");
    EXPECT_EQ(station.startMac(), "00:11:22:00:01:01");
    EXPECT_TRUE(failing.spentAtEnd()) << "a run that never verified spends its block";

    ProfileBlockSource next(*profile, station.path, station.share(), Moves::AtOnce, "run 2");
    const MacBlockSource::Reserved second = next.reserve(3);
    EXPECT_EQ(second.startMac, "00:11:22:00:01:01");
    EXPECT_EQ(next.commit(second.startMac, 3, "00:11:22:00:01:04"), "");
    EXPECT_EQ(next.stageVerified(), "");
    EXPECT_FALSE(next.spentAtEnd());
    EXPECT_EQ(station.startMac(), "00:11:22:00:01:04");

    // The lock held elsewhere: nothing is taken.
    StartMacShare busy = station.share();
    busy.hold = [](std::string& why) {
        why = "another process has held it for 10 s";
        return std::shared_ptr<void>();
    };
    ProfileBlockSource refused(*profile, station.path, busy, Moves::OnceVerified, "run 3");
    const MacBlockSource::Reserved none = refused.reserve(3);
    EXPECT_FALSE(none.ok);
    EXPECT_EQ(none.failureLine, "Can't lock start_mac in " + station.path + ": another process has held it for 10 s");
    EXPECT_EQ(station.startMac(), "00:11:22:00:01:04");
}

// A one-port run leaves start_mac alone until its block is verified, and a
// failed run's block goes to the next run (the same router tried again);
// a gang port taking a block meanwhile takes the one after it, and the
// one-port run's verified block never moves start_mac back.
TEST(ProfileBlockSource, AOnePortRunsBlockIsClaimedUntilVerified) {
    StartMacStation station("00:11:22:00:00:10");
    const std::unique_ptr<Profile> profile = platform::makeProfile(station.path);
    {
        ProfileBlockSource failing(*profile, station.path, station.share(), Moves::OnceVerified, "run 1");
        EXPECT_EQ(failing.reserve(2).startMac, "00:11:22:00:00:10");
        EXPECT_EQ(station.startMac(), "00:11:22:00:00:10");
        EXPECT_EQ(station.claimsText(), "00:11:22:00:00:10 2 run 1\n");
        EXPECT_FALSE(failing.spentAtEnd());
    }
    EXPECT_EQ(station.claimsText(), "") << "a failed run's claim goes with it";

    ProfileBlockSource onePort(*profile, station.path, station.share(), Moves::OnceVerified, "run 2");
    EXPECT_EQ(onePort.reserve(2).startMac, "00:11:22:00:00:10") << "the same router tried again";
    ProfileBlockSource gangPort(*profile, station.path, station.share(), Moves::AtOnce, "run 3");
    EXPECT_EQ(gangPort.reserve(2).startMac, "00:11:22:00:00:12");
    EXPECT_EQ(station.startMac(), "00:11:22:00:00:14");
    EXPECT_EQ(onePort.commit("00:11:22:00:00:10", 2, "00:11:22:00:00:12"), "");
    EXPECT_EQ(station.startMac(), "00:11:22:00:00:14") << "start_mac only moves forward";
    EXPECT_EQ(station.claimsText(), "");

    ProfileBlockSource verified(*profile, station.path, station.share(), Moves::OnceVerified, "run 4");
    EXPECT_EQ(verified.reserve(1).startMac, "00:11:22:00:00:14");
    EXPECT_EQ(verified.commit("00:11:22:00:00:14", 1, "00:11:22:00:00:15"), "");
    EXPECT_EQ(station.startMac(), "00:11:22:00:00:15");

    // A claims file that is not one: no block is guessed free.
    std::ofstream(station.claims) << "not a claim\n";
    ProfileBlockSource guessing(*profile, station.path, station.share(), Moves::AtOnce, "run 5");
    EXPECT_EQ(guessing.reserve(1).failureLine,
              "Can't read the MAC blocks being written in " + station.claims + ": it is not a list of blocks");
    EXPECT_EQ(station.startMac(), "00:11:22:00:00:15");
}

// One-port runs and gang ports of one folder taking blocks at the same
// time, over and over, each through handles of its own: no block that may
// be on a router is handed to another, and start_mac never goes back.
TEST(ProfileBlockSource, OnePortRunsBesideAGangNeverShareABlock) {
    StartMacStation station("00:11:22:00:00:00");
    constexpr int takers = 6, rounds = 60;
    // Each block's time under the lock: from when it was taken to when its
    // claim went, or for good once a router keeps it (a gang's block, a
    // verified one).
    struct Taken {
        long long first;
        int count;
        long long from, until;
    };
    constexpr long long forGood = std::numeric_limits<long long>::max();
    std::atomic<long long> clock{0};
    std::vector<std::vector<Taken>> taken(takers);
    std::vector<std::string> problems(takers);
    std::vector<std::thread> threads;
    for (int t = 0; t < takers; ++t)
        threads.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t));
            const bool gang = t % 2 == 1;
            long long seen = 0, stamp = 0;
            for (int round = 0; round < rounds; ++round) {
                const std::unique_ptr<Profile> profile = platform::makeProfile(station.path);
                const int count = 1 + static_cast<int>(random() % 3);
                Taken block{0, count, 0, forGood};
                {
                    ProfileBlockSource source(*profile, station.path, station.share(&stamp, &clock),
                                              gang ? Moves::AtOnce : Moves::OnceVerified,
                                              "run " + std::to_string(t) + "." + std::to_string(round));
                    const MacBlockSource::Reserved reserved = source.reserve(count);
                    if (!reserved.ok) {
                        problems[static_cast<std::size_t>(t)] += reserved.failureLine + "; ";
                        continue;
                    }
                    block.from = stamp;
                    block.first = MacBlock::readCounter(reserved.startMac);
                    if (gang || random() % 3 != 0) {
                        MacBlock mac;
                        mac.setStartMac(reserved.startMac);
                        source.commit(reserved.startMac, count, mac.after(count));
                    } else {
                        block.until = 0;  // failed: the claim goes with the source
                    }
                }
                if (block.until == 0) block.until = stamp;
                taken[static_cast<std::size_t>(t)].push_back(block);
                const long long now = MacBlock::readCounter(station.startMac());
                if (now < seen) problems[static_cast<std::size_t>(t)] += "start_mac went back; ";
                seen = now;
            }
        });
    for (std::thread& thread : threads) thread.join();
    for (const std::string& problem : problems) EXPECT_EQ(problem, "");

    // Two blocks with an address in common were never held at once: a
    // one-port block that failed may go to the next taker (the same router
    // tried again), a kept one to nobody after it.
    std::map<long long, std::vector<Taken>> byAddress;
    for (const std::vector<Taken>& list : taken)
        for (const Taken& block : list)
            for (int i = 0; i < block.count; ++i) byAddress[block.first + i].push_back(block);
    for (const auto& [address, blocks] : byAddress)
        for (std::size_t a = 0; a < blocks.size(); ++a)
            for (std::size_t b = a + 1; b < blocks.size(); ++b)
                EXPECT_TRUE(blocks[a].until < blocks[b].from || blocks[b].until < blocks[a].from)
                    << "address " << address << " handed out to two takers at once: " << blocks[a].first << "+"
                    << blocks[a].count << " [" << blocks[a].from << ", " << blocks[a].until << "] and " << blocks[b].first
                    << "+" << blocks[b].count << " [" << blocks[b].from << ", " << blocks[b].until << "]";
    EXPECT_EQ(station.claimsText(), "");
}

// A block that would reach its range's last address is refused before
// anything moves, whoever takes it.
TEST(ProfileBlockSource, ABlockNeverReachesTheEndOfItsRange) {
    const struct {
        const char* startMac;
        int count;
        const char* line;  // "" when the block fits
    } cases[] = {
        {"00:11:22:FF:FF:FE", 3, "Can't take 3 MAC addresses from 00:11:22:FF:FF:FE: the range ends at 00:11:22:FF:FF:FF (1 left)"},
        {"00:11:22:FF:FF:FE", 1, ""},
        {"00:11:22:FF:FF:FF", 1, "Can't take 1 MAC address from 00:11:22:FF:FF:FF: the range ends at 00:11:22:FF:FF:FF (0 left)"},
        {"0a:bb:cc:FF:FF:F0", 16, "Can't take 16 MAC addresses from 0a:bb:cc:FF:FF:F0: the range ends at 0a:bb:cc:FF:FF:FF (15 left)"},
        {"00:11:22:FF:FF:F0", 15, ""},
        {"00:11:22:00:00:00", 0, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProfileBlockSource::pastRangeEnd(c.startMac, c.count), c.line) << c.startMac;
        for (const Moves moves : {Moves::OnceVerified, Moves::AtOnce}) {
            StartMacStation station(c.startMac);
            const std::unique_ptr<Profile> profile = platform::makeProfile(station.path);
            ProfileBlockSource source(*profile, station.path, station.share(), moves, "run");
            const MacBlockSource::Reserved block = source.reserve(c.count);
            EXPECT_EQ(block.ok, !*c.line) << c.startMac;
            EXPECT_EQ(block.failureLine, c.line);
            if (*c.line) {
                EXPECT_EQ(station.startMac(), c.startMac) << "start_mac stays as it is";
            }
        }
    }
}

// A one-port run killed before its block was verified: its claim goes; a
// block it had begun writing is spent (start_mac moves past it), one it had
// not is the next run's.
TEST(ProfileBlockSource, AKilledRunsBlockIsSettledByTheNextStart) {
    for (const bool written : {true, false}) {
        StartMacStation station("00:11:22:00:00:10");
        const std::unique_ptr<Profile> profile = platform::makeProfile(station.path);
        std::ofstream(station.claims) << "00:11:22:00:00:10 2 killed run\n00:11:22:00:00:12 1 live run\n";
        std::string told;
        EXPECT_EQ(settleKilledBlock(*profile, station.share(), "killed run", "00:11:22:00:00:10", 2, written, told),
                  written);
        EXPECT_EQ(station.startMac(), written ? "00:11:22:00:00:12" : "00:11:22:00:00:10");
        EXPECT_EQ(station.claimsText(), "00:11:22:00:00:12 1 live run\n");
        EXPECT_EQ(told, written ? "start_mac moved from 00:11:22:00:00:10 to 00:11:22:00:00:12: the interrupted run "
                                  "killed run had begun writing that block to its router"
                                : "");
    }
}

}  // namespace
}  // namespace vornix
