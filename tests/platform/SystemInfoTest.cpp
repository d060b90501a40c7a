#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <thread>
#include <vector>

#include "platform/SystemInfo.h"
#include "support/Sandbox.h"

namespace fs = std::filesystem;

namespace tavo::platform {
namespace {

using Names = std::vector<std::string>;

class SystemInfoTest : public test::SandboxTest {
protected:
    void writeGroups(const std::string& content) {
        test::Sandbox::writeFile(sandbox.path("/etc/group"), content);
    }
};

TEST_F(SystemInfoTest, HomesLieUnderTheSandbox) {
    const std::string login = SystemInfo::loginName();
    ASSERT_FALSE(login.empty());
    EXPECT_EQ(SystemInfo::homeDirectory(), sandbox.root() + "/home/" + login);
    EXPECT_EQ(SystemInfo::homeDirectory("alice"), sandbox.root() + "/home/alice");
    EXPECT_EQ(sandbox.home(), sandbox.root() + "/home/" + login);
    for (const char* unsafe : {"../alice", "a/b", ".", ".."}) {
        SCOPED_TRACE(unsafe);
        EXPECT_EQ(SystemInfo::homeDirectory(unsafe), std::nullopt);
    }
}

TEST_F(SystemInfoTest, UserHomeEntriesListTheSandboxHomes) {
    fs::create_directories(sandbox.path("/home/alice"));
    fs::create_directories(sandbox.path("/home/bob"));
    Names entries = SystemInfo::userHomeEntries();
    std::sort(entries.begin(), entries.end());
    Names expected = {"alice", "bob", SystemInfo::loginName()};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(entries, expected);

    fs::remove_all(sandbox.path("/home"));
    EXPECT_TRUE(SystemInfo::userHomeEntries().empty());
}

TEST_F(SystemInfoTest, AdminGroupIsTheFirstOfAdminSudoWheel) {
    writeGroups("wheel:x:10:carol\nsudo:x:27:bob,alice\n");
    EXPECT_EQ(SystemInfo::adminGroupName(), "sudo");
    EXPECT_EQ(SystemInfo::groupMembers("sudo"), (Names{"bob", "alice"}));
    EXPECT_EQ(SystemInfo::groupMembers("wheel"), (Names{"carol"}));

    writeGroups("wheel:x:10:carol\nsudo:x:27:bob\nadmin:x:50:\n");
    EXPECT_EQ(SystemInfo::adminGroupName(), "admin");
    EXPECT_TRUE(SystemInfo::groupMembers("admin").empty());

    writeGroups("wheel:x:10:carol\nstaff:x:20:admin,sudo\n");
    EXPECT_EQ(SystemInfo::adminGroupName(), "wheel");

    writeGroups("staff:x:20:alice\n");
    EXPECT_EQ(SystemInfo::adminGroupName(), std::nullopt);
    EXPECT_TRUE(SystemInfo::groupMembers("nosuchgroup").empty());
}

TEST_F(SystemInfoTest, LongGroupLinesAreReadWhole) {
    std::string members;
    Names expected;
    for (int i = 0; i < 3000; ++i) {
        expected.push_back("member" + std::to_string(i));
        members += (i ? "," : "") + expected.back();
    }
    writeGroups("staff:x:20:x\nsudo:x:27:" + members + "\nwheel:x:10:last\n");
    EXPECT_EQ(SystemInfo::groupMembers("sudo"), expected);
    EXPECT_EQ(SystemInfo::groupMembers("wheel"), (Names{"last"}));
}

TEST_F(SystemInfoTest, GroupLookupsFromSeveralThreadsAgree) {
    writeGroups("wheel:x:10:carol,dave\nsudo:x:27:bob,alice\nstaff:x:20:erin\n");
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                const std::string group = (i + t) % 2 ? "sudo" : "wheel";
                const Names want = group == "sudo" ? Names{"bob", "alice"} : Names{"carol", "dave"};
                if (SystemInfo::groupMembers(group) != want)
                    ++wrong[t];
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST_F(SystemInfoTest, OsVersionTextHasTheShapeOfSwVers) {
    const std::string text = SystemInfo::osVersionText();
    EXPECT_TRUE(std::regex_match(
        text, std::regex("ProductName:\t[^\n]+\nProductVersion:\t[^\n]+\nBuildVersion:\t[^\n]+\n")))
        << text;
    EXPECT_GT(SystemInfo::osVersion().major, 0);
    EXPECT_TRUE(SystemInfo::isSupportedOs());
}

// The start-up report of the system: one line, the product, its version and
// the kernel, like the platform's own "Version 10.15.7 (Build 19H2)".
TEST_F(SystemInfoTest, OsVersionStringIsOneLine) {
    const std::string line = SystemInfo::operatingSystemVersionString();
    EXPECT_TRUE(
        std::regex_match(line, std::regex(R"(Version [^\x00-\x1f]+ \(Build [^\x00-\x1f]+\))")))
        << line;
    utsname u{};
    ASSERT_EQ(uname(&u), 0);
    EXPECT_NE(line.find(std::string("(Build ") + u.release + ")"), std::string::npos) << line;
}

TEST_F(SystemInfoTest, FreeBytesOfExistingAndMissingPaths) {
    EXPECT_TRUE(SystemInfo::freeBytes(sandbox.root()).has_value());
    EXPECT_EQ(SystemInfo::freeBytes(sandbox.path("/no/such/folder")), std::nullopt);
}

}  // namespace
}  // namespace tavo::platform
