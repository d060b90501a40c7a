#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "platform/SystemInfo.h"
#include "platform/linux/PrivilegedRestart.h"
#include "support/ScopedEnvironment.h"

namespace tavo::platform {
namespace {

using Outcome = PrivilegedRestart::Outcome;

PrivilegedRestart::Result runScript(const std::string& script) {
    return PrivilegedRestart::run({"/bin/sh", "-c", script});
}

TEST(PrivilegedRestartTest, OnlyTheSingleArgumentMarksTheElevatedInstance) {
    EXPECT_TRUE(PrivilegedRestart::isPrivileged({"isPrivileges"}));
    EXPECT_FALSE(PrivilegedRestart::isPrivileged({}));
    EXPECT_FALSE(PrivilegedRestart::isPrivileged({"isPrivileges", "x"}));
    EXPECT_FALSE(PrivilegedRestart::isPrivileged({"isprivileges"}));
}

TEST(PrivilegedRestartTest, NoElevationInsideASandboxRoot) {
    // Every test runs inside a sandbox root of its own.
    EXPECT_FALSE(PrivilegedRestart::needsElevation());
}

TEST(PrivilegedRestartTest, CommandPassesTheDisplayThroughEnv) {
    const auto argv = PrivilegedRestart::elevatedCommand(
        "pkexec", "/opt/A B/x", {"DISPLAY=:1", "XAUTHORITY=/tmp/a b", "=bad"});
    const std::vector<std::string> expected{"pkexec",     "/usr/bin/env",
                                            "DISPLAY=:1", "XAUTHORITY=/tmp/a b",
                                            "/opt/A B/x", "isPrivileges"};
    EXPECT_EQ(argv, expected);
    // env would take a path with '=' for a variable; a relative one for a program in PATH.
    EXPECT_TRUE(PrivilegedRestart::elevatedCommand("pkexec", "/opt/a=b/x", {}).empty());
    EXPECT_TRUE(PrivilegedRestart::elevatedCommand("pkexec", "x", {}).empty());
}

TEST(PrivilegedRestartTest, DisplayEnvironmentNamesOnlySetVariables) {
    test::ScopedEnvironment display("DISPLAY", ":7");
    test::ScopedEnvironment wayland("WAYLAND_DISPLAY", "");
    const auto env = PrivilegedRestart::displayEnvironment();
    EXPECT_NE(std::find(env.begin(), env.end(), "DISPLAY=:7"), env.end());
    for (const auto& e : env)
        EXPECT_FALSE(e.starts_with("WAYLAND_DISPLAY=")) << e;
}

TEST(PrivilegedRestartTest, ExitStatusFollowsTheLineWrittenBack) {
    struct Case {
        const char* script;
        Outcome outcome;
        std::optional<std::string> line;
        int exitStatus;
    };
    const Case cases[] = {
        {"echo 0", Outcome::Finished, "0", 0},
        {"echo 1; exit 0", Outcome::Finished, "1", 1},
        {"printf 0", Outcome::Finished, "0", 0},
        {"exit 0", Outcome::Finished, std::nullopt, 1},  // ended without a line
        {"exit 126", Outcome::Cancelled, std::nullopt, 0},
        {"exit 127", Outcome::Cancelled, std::nullopt, 0},
        {"echo 0; echo 1", Outcome::Finished, "0", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        const auto result = runScript(c.script);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.line, c.line);
        EXPECT_EQ(result.exitStatus(), c.exitStatus);
    }
}

TEST(PrivilegedRestartTest, ALongLineIsCutAndAMissingElevatorFails) {
    const auto result = runScript("head -c 500 /dev/zero | tr '\\0' 0; echo");
    ASSERT_TRUE(result.line);
    EXPECT_EQ(result.line->size(), PrivilegedRestart::kMaximumLine);
    EXPECT_EQ(result.exitStatus(), 1);
    const auto missing = PrivilegedRestart::run({"/nonexistent/pkexec", "x"});
    EXPECT_EQ(missing.outcome, Outcome::NotStarted);
    EXPECT_EQ(missing.exitStatus(), 1);
}

TEST(PrivilegedRestartTest, CurrentUserIsTheOneNamedByPkexec) {
    {
        test::ScopedEnvironment uid("PKEXEC_UID", std::to_string(::getuid()));
        EXPECT_EQ(PrivilegedRestart::currentUser(), SystemInfo::loginName());
    }
    test::ScopedEnvironment bogus("PKEXEC_UID", "12x");
    EXPECT_EQ(PrivilegedRestart::currentUser(), SystemInfo::loginName());
    if (::getuid() != 0) {
        test::ScopedEnvironment root("PKEXEC_UID", "0");
        EXPECT_EQ(PrivilegedRestart::currentUser(), "root");
    }
}

}  // namespace
}  // namespace tavo::platform
