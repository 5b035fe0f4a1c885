// Test helper: rewrites start_mac in setup.ini with ever higher addresses
// until it is terminated. Usage: profile_write_loop PATH FIRST
#include <cstdlib>
#include <string>

#include "platform/win32/Win32Profile.h"
#include "support/CrashImage.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    vornix::platform::Win32Profile profile(argv[1]);
    for (int n = std::atoi(argv[2]);; ++n)
        if (!profile.write("WRITE_MAC", "start_mac", vornix::test::macFor(n))) return 1;
}
