// One table of files and look-ups, answered by the system's profile functions
// and by our own engine: they must agree exactly.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <map>
#include <vector>

#include "config/IniProfile.h"
#include "platform/AtomicReplace.h"
#include "platform/win32/Win32Profile.h"
#include "support/ProfileCases.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

// Double-NUL separated list, as the enumerating profile calls return it.
std::vector<std::string> splitList(const std::vector<char>& buffer, DWORD length) {
    std::vector<std::string> items;
    for (DWORD i = 0; i < length;) {
        const std::string item(&buffer[i]);
        if (item.empty()) break;
        items.push_back(item);
        i += static_cast<DWORD>(item.size()) + 1;
    }
    return items;
}

// Every section and key of a file with its value, as the system reads it.
std::map<std::string, std::string> systemEntries(const std::string& path) {
    std::map<std::string, std::string> entries;
    std::vector<char> buffer(65536);
    const DWORD sectionsLength = GetPrivateProfileSectionNamesA(buffer.data(), 65536, path.c_str());
    for (const std::string& section : splitList(buffer, sectionsLength)) {
        std::vector<char> keysBuffer(65536);
        const DWORD keysLength =
            GetPrivateProfileStringA(section.c_str(), nullptr, "", keysBuffer.data(), 65536, path.c_str());
        for (const std::string& key : splitList(keysBuffer, keysLength)) {
            char value[2048];
            GetPrivateProfileStringA(section.c_str(), key.c_str(), "<absent>", value, sizeof value, path.c_str());
            entries["[" + section + "] " + key] = value;
        }
    }
    return entries;
}

TEST(ProfileDifferential, ReadsAgreeWithTheSystem) {
    test::TempDir dir;
    int index = 0, disagreements = 0;
    const std::vector<test::ReadCase> cases = test::readCases();
    for (const test::ReadCase& c : cases) {
        const std::string name = "read" + std::to_string(index++) + ".ini";
        const std::string path = c.fileMissing ? dir.file(name) : dir.write(name, c.file);
        platform::Win32Profile system(path);
        IniProfile ours(path, &platform::replaceFileAtomically);
        const std::string fromSystem = system.read(c.section, c.key, c.defaultValue, c.bufferSize);
        const std::string fromOurs = ours.read(c.section, c.key, c.defaultValue, c.bufferSize);
        EXPECT_EQ(fromOurs, fromSystem) << "case: " << c.name;
        EXPECT_EQ(fromSystem, c.expected) << "case (system against the table): " << c.name;
        if (fromOurs != fromSystem) ++disagreements;
    }
    std::printf("[ differ   ] %zu look-ups, %d disagreements\n", cases.size(), disagreements);
    RecordProperty("lookups", static_cast<int>(cases.size()));
    EXPECT_GE(cases.size(), 60u);
}

TEST(ProfileDifferential, WritesReadBackAsTheSystemsOwnWriter) {
    test::TempDir dir;
    int index = 0;
    const std::vector<test::WriteCase> cases = test::writeCases();
    for (const test::WriteCase& c : cases) {
        const std::string ours = dir.write("ours" + std::to_string(index) + ".ini", c.file);
        const std::string theirs = dir.write("theirs" + std::to_string(index) + ".ini", c.file);
        ++index;
        platform::Win32Profile profile(ours);
        ASSERT_TRUE(profile.write(c.section, c.key, c.value)) << "case: " << c.name;
        EXPECT_EQ(test::readAll(ours), c.expected) << "case: " << c.name;
        WritePrivateProfileStringA(c.section, c.key, c.value.c_str(), theirs.c_str());

        const auto oursEntries = systemEntries(ours);
        EXPECT_EQ(oursEntries, systemEntries(theirs)) << "case: " << c.name;
        // And our engine reads our file as the system does, key by key.
        IniProfile engine(ours, &platform::replaceFileAtomically);
        for (const auto& [name, value] : oursEntries) {
            const std::size_t close = name.find("] ");
            const std::string section = name.substr(1, close - 1), key = name.substr(close + 2);
            EXPECT_EQ(engine.read(section.c_str(), key.c_str(), "<absent>", 2048), value)
                << "case: " << c.name << ", key " << name;
        }
    }
    std::printf("[ differ   ] %zu writes compared\n", cases.size());
}

}  // namespace
}  // namespace vornix
