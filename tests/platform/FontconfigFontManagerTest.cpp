#include <dirent.h>
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "FontconfigSandboxTest.h"
#include "foundation/FileUtil.h"
#include "platform/Layout.h"
#include "platform/linux/FontLinkFolders.h"
#include "platform/linux/FontconfigFontManager.h"
#include "platform/linux/RejectListFile.h"
#include "platform/linux/SandboxFontconfig.h"
#include "support/Sandbox.h"

namespace fs = std::filesystem;

namespace tavo::platform {
namespace {

using namespace std::chrono_literals;

// What `fc-list : file` prints in a child process, which inherits FONTCONFIG_FILE.
std::set<std::string> childListedFiles() {
    std::set<std::string> files;
    FILE* pipe = ::popen("fc-list : file 2>/dev/null", "r");
    if (!pipe)
        return files;
    std::string output;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    ::pclose(pipe);
    for (std::size_t start = 0, end; start < output.size(); start = end + 1) {
        end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        std::string line = output.substr(start, end - start);
        if (line.ends_with(": "))
            line.resize(line.size() - 2);
        else if (line.ends_with(":"))
            line.pop_back();
        if (!line.empty())
            files.insert(line);
    }
    return files;
}

// Threads of this process with the given name. Counting every thread would
// also count the ones a sanitizer's runtime starts on its own.
std::size_t threadsNamed(const std::string& name) {
    std::size_t n = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/task")) {
        std::ifstream comm(entry.path() / "comm");
        std::string line;
        if (std::getline(comm, line) && line == name)
            ++n;
    }
    return n;
}

template <typename Predicate>
bool eventually(Predicate predicate, std::chrono::milliseconds limit = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

class FontconfigFontManagerTest : public FontconfigSandboxTest {};

TEST_F(FontconfigFontManagerTest, CreateUsesTheUsersPlacesAndTheSandboxConfiguration) {
    ::unsetenv("FONTCONFIG_FILE");
    auto manager = makeManager();
    EXPECT_EQ(manager->storageFolder(), folder);
    EXPECT_EQ(manager->linkFolder(), links);
    const char* file = std::getenv("FONTCONFIG_FILE");
    ASSERT_TRUE(file);
    EXPECT_EQ(std::string(file), sandbox.root() + "/etc/fonts/fonts.conf");
    const std::string config = test::Sandbox::readFile(file);
    EXPECT_NE(config.find("<cachedir>" + sandbox.root() + "/var/cache/fontconfig</cachedir>"),
              std::string::npos);
    EXPECT_EQ(config.find("prefix=\"xdg\""), std::string::npos);

    // The storage is out of fontconfig's sight: a stored file is not registered.
    const std::string font = copyFont("Stored.ttf");
    EXPECT_EQ(manager->scopeForFile(font), FontManagerScope::None);
    EXPECT_FALSE(freshlyListedFiles().contains(font));
}

TEST_F(FontconfigFontManagerTest, SystemRulesAreReadOnlyWhenAskedAndNeverTheRealUsers) {
    const std::string home = sandbox.path("/Users/ada");
    const std::string confD = home + "/.config/fontconfig/conf.d";
    // Without them (the tests' case) nothing of the machine's rules is read.
    const std::string plain = SandboxFontconfig::render(sandbox.root(), home);
    EXPECT_EQ(plain.find("/etc/fonts/conf.d"), std::string::npos);
    EXPECT_NE(plain.find("<include ignore_missing=\"yes\">" + confD + "</include>"),
              std::string::npos);

    const std::string rules = sandbox.path("/rules");
    fs::create_directories(rules);
    for (const char* name : {"60-latin.conf", "45-generic.conf", "50-user.conf", "README"})
        test::Sandbox::writeFile(rules + "/" + name, "<fontconfig/>");
    const std::string full = SandboxFontconfig::render(sandbox.root(), home, true, rules);
    const auto at = [&](const std::string& path) {
        return full.find("<include ignore_missing=\"yes\">" + path + "</include>");
    };
    ASSERT_NE(at(rules + "/45-generic.conf"), std::string::npos);
    ASSERT_NE(at(confD), std::string::npos);
    ASSERT_NE(at(rules + "/60-latin.conf"), std::string::npos);
    // In fontconfig's order, the sandbox user's rules where the real user's would be.
    EXPECT_LT(at(rules + "/45-generic.conf"), at(confD));
    EXPECT_LT(at(confD), at(rules + "/60-latin.conf"));
    EXPECT_EQ(full.find("50-user.conf"), std::string::npos);
    EXPECT_EQ(full.find("README"), std::string::npos);
    EXPECT_EQ(full.find("<cachedir>"), full.rfind("<cachedir>"));  // the sandbox's alone
}

TEST_F(FontconfigFontManagerTest, SandboxConfigurationWithoutSystemFonts) {
    const std::string font = copyFont("Own.ttf");
    const std::string machine = sandbox.path("/usr/local/share/fonts/Machine.ttf");
    fs::create_directories(FileUtil::parentPath(machine));
    fs::copy_file(*machineFont(), machine);
    ASSERT_TRUE(SandboxFontconfig::install(sandbox.root(), false));
    FontconfigFontManager manager({folder, links, FontconfigFontManager::kShardCount, {}});
    ASSERT_TRUE(manager.registerFonts({font}, FontManagerScope::Persistent, nullptr));
    const std::set<std::string> files = freshlyListedFiles();
    EXPECT_EQ(files, (std::set<std::string>{manager.linkPath("Own.ttf"), machine}));
    EXPECT_EQ(childListedFiles(), files);
}

TEST_F(FontconfigFontManagerTest, ActivationListsTheLinkAndDeactivationRemovesIt) {
    const std::string font = copyFont("Shown.ttf");
    const std::string other = copyFont("Other.ttf");
    test::Sandbox::writeFile(listFile, "<fontconfig/>\n");  // a reject list of the first design
    auto manager = makeManager();
    EXPECT_FALSE(test::Sandbox::exists(listFile));

    std::vector<FontManagerError> errors;
    EXPECT_TRUE(manager->registerFonts({font, other}, FontManagerScope::Persistent, &errors));
    EXPECT_TRUE(errors.empty());
    const std::string link = manager->linkPath("Shown.ttf");
    EXPECT_TRUE(link.starts_with(links + "/"));
    EXPECT_EQ(fs::path(link).parent_path().string(), manager->shardFolder("Shown.ttf"));
    EXPECT_TRUE(fs::equivalent(link, font));
    EXPECT_EQ(manager->scopeForFile(font), FontManagerScope::Persistent);
    EXPECT_TRUE(freshlyListedFiles().contains(link));
    EXPECT_TRUE(childListedFiles().contains(link));
    // The batch refreshed the cache of the link's shard folder.
    EXPECT_TRUE(validCacheFaces(manager->shardFolder("Shown.ttf")).has_value());

    EXPECT_TRUE(manager->unregisterFonts({font}, FontManagerScope::Session, &errors));
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(test::Sandbox::exists(link));
    EXPECT_TRUE(test::Sandbox::exists(font));
    EXPECT_EQ(manager->scopeForFile(font), FontManagerScope::None);
    EXPECT_EQ(manager->scopeForFile(other), FontManagerScope::Persistent);
    const std::set<std::string> listed = freshlyListedFiles();
    EXPECT_FALSE(listed.contains(link));
    EXPECT_TRUE(listed.contains(manager->linkPath("Other.ttf")));
    EXPECT_FALSE(childListedFiles().contains(link));

    // No reject configuration is written, whatever was done.
    EXPECT_FALSE(test::Sandbox::exists(listFile));
    EXPECT_TRUE(!fs::exists(FileUtil::parentPath(listFile)) ||
                fs::is_empty(FileUtil::parentPath(listFile)));
}

TEST_F(FontconfigFontManagerTest, UpdatedFontIsListedOnceWithTheNewContent) {
    const std::string font = copyFont("Versioned.ttf");
    auto manager = makeManager();
    ASSERT_TRUE(manager->registerFonts({font}, FontManagerScope::Persistent, nullptr));
    copyFont("Versioned.ttf", std::string(64, '\0'));  // version 2 renamed over version 1
    const std::string content = test::Sandbox::readFile(font);
    // The old link registers the old file, not this one.
    EXPECT_EQ(manager->scopeForFile(font), FontManagerScope::None);

    ASSERT_TRUE(manager->registerFonts({font}, FontManagerScope::Persistent, nullptr));
    EXPECT_EQ(manager->scopeForFile(font), FontManagerScope::Persistent);
    const std::vector<std::string> listed = listedLinks();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(test::Sandbox::readFile(listed[0]), content);
}

TEST_F(FontconfigFontManagerTest, CopiesWhereNoHardLinkCanBeMade) {
    const std::string first = copyFont("First.ttf");
    const std::string second = copyFont("Second.ttf");
    test::LogCapture log(sandbox.path("/test.log"));
    int attempts = 0;
    FontconfigFontManager manager({folder, links, FontconfigFontManager::kShardCount,
                                   [&](const std::string&, const std::string&) {
                                       ++attempts;
                                       return EXDEV;
                                   }});
    EXPECT_TRUE(manager.registerFonts({first, second}, FontManagerScope::Persistent, nullptr));
    EXPECT_EQ(attempts, 2);
    for (const std::string name : {"First.ttf", "Second.ttf"}) {
        const std::string copy = manager.linkPath(name);
        EXPECT_FALSE(fs::equivalent(copy, folder + "/" + name));
        EXPECT_EQ(test::Sandbox::readFile(copy), test::Sandbox::readFile(folder + "/" + name));
        EXPECT_EQ(manager.scopeForFile(folder + "/" + name), FontManagerScope::Persistent);
        EXPECT_TRUE(freshlyListedFiles().contains(copy));
    }
    const std::string text = log.text();
    const std::size_t logged = text.find("copied instead");
    EXPECT_NE(logged, std::string::npos);
    EXPECT_EQ(text.find("copied instead", logged + 1), std::string::npos);

    // A new version is not the copy's file until registered again.
    copyFont("First.ttf", "v2");
    EXPECT_EQ(manager.scopeForFile(first), FontManagerScope::None);
    EXPECT_TRUE(manager.registerFonts({first}, FontManagerScope::Persistent, nullptr));
    EXPECT_EQ(test::Sandbox::readFile(manager.linkPath("First.ttf")),
              test::Sandbox::readFile(first));
    EXPECT_TRUE(manager.unregisterFonts({first}, FontManagerScope::Persistent, nullptr));
    EXPECT_FALSE(test::Sandbox::exists(manager.linkPath("First.ttf")));
}

TEST_F(FontconfigFontManagerTest, CrashBetweenLinkAndRenameLeavesNoDuplicateAfterRestart) {
    const std::string font = copyFont("Crashed.ttf");
    const std::string fresh = copyFont("Fresh.ttf");
    std::string shard;
    {
        auto manager = makeManager();
        ASSERT_TRUE(manager->registerFonts({font}, FontManagerScope::Persistent, nullptr));
        shard = manager->shardFolder("Crashed.ttf");
        copyFont("Crashed.ttf", "v2");
        // The new version's link was made, the process died before the rename;
        // so did one of a font never linked before.
        fs::create_hard_link(font, shard + "/.Crashed.ttf.tavo-link");
        fs::create_directories(manager->shardFolder("Fresh.ttf"));
        fs::create_hard_link(fresh, manager->shardFolder("Fresh.ttf") + "/.Fresh.ttf.tavo-link");
    }
    auto manager = makeManager();
    EXPECT_FALSE(test::Sandbox::exists(shard + "/.Crashed.ttf.tavo-link"));
    EXPECT_FALSE(
        test::Sandbox::exists(manager->shardFolder("Fresh.ttf") + "/.Fresh.ttf.tavo-link"));
    EXPECT_EQ(manager->scopeForFile(fresh), FontManagerScope::None);
    EXPECT_EQ(listedLinks(), std::vector<std::string>{manager->linkPath("Crashed.ttf")});

    ASSERT_TRUE(manager->registerFonts({font}, FontManagerScope::Persistent, nullptr));
    const std::vector<std::string> listed = listedLinks();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(test::Sandbox::readFile(listed[0]), test::Sandbox::readFile(font));
}

TEST_F(FontconfigFontManagerTest, RemovedFontLosesItsLink) {
    const std::string gone = copyFont("Gone.ttf");
    const std::string later = copyFont("Later.ttf");
    const std::string kept = copyFont("Kept.ttf");
    auto manager = makeManager();
    ASSERT_TRUE(manager->registerFonts({gone, later, kept}, FontManagerScope::Persistent, nullptr));

    // Unregistered after its removal, as the controller may do it.
    fs::remove(gone);
    EXPECT_TRUE(manager->unregisterFonts({gone}, FontManagerScope::Persistent, nullptr));
    EXPECT_FALSE(test::Sandbox::exists(manager->linkPath("Gone.ttf")));

    // Removed behind the manager's back: the next batch end, or the next start, drops it.
    fs::remove(later);
    manager->fontFilesDidChange();
    EXPECT_FALSE(test::Sandbox::exists(manager->linkPath("Later.ttf")));
    EXPECT_EQ(listedLinks(), std::vector<std::string>{manager->linkPath("Kept.ttf")});
    fs::remove(kept);
    manager = makeManager();
    EXPECT_TRUE(listedLinks().empty());
}

TEST_F(FontconfigFontManagerTest, AShardThatIsALinkIsNeverSwept) {
    auto manager = makeManager();
    const std::string shard = manager->shardFolder("Mine.ttf");
    const std::string users = sandbox.path("/home/mine");
    fs::create_directories(users);
    test::Sandbox::writeFile(users + "/Mine.ttf", "the user's own file");
    fs::remove_all(shard);
    fs::create_directories(fs::path(shard).parent_path());
    fs::create_directory_symlink(users, shard);
    manager->fontFilesDidChange();
    manager = makeManager();
    EXPECT_TRUE(test::Sandbox::exists(users + "/Mine.ttf"));
}

TEST_F(FontconfigFontManagerTest, MigratesTheFirstLayoutAndKeepsTheUsersOwnFiles) {
    fs::create_directories(links);
    for (const char* name : {"Service-Active.ttf", "Service-Hidden.ttf", "Users-Own.ttf"})
        fs::copy_file(*machineFont(), links + "/" + name);
    test::Sandbox::writeFile(links + "/Users-Own.ttf", "the user's bytes");
    // A folder of the user's own beside the shards, holding a name no stored
    // file has: the start-up sweep of stale links leaves it alone.
    fs::create_directories(links + "/Mine");
    test::Sandbox::writeFile(links + "/Mine/Kept.ttf", "the user's folder");
    test::Sandbox::writeFile(listFile, RejectListFile::render(links, {"Service-Hidden.ttf"}, {}));
    ::unsetenv("FONTCONFIG_FILE");
    auto manager = FontconfigFontManager::create([](const std::string& path) {
        return fs::path(path).filename().string().starts_with("Service");
    });
    ASSERT_TRUE(manager);

    EXPECT_FALSE(test::Sandbox::exists(listFile));
    EXPECT_EQ(test::Sandbox::readFile(links + "/Users-Own.ttf"), "the user's bytes");
    EXPECT_EQ(test::Sandbox::readFile(links + "/Mine/Kept.ttf"), "the user's folder");
    manager->fontFilesDidChange();
    EXPECT_TRUE(test::Sandbox::exists(links + "/Mine/Kept.ttf"));
    std::set<std::string> topFiles;
    for (const auto& entry : fs::directory_iterator(links))
        if (!entry.is_directory())
            topFiles.insert(entry.path().filename().string());
    EXPECT_EQ(topFiles, std::set<std::string>{"Users-Own.ttf"});
    const std::string active = folder + "/Service-Active.ttf";
    const std::string hidden = folder + "/Service-Hidden.ttf";
    EXPECT_EQ(manager->scopeForFile(active), FontManagerScope::Persistent);
    EXPECT_EQ(manager->scopeForFile(hidden), FontManagerScope::None);
    EXPECT_TRUE(test::Sandbox::exists(hidden));
    const std::vector<std::string> listed = listedLinks();
    EXPECT_EQ(listed, std::vector<std::string>{manager->linkPath("Service-Active.ttf")});
}

TEST_F(FontconfigFontManagerTest, ConfigurationThatCannotLoadIsLoggedOnce) {
    const std::string font = copyFont("Font.ttf");
    test::LogCapture log(sandbox.path("/test.log"));
    ::setenv("FONTCONFIG_FILE", sandbox.path("/etc/fonts/missing.conf").c_str(), 1);
    FontconfigFontManager manager({folder, links, FontconfigFontManager::kShardCount, {}});
    EXPECT_TRUE(manager.registerFonts({font}, FontManagerScope::Persistent, nullptr));
    EXPECT_TRUE(manager.unregisterFonts({font}, FontManagerScope::Persistent, nullptr));
    EXPECT_TRUE(manager.registerFonts({font}, FontManagerScope::Persistent, nullptr));
    EXPECT_FALSE(manager.refreshCache());
    EXPECT_EQ(manager.scopeForFile(font), FontManagerScope::Persistent);  // the link answers
    const std::string text = log.text();
    const std::size_t first = text.find("cannot load its configuration");
    EXPECT_NE(first, std::string::npos);
    EXPECT_EQ(text.find("cannot load its configuration", first + 1), std::string::npos);
}

TEST_F(FontconfigFontManagerTest, RefusedFilesGetErrorsWhileTheOthersApply) {
    const std::string good = copyFont("Good.ttf");
    const std::string outside = sandbox.home() + "/Outside.ttf";
    fs::copy_file(*machineFont(), outside);
    const std::string nested = folder + "/sub/Nested.ttf";
    fs::create_directories(folder + "/sub");
    fs::copy_file(*machineFont(), nested);
    const std::string dotName = folder + "/.Hidden.ttf";
    fs::copy_file(*machineFont(), dotName);
    const std::string missing = folder + "/Missing.ttf";
    auto manager = makeManager();

    std::vector<FontManagerError> errors;
    EXPECT_FALSE(manager->registerFonts({outside, good, missing, nested, dotName, folder},
                                        FontManagerScope::Persistent, &errors));
    ASSERT_EQ(errors.size(), 5u);
    EXPECT_EQ(errors[0].path, outside);
    EXPECT_EQ(errors[0].code, kFontManagerErrorNotInFontFolder);
    EXPECT_EQ(errors[1].path, missing);
    EXPECT_EQ(errors[1].code, kFontManagerErrorFileNotFound);
    EXPECT_EQ(errors[2].code, kFontManagerErrorNotInFontFolder);
    EXPECT_EQ(errors[3].code, kFontManagerErrorNameNotManaged);
    EXPECT_EQ(errors[4].code, kFontManagerErrorNotInFontFolder);
    for (const FontManagerError& error : errors)
        EXPECT_FALSE(error.description.empty());
    EXPECT_EQ(manager->scopeForFile(good), FontManagerScope::Persistent);
    EXPECT_EQ(manager->scopeForFile(outside), FontManagerScope::None);
    EXPECT_EQ(listedLinks(), std::vector<std::string>{manager->linkPath("Good.ttf")});

    // A shard folder that cannot be written fails its files only (a batch
    // large enough to go to the shards).
    const std::string blocked = copyFont("Blocked.ttf");
    std::vector<std::string> batch{blocked};
    for (std::size_t i = 0; i < FontLinkFolders::kSmallBatch; ++i)
        batch.push_back(copyFont("Batch" + std::to_string(i) + ".ttf"));
    const std::string shard = manager->shardFolder("Blocked.ttf");
    fs::remove_all(shard);
    test::Sandbox::writeFile(shard, "not a folder");
    errors.clear();
    EXPECT_FALSE(manager->registerFonts(batch, FontManagerScope::Persistent, &errors));
    ASSERT_EQ(errors.size(),
              1u + std::count_if(batch.begin() + 1, batch.end(), [&](const std::string& path) {
                  return manager->shardFolder(fs::path(path).filename()) == shard;
              }));
    EXPECT_EQ(errors[0].path, blocked);
    EXPECT_EQ(errors[0].code, kFontManagerErrorCannotWrite);
    for (const std::string& path : batch) {
        if (manager->shardFolder(fs::path(path).filename()) != shard) {
            EXPECT_EQ(manager->scopeForFile(path), FontManagerScope::Persistent) << path;
        }
    }
    EXPECT_TRUE(manager->registerFonts({}, FontManagerScope::Persistent, nullptr));
}

TEST_F(FontconfigFontManagerTest, NamesNeedNoEscaping) {
    const std::string font = copyFont("R&D <Bold>*.ttf");
    auto manager = makeManager();
    EXPECT_TRUE(manager->registerFonts({font}, FontManagerScope::Persistent, nullptr));
    EXPECT_EQ(manager->scopeForFile(font), FontManagerScope::Persistent);
    EXPECT_TRUE(childListedFiles().contains(manager->linkPath("R&D <Bold>*.ttf")));
}

TEST_F(FontconfigFontManagerTest, NamesSpreadOverTheShards) {
    auto manager = makeManager();
    std::set<std::string> shards;
    for (int i = 0; i < 400; ++i)
        shards.insert(manager->shardFolder("Font-" + std::to_string(i) + ".otf"));
    EXPECT_EQ(shards.size(), static_cast<std::size_t>(FontconfigFontManager::kShardCount));
    EXPECT_EQ(manager->shardFolder("A.otf"), manager->shardFolder("A.otf"));
}

TEST_F(FontconfigFontManagerTest, FontsAddedHandlerReportsARenamedFileOnce) {
    auto manager = makeManager();
    std::mutex mutex;
    std::vector<std::vector<std::string>> calls;
    manager->setFontsAddedHandler([&](const std::vector<std::string>& paths) {
        std::lock_guard lock(mutex);
        calls.push_back(paths);
    });
    const std::string temporary = folder + "/.Arrived.ttf.XXXXXX";
    fs::copy_file(*machineFont(), temporary);
    fs::rename(temporary, folder + "/Arrived.ttf");
    EXPECT_TRUE(eventually([&] {
        std::lock_guard lock(mutex);
        return !calls.empty();
    }));
    std::this_thread::sleep_for(300ms);
    manager->setFontsAddedHandler({});
    std::lock_guard lock(mutex);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], std::vector<std::string>{folder + "/Arrived.ttf"});
}

TEST_F(FontconfigFontManagerTest, EmptyHandlerStopsTheWatcher) {
    auto manager = makeManager();
    std::atomic<int> calls{0};
    manager->setFontsAddedHandler([&](const std::vector<std::string>&) { ++calls; });
    EXPECT_TRUE(eventually([] { return threadsNamed("fontWatcher") == 1; }));
    manager->setFontsAddedHandler({});
    EXPECT_EQ(threadsNamed("fontWatcher"), 0u);
    copyFont("Unreported.ttf");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(calls, 0);
}

TEST_F(FontconfigFontManagerTest, HandlerMayOutliveTheManager) {
    auto manager = makeManager();
    std::atomic<int> calls{0};
    manager->setFontsAddedHandler([&](const std::vector<std::string>&) { ++calls; });
    copyFont("Busy.ttf");
    manager.reset();  // stops the watcher whether or not its burst was reported
    copyFont("After.ttf");
    std::this_thread::sleep_for(200ms);
    EXPECT_LE(calls, 1);
}

}  // namespace
}  // namespace tavo::platform
