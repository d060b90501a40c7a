// Test entry point: the whole program runs inside a sandbox root, and the
// environment that child processes inherit points there too, so no test can
// reach the real home folder, /opt, /etc or the user's fonts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/Layout.h"
#include "platform/SystemInfo.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::string templ = (fs::temp_directory_path() / "tavo-tests-XXXXXX").string();
    if (!mkdtemp(templ.data()))
        return 2;
    setenv("TAVO_ROOT", templ.c_str(), 1);
    tavo::platform::setSandboxRoot(templ);
    const std::string home = templ + "/home/" + tavo::platform::SystemInfo::loginName();
    fs::create_directories(home);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    setenv("XDG_STATE_HOME", (home + "/.local/state").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home + "/.cache").c_str(), 1);

    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();

    std::error_code ec;
    if (!std::getenv("TAVO_KEEP_SANDBOX"))
        fs::remove_all(templ, ec);
    return result;
}
