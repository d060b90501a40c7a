#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>

#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/Log.h"
#include "platform/SystemInfo.h"
#include "support/Sandbox.h"

namespace fs = std::filesystem;
using tavo::Log;
using tavo::test::Sandbox;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// Every test writes through the program's log, pointed into its sandbox.
class LogTest : public tavo::test::SandboxTest {
protected:
    std::string contents() { return log.text(); }

    tavo::test::LogCapture log{sandbox.home() + "/logs/TAVO.log"};
    const std::string path = log.path();
};

const std::regex kLineShape(
    R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{4} TAVO\[\d+:[0-9a-f]{8}\] \[(INFO|WARN|ERROR|FATAL|DEBUG)\] \S+ .*)");

}  // namespace

TEST_F(LogTest, LinesHaveTheFixedShapeAndOneLineFeed) {
    tavo::ILog("Request %@", "/fonts");
    tavo::WLog("warned\n");
    tavo::ELog("code=%@, message=%@", "1007", "MSG_E2011");
    tavo::FLog("fatal %d", 1);
    const auto text = contents();
    const auto all = lines(text);
    ASSERT_EQ(all.size(), 4u) << text;
    for (const auto& line : all)
        EXPECT_TRUE(std::regex_match(line, kLineShape)) << line;
    EXPECT_NE(all[0].find("[INFO] "), std::string::npos);
    EXPECT_TRUE(all[0].ends_with(" Request /fonts"));
    EXPECT_TRUE(all[1].ends_with("[WARN] " + tavo::platform::SystemInfo::loginName() + " warned"));
    EXPECT_EQ(text.find("\n\n"), std::string::npos);
}

TEST_F(LogTest, DebugLinesOnlyInDebugMode) {
    tavo::DLog("hidden");
    EXPECT_FALSE(Log::defaultLog().applyLogMode("debug"));
    EXPECT_EQ(Log::defaultLog().inquireLogMode(), tavo::kLogModeNormal);
    tavo::DLog("still hidden");
    ASSERT_TRUE(Log::defaultLog().applyLogMode(tavo::kLogModeDebug));
    tavo::DLog("shown");
    TAVO_DLOG("%@", "operation line");
    const auto all = lines(contents());
    ASSERT_EQ(all.size(), 2u);
    EXPECT_NE(all[0].find("[DEBUG]"), std::string::npos);
    EXPECT_TRUE(all[0].ends_with(" shown"));
    // "main|sub:<thread> <function> <message>"
    EXPECT_TRUE(std::regex_search(
        all[1], std::regex(R"(\] \S+ (main|sub):\d+ .*TestBody.* operation line$)")))
        << all[1];
}

TEST_F(LogTest, MarkerFileSelectsTheMode) {
    EXPECT_TRUE(tavo::Config::setAppLogMode());
    EXPECT_EQ(Log::defaultLog().logMode(), tavo::kLogModeNormal);
    Sandbox::writeFile(*tavo::Const::getLogModeSettingFilePath(), "");
    EXPECT_TRUE(tavo::Config::setAppLogMode());
    EXPECT_EQ(Log::defaultLog().logMode(), tavo::kLogModeDebug);
    const auto text = contents();
    EXPECT_NE(text.find("The log mode has changed successfully into  DEBUG."), std::string::npos)
        << text;
}

TEST_F(LogTest, RotatesOnlyAboveTenMillionBytes) {
    fs::create_directories(fs::path(path).parent_path());
    fs::resize_file((Sandbox::writeFile(path, ""), path), tavo::kLogMaximumSize);
    Sandbox::writeFile(path + "_1", "older generation\n");
    tavo::ILog("at the limit");
    Log::defaultLog().flush();
    EXPECT_GT(fs::file_size(path), static_cast<uintmax_t>(tavo::kLogMaximumSize));
    EXPECT_EQ(Sandbox::readFile(path + "_1"), "older generation\n");

    // Now one byte (and more) above: the file becomes the first generation,
    // the older one is gone, and the line starts a fresh file.
    tavo::ILog("after the limit");
    const auto fresh = lines(contents());
    ASSERT_EQ(fresh.size(), 1u);
    EXPECT_TRUE(fresh[0].ends_with("after the limit"));
    EXPECT_GT(fs::file_size(path + "_1"), static_cast<uintmax_t>(tavo::kLogMaximumSize));
    EXPECT_FALSE(Sandbox::exists(path + "_last"));
}

