#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "foundation/AccountPrivilege.h"
#include "foundation/Log.h"
#include "foundation/Process.h"
#include "foundation/ShellExecute.h"
#include "platform/Authorization.h"
#include "platform/linux/ProcessAuthorization.h"
#include "support/Sandbox.h"

namespace fs = std::filesystem;

namespace tavo {
namespace {

class ShellExecuteTest : public test::SandboxTest {};

TEST_F(ShellExecuteTest, ExecuteReturnsStandardErrorWhenThereIsOne) {
    EXPECT_EQ(ShellExecute::execute("echo out; echo err >&2"), "err\n");
    EXPECT_EQ(ShellExecute::execute("echo out"), "out\n");
    EXPECT_EQ(ShellExecute::execute("true"), "");
    EXPECT_EQ(ShellExecute::execute("printf 'caf\\303\\251'"), "caf\xC3\xA9");
    // Output that is not UTF-8 is unreadable: empty text.
    EXPECT_EQ(ShellExecute::execute("printf 'a\\377b'"), "");
    EXPECT_EQ(ShellExecute::execute("printf 'out'; printf '\\377' >&2"), "out");
}

TEST_F(ShellExecuteTest, ExecuteReturnBooleanIsNoneOnlyWithoutErrorText) {
    EXPECT_EQ(ShellExecute::executeReturnBoolean("true"), std::nullopt);
    EXPECT_EQ(ShellExecute::executeReturnBoolean("echo chatty"), std::nullopt);
    EXPECT_EQ(ShellExecute::executeReturnBoolean("echo out; echo 'it failed' >&2"), "it failed\n");
    EXPECT_TRUE(ShellExecute::executeReturnBoolean("ls " + sandbox.path("/missing")).has_value());
    // Unreadable error text still reports a failure.
    const auto garbled = ShellExecute::executeReturnBoolean("printf '\\377x' >&2");
    ASSERT_TRUE(garbled.has_value());
    EXPECT_EQ(*garbled, "\xEF\xBF\xBDx");
}

TEST_F(ShellExecuteTest, LargeOutputOnBothStreamsDoesNotBlock) {
    // Standard error is written first: a reader that drains standard output
    // to its end before looking at standard error would wait for ever.
    const std::string command =
        "head -c 6000000 /dev/zero | tr '\\0' e >&2; head -c 7000000 /dev/zero | tr '\\0' o";
    const ProcessResult result = Process::run("/bin/sh", {"-c", command});
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardError.size(), 6000000u);
    EXPECT_EQ(result.standardOutput.size(), 7000000u);
    EXPECT_EQ(result.standardError.find_first_not_of('e'), std::string::npos);
    EXPECT_EQ(result.standardOutput.find_first_not_of('o'), std::string::npos);
    EXPECT_EQ(ShellExecute::execute(command).size(), 6000000u);
}

TEST_F(ShellExecuteTest, ProcessReportsExitStatusesAndSignals) {
    EXPECT_EQ(Process::run("/bin/sh", {"-c", "exit 3"}).exitStatus, 3);
    EXPECT_EQ(Process::run("/bin/sh", {"-c", "kill -TERM $$"}).exitStatus, 128 + 15);
    // A program name without a slash is looked up in PATH.
    const ProcessResult echoed = Process::run("sh", {"-c", "echo $0 \"$1\"", "zero", "one two"});
    EXPECT_EQ(echoed.standardOutput, "zero one two\n");
    const ProcessResult missing = Process::run(sandbox.path("/no/such/program"), {});
    EXPECT_FALSE(missing.started);
    // A command that reads its input gets none instead of waiting for ours.
    EXPECT_EQ(Process::run("/bin/sh", {"-c", "cat; echo done"}).standardOutput, "done\n");
}

TEST_F(ShellExecuteTest, OutputOfABackgroundJobDoesNotHoldTheCommand) {
    // The job keeps the pipes open after the shell ends; what it writes later
    // is not the command's output.
    const ProcessResult result =
        Process::run("/bin/sh", {"-c", "(sleep 2; echo late) & echo done"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardOutput, "done\n");
}

TEST_F(ShellExecuteTest, ExecuteReturnIntegerGivesTheExitStatus) {
    EXPECT_EQ(ShellExecute::executeReturnInteger("true"), 0);
    EXPECT_EQ(ShellExecute::executeReturnInteger("exit 7"), 7);
    EXPECT_EQ(ShellExecute::executeReturnInteger("kill -KILL $$"), 128 + 9);
    const std::string marker = sandbox.path("/marker");
    EXPECT_EQ(ShellExecute::executeReturnInteger("touch " + Process::shellQuote(marker)), 0);
    EXPECT_TRUE(test::Sandbox::exists(marker));
}

TEST_F(ShellExecuteTest, ShellQuotingKeepsEveryPathOneWord) {
    for (const std::string name : {"plain", "with space", "it's", "\"double\"", "$HOME and `date`",
                                   "semi;colon&", "*", "back\\slash", "new\nline", "-dash", "'"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ShellExecute::execute("printf %s " + Process::shellQuote(name)), name);
        const std::string path = sandbox.path("/quoted/" + name);
        fs::create_directories(sandbox.path("/quoted"));
        EXPECT_EQ(ShellExecute::executeReturnBoolean("touch -- " + Process::shellQuote(path)),
                  std::nullopt);
        EXPECT_TRUE(test::Sandbox::exists(path));
        EXPECT_EQ(ShellExecute::executeReturnBoolean("/bin/rm -rf -- " + Process::shellQuote(path)),
                  std::nullopt);
        EXPECT_FALSE(test::Sandbox::exists(path));
    }
    EXPECT_EQ(Process::shellQuote(""), "''");
    EXPECT_EQ(ShellExecute::execute("printf '[%s]' " + Process::shellQuote("")), "[]");
}

TEST_F(ShellExecuteTest, SpawnDetachedLeavesNoChildBehind) {
    const std::string report = sandbox.path("/detached");
    const std::string script =
        "read -r _ _ _ ppid _ sid _ < /proc/$$/stat; echo \"$$ $ppid $sid\" > " +
        Process::shellQuote(report + ".tmp") + " && mv " + Process::shellQuote(report + ".tmp") +
        " " + Process::shellQuote(report);
    ASSERT_TRUE(Process::spawnDetached("sh", {"-c", script}));
    // The middle process has been reaped and the program is not our child.
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!test::Sandbox::exists(report) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(test::Sandbox::exists(report));
    std::istringstream in(test::Sandbox::readFile(report));
    long pid = 0, ppid = 0, sid = 0;
    in >> pid >> ppid >> sid;
    EXPECT_GT(pid, 0);
    EXPECT_NE(sid, static_cast<long>(getsid(0))) << "runs in a session of its own";
    EXPECT_NE(ppid, static_cast<long>(getpid()));

    EXPECT_FALSE(Process::spawnDetached(sandbox.path("/no/such/program"), {}));
    EXPECT_FALSE(Process::spawnDetached("no-such-program-anywhere", {}));
}

TEST_F(ShellExecuteTest, PrivilegedToolGoesThroughTheAuthorizationService) {
    const std::string marker = sandbox.path("/privileged");
    const std::vector<std::string> args = {"-c", "touch \"$0\"", marker};
    platform::Authorization::setDefaultAuthorization(nullptr);
    EXPECT_FALSE(ShellExecute::privilegesExecuteWithTool("/bin/sh", args));
    EXPECT_FALSE(test::Sandbox::exists(marker));

    platform::Authorization::setDefaultAuthorization(
        std::make_shared<platform::ProcessAuthorization>());
    EXPECT_TRUE(ShellExecute::privilegesExecuteWithTool("/bin/sh", args));
    EXPECT_TRUE(test::Sandbox::exists(marker));
    EXPECT_FALSE(ShellExecute::privilegesExecuteWithTool("", args));
    platform::Authorization::setDefaultAuthorization(nullptr);
}

class AccountPrivilegeTest : public test::SandboxTest {
protected:
    void writeGroups(const std::string& content) {
        test::Sandbox::writeFile(sandbox.path("/etc/group"), content);
    }
    std::string logText() { return log.text(); }

    test::LogCapture log{sandbox.path("/logs/test.log"), "AccountPrivilegeTest"};
};

TEST_F(AccountPrivilegeTest, OnlyExactMembersOfTheAdminGroupAreAdministrators) {
    writeGroups("users:x:100:ali\nsudo:x:27:alice,bobby\n");
    EXPECT_TRUE(AccountPrivilege::isMenberAdminGroup("alice"));
    EXPECT_TRUE(AccountPrivilege::isMenberAdminGroup("bobby"));
    EXPECT_FALSE(AccountPrivilege::isMenberAdminGroup("bob"));  // a prefix of bobby
    EXPECT_FALSE(AccountPrivilege::isMenberAdminGroup("ali"));  // member of another group
    EXPECT_FALSE(AccountPrivilege::isMenberAdminGroup("alicex"));
    EXPECT_FALSE(AccountPrivilege::isMenberAdminGroup(""));

    // admin wins over sudo.
    writeGroups("sudo:x:27:alice\nadmin:x:50:carol\n");
    EXPECT_FALSE(AccountPrivilege::isMenberAdminGroup("alice"));
    EXPECT_TRUE(AccountPrivilege::isMenberAdminGroup("carol"));

    // A group without listed members has no administrators.
    writeGroups("wheel:x:10:\n");
    EXPECT_FALSE(AccountPrivilege::isMenberAdminGroup("root"));
    writeGroups("staff:x:20:alice\n");
    EXPECT_FALSE(AccountPrivilege::isMenberAdminGroup("alice"));
}

TEST_F(AccountPrivilegeTest, CheckIsLoggedMemberByMember) {
    writeGroups("sudo:x:27:bobby,alice\n");
    ASSERT_TRUE(AccountPrivilege::isMenberAdminGroup("alice"));
    ASSERT_FALSE(AccountPrivilege::isMenberAdminGroup("bob"));
    ASSERT_FALSE(AccountPrivilege::isMenberAdminGroup(""));
    const std::string log = logText();
    for (const char* line : {"Start check user alice in admin group",
                             "current user: [alice](5): in admin group user: [bobby](5)",
                             "current user: [alice](5): in admin group user: [alice](5)",
                             "End check user alice in admin group(with admin)",
                             "current user: [bob](3): in admin group user: [bobby](5)",
                             "current user: [bob](3): in admin group user: [alice](5)",
                             "End check user bob in admin group(no admin)",
                             "Start check user (empty) in admin group"}) {
        SCOPED_TRACE(line);
        EXPECT_NE(log.find(line), std::string::npos) << log;
    }
}

}  // namespace
}  // namespace tavo
