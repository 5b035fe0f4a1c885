#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <random>

#include "config/IniDocument.h"
#include "platform/win32/Win32Profile.h"
#include "support/CrashImage.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

TEST(Win32Profile, TheSystemSeesEachWriteAtOnce) {
    // The profile functions cache files; a value we have just written must
    // never be read back stale, or the next router gets the same addresses.
    test::TempDir dir;
    const std::string path = dir.write("setup.ini", "[WRITE_MAC]\r\nstart_mac=00:11:22:00:00:00\r\n");
    platform::Win32Profile profile(path);
    for (int i = 1; i <= 20; ++i) {
        ASSERT_TRUE(profile.write("WRITE_MAC", "start_mac", test::macFor(i)));
        ASSERT_EQ(profile.read("WRITE_MAC", "start_mac", "NULL", 18), test::macFor(i)) << "write " << i;
    }
}

TEST(Win32Profile, RelativeAndMissingFiles) {
    test::TempDir dir;
    platform::Win32Profile missing(dir.file("absent.ini"));
    EXPECT_EQ(missing.read("Environment", "TELNETWAITTIME(ms)", "500", 128), "500");
    EXPECT_EQ(missing.read("SETUP", "Telnet Username", nullptr, 128), "");
    ASSERT_TRUE(missing.write("WRITE_MAC", "start_mac", "00:11:22:00:00:01"));
    EXPECT_EQ(test::readAll(dir.file("absent.ini")), "[WRITE_MAC]\r\nstart_mac=00:11:22:00:00:01\r\n");
}

std::string exeDirectory() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of("\\/") + 1);
}

// A helper process rewrites start_mac in a loop, counting up; it is
// terminated at a random moment, many times over.
TEST(Win32Profile, TerminatedWriterLeavesACompleteFile) {
    test::TempDir dir;
    const std::string path = dir.write("setup.ini", test::crashImage(0));
    const std::string helper = exeDirectory() + "profile_write_loop.exe";
    ASSERT_NE(GetFileAttributesA(helper.c_str()), INVALID_FILE_ATTRIBUTES) << helper;

    std::mt19937 random(8122026);
    std::uniform_int_distribution<int> delay(30, 400);
    const int kills = 40;
    int current = 0, moved = 0;
    for (int round = 0; round < kills; ++round) {
        std::string command = "\"" + helper + "\" \"" + path + "\" " + std::to_string(current + 1);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &startup, &process));
        // The first round waits for a write to land: a slow start of the
        // helper must not leave the test proving nothing.
        if (round == 0) {
            for (int i = 0; i < 6000; ++i) {
                const std::optional<std::string> mac = IniDocument(test::readAll(path)).find("WRITE_MAC", "start_mac");
                if (mac && *mac != test::macFor(current)) break;
                Sleep(10);
            }
        } else {
            Sleep(static_cast<DWORD>(delay(random)));
        }
        TerminateProcess(process.hProcess, 9);
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);

        const std::string bytes = test::readAll(path);
        const std::optional<std::string> mac = IniDocument(bytes).find("WRITE_MAC", "start_mac");
        ASSERT_TRUE(mac.has_value()) << "round " << round << ": start_mac lost";
        const int n = static_cast<int>(std::strtol(mac->substr(9).c_str(), nullptr, 16) << 16 |
                                       std::strtol(mac->substr(12).c_str(), nullptr, 16) << 8 |
                                       std::strtol(mac->substr(15).c_str(), nullptr, 16));
        ASSERT_GE(n, current) << "round " << round << ": start_mac went back";
        ASSERT_EQ(bytes, test::crashImage(n)) << "round " << round << ": the file is not complete";
        if (n > current) ++moved;
        current = n;
    }
    std::printf("[ crash    ] %d terminations, %d writes completed in all\n", kills, current);
    RecordProperty("terminations", kills);
    EXPECT_GT(moved, 0);
}

// Another process reads setup.ini while start_mac is replaced (a gang's
// ports read their keys as they go): the replacement waits for the reader
// instead of failing the run that writes it.
TEST(Win32Profile, AWriteBesideReadersOfOtherProcessesSucceeds) {
    test::TempDir dir;
    const std::string path = dir.write("setup.ini", test::crashImage(0));
    const std::string helper = exeDirectory() + "profile_write_loop.exe";
    std::string command = "\"" + helper + "\" \"" + path + "\" 1";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION writer{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &writer));
    platform::Win32Profile profile(path);
    for (int i = 0; i < 300; ++i) profile.read("WRITE_MAC", "start_mac", "NULL", 18);
    DWORD code = 0;
    GetExitCodeProcess(writer.hProcess, &code);
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE)) << "the writer gave up (exit " << code << ")";
    TerminateProcess(writer.hProcess, 9);
    WaitForSingleObject(writer.hProcess, INFINITE);
    CloseHandle(writer.hThread);
    CloseHandle(writer.hProcess);
}

}  // namespace
}  // namespace vornix