TEST_F(LogTest, DeletedFileIsCreatedAgain) {
    tavo::ILog("first");
    Log::defaultLog().flush();
    fs::remove_all(fs::path(path).parent_path());
    tavo::ILog("second");
    const auto all = lines(contents());
    ASSERT_EQ(all.size(), 1u);
    EXPECT_TRUE(all[0].ends_with("second"));
}

TEST_F(LogTest, FileMovedAwayByAnotherProgramIsLeftAlone) {
    tavo::ILog("first");
    Log::defaultLog().flush();
    fs::rename(path, path + ".old");  // an outside rotation
    tavo::ILog("second");
    Log::defaultLog().flush();
    ASSERT_EQ(lines(Sandbox::readFile(path + ".old")).size(), 1u);
    const auto fresh = lines(contents());
    ASSERT_EQ(fresh.size(), 1u);
    EXPECT_TRUE(fresh[0].ends_with("second"));
}

TEST_F(LogTest, PrimitiveLineIsWrittenAtOnce) {
    tavo::primitiveILog("starting %@", "TAVO");
    const auto all = lines(Sandbox::readFile(path));  // no flush: it is already there
    ASSERT_EQ(all.size(), 1u);
    EXPECT_TRUE(std::regex_match(all[0], kLineShape));
    EXPECT_TRUE(
        all[0].ends_with("[INFO] " + tavo::platform::SystemInfo::loginName() + " starting TAVO"));
}

// The numbers of the process and the thread are kept, not asked for each
// line: a child made by fork names its own.
TEST_F(LogTest, AForkedChildsLinesNameTheChildsProcessAndThread) {
    tavo::primitiveILog("parent");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        tavo::primitiveILog("child");
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const auto all = lines(Sandbox::readFile(path));
    ASSERT_EQ(all.size(), 2u);
    char own[64];
    std::snprintf(own, sizeof own, "[%d:%08x]", static_cast<int>(::getpid()),
                  static_cast<unsigned>(tavo::logging::threadNumber()));
    char childs[64];  // the child's one thread has the process's number
    std::snprintf(childs, sizeof childs, "[%d:%08x]", static_cast<int>(child),
                  static_cast<unsigned>(child));
    EXPECT_NE(all[0].find(own), std::string::npos) << all[0];
    EXPECT_NE(all[1].find(childs), std::string::npos) << all[1];
}

TEST_F(LogTest, LinesFromManyThreadsStayWholeAndInOrder) {
    constexpr int kThreads = 6;
    constexpr int kLines = 300;
    const std::string padding(300, 'x');
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i)
                tavo::ILog("t%d n%d %@", t, i, padding);
        });
    for (auto& thread : threads)
        thread.join();
    const auto all = lines(contents());
    ASSERT_EQ(all.size(), static_cast<size_t>(kThreads * kLines));
    std::vector<int> next(kThreads, 0);
    const std::regex body(R"(.* t(\d+) n(\d+) x{300}$)");
    for (const auto& line : all) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, body)) << line;
        const int t = std::stoi(m[1]);
        EXPECT_EQ(std::stoi(m[2]), next[t]++);
    }
}

TEST_F(LogTest, ALogThatEndsWritesItsQueuedLinesFirst) {
    const std::string own = sandbox.home() + "/logs/Other.log";
    fs::create_directories(fs::path(own).parent_path());
    {
        Log other;
        other.setLogFilePath(own, "Other");
        for (int i = 0; i < 50; ++i)
            other.write(tavo::kLogLevelInfo, "line " + std::to_string(i));
    }
    const auto all = lines(Sandbox::readFile(own));
    ASSERT_EQ(all.size(), 50u);
    EXPECT_TRUE(all.back().ends_with("line 49"));
}

// What a server or a font file hands us is logged as text, never as lines
// of its own: every control character is escaped, and so is the backslash, so
// that an escape in the file always stands for one character of the message.
TEST_F(LogTest, ControlCharactersAreEscapedSoAMessageIsOneLine) {
    const std::string hostile("font a\nb\rc", 10);
    const std::string forged = "x\n2024-05-01 09:15:02.1230 TAVO[1:00000001] [INFO] alice forged";
    tavo::ILog("Name: %@", hostile + std::string("\0d\x1b[31me\tf\\g\x7f", 13));
    tavo::WLog("Message: %@", forged);
    Log::defaultLog().flush();  // the direct line does not wait for queued ones
    tavo::primitiveILog("Message: %@", forged);
    const auto all = lines(contents());
    ASSERT_EQ(all.size(), 3u) << contents();
    for (const auto& line : all)
        EXPECT_TRUE(std::regex_match(line, kLineShape)) << line;
    EXPECT_TRUE(all[0].ends_with(R"( Name: font a\nb\rc\0d\x1b[31me\tf\\g\x7f)")) << all[0];
    EXPECT_TRUE(all[1].ends_with(
        R"( Message: x\n2024-05-01 09:15:02.1230 TAVO[1:00000001] [INFO] alice forged)"))
        << all[1];
    EXPECT_TRUE(all[2].ends_with(R"(alice forged)")) << all[2];
    EXPECT_EQ(contents().find('\0'), std::string::npos);
}

TEST_F(LogTest, OnlyTheFormatsLineFeedEndsTheLine) {
    tavo::ILog("value=%@\n", "kept\n");  // the argument's line feed is content
    tavo::ILog("%@", "\n\n");
    const auto all = lines(contents());
    ASSERT_EQ(all.size(), 2u) << contents();
    EXPECT_TRUE(all[0].ends_with(R"( value=kept\n)")) << all[0];
    EXPECT_TRUE(all[1].ends_with(R"( \n\n)")) << all[1];
}

// The file stays valid UTF-8 whatever the message holds: a byte that is no
// part of a character is written as \xNN, and the control characters beyond
// ASCII (C1, the Unicode line and paragraph separators) as \uNNNN.
TEST_F(LogTest, InvalidUtf8AndUnicodeLineBreaksAreEscaped) {
    tavo::ILog(
        "%@",
        "caf\xc3\xa9 \xff\xfe \xc3 \xe2\x82 \xc2\x85 \xe2\x80\xa8 \xe2\x80\xa9 \xf0\x9f\x98\x80 "
        "\xc0\xaf \xed\xa0\x80 end");
    const auto all = lines(contents());
    ASSERT_EQ(all.size(), 1u) << contents();
    EXPECT_TRUE(all[0].ends_with(
        "caf\xc3\xa9 \\xff\\xfe \\xc3 \\xe2\\x82 \\u0085 \\u2028 \\u2029 \xf0\x9f\x98\x80 "
        "\\xc0\\xaf \\xed\\xa0\\x80 end"))
        << all[0];
}

// The log holds the user's e-mail address: only the user may read it.
TEST_F(LogTest, LogFilesAndTheirFolderAreTheUsersOnly) {
    auto mode = [](const std::string& p) {
        struct stat st {};
        EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
        return st.st_mode & 07777;
    };
    const std::string folder = fs::path(path).parent_path().string();
    tavo::primitiveILog("first");
    EXPECT_EQ(mode(path), 0600u);
    EXPECT_EQ(mode(folder), 0700u);
    tavo::ILog("second");
    Log::defaultLog().flush();
    EXPECT_EQ(mode(path), 0600u);

    // Files and a folder left readable by an earlier version are tightened.
    fs::remove_all(folder);
    Sandbox::writeFile(path, "old line\n");
    Sandbox::writeFile(path + "_1", "older generation\n");
    ::chmod(folder.c_str(), 0755);
    ::chmod(path.c_str(), 0644);
    ::chmod((path + "_1").c_str(), 0644);
    tavo::ILog("third");
    Log::defaultLog().flush();
    EXPECT_EQ(mode(path), 0600u);
    EXPECT_EQ(mode(path + "_1"), 0600u);
    EXPECT_EQ(mode(folder), 0700u);

    // A rotated generation keeps the mode.
    ::chmod(path.c_str(), 0644);
    fs::resize_file(path, tavo::kLogMaximumSize + 1);
    tavo::ILog("after the rotation");
    Log::defaultLog().flush();
    EXPECT_EQ(mode(path + "_1"), 0600u);
    EXPECT_EQ(mode(path), 0600u);
}

TEST(LogPaths, ProgramNameChoosesTheFile) {
    tavo::test::Sandbox sandbox;
    const auto logs = *tavo::Const::applicationUserLogDirectoryPath();
    EXPECT_EQ(*tavo::Const::applicationLogPath(), logs + "/TAVO.log");
    EXPECT_EQ(*tavo::Const::applicationInstallerLogPath(), logs + "/TAVO-Installer.log");
    EXPECT_EQ(*tavo::Const::applicationUninstallerLogPath(), logs + "/TAVO-Uninstaller.log");
}
