// Where the links of active fonts go: single activations into the small
// recent folder, large batches into the shards, and the recent folder's move
// into a shard once it is full, with fontconfig listing every font once.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "FontconfigSandboxTest.h"
#include "platform/linux/FontLinkFolders.h"

namespace fs = std::filesystem;

namespace tavo::platform {
namespace {

class FontLinkFoldersTest : public FontconfigSandboxTest {
protected:
    std::string recent() const { return links + "/" + FontLinkFolders::kRecentFolderName; }

    std::size_t linksIn(const std::string& dir) const {
        std::size_t n = 0;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(dir, error))
            if (!entry.path().filename().string().starts_with("."))
                ++n;
        return n;
    }

    // How often a fresh fontconfig lists each link's file name.
    std::map<std::string, int> listedNames() {
        std::map<std::string, int> names;
        for (const std::string& file : listedLinks())
            ++names[fs::path(file).filename().string()];
        return names;
    }

    std::vector<std::string> fonts(const std::string& stem, int count) {
        std::vector<std::string> paths;
        for (int i = 0; i < count; ++i)
            paths.push_back(copyFont(stem + std::to_string(i) + ".ttf"));
        return paths;
    }
};

TEST_F(FontLinkFoldersTest, OneActivationGoesToTheRecentFolderAndBackOut) {
    auto manager = makeManager();
    const std::string font = copyFont("Single.ttf");
    ASSERT_TRUE(manager->registerFonts({font}, FontManagerScope::Persistent, nullptr));
    EXPECT_EQ(manager->linkPath("Single.ttf"), recent() + "/Single.ttf");
    EXPECT_EQ(manager->scopeForFile(font), FontManagerScope::Persistent);
    EXPECT_EQ(listedLinks(), std::vector<std::string>{recent() + "/Single.ttf"});
    // The recent folder's cache is up to date: no program rescans it.
    EXPECT_EQ(validCacheFaces(recent()), 1);

    ASSERT_TRUE(manager->unregisterFonts({font}, FontManagerScope::Persistent, nullptr));
    EXPECT_EQ(manager->scopeForFile(font), FontManagerScope::None);
    EXPECT_TRUE(listedLinks().empty());
}

TEST_F(FontLinkFoldersTest, AFileIsAnsweredForByItsLinkHoweverItsPathIsSpelled) {
    auto manager = makeManager();
    const std::string font = copyFont("Spelled.ttf");
    const std::string folder = fs::path(font).parent_path().string();
    ASSERT_TRUE(manager->registerFonts({font}, FontManagerScope::Persistent, nullptr));
    for (const std::string& spelled :
         {folder + "/./Spelled.ttf", folder + "//Spelled.ttf", folder + "/x/../Spelled.ttf"})
        EXPECT_EQ(manager->scopeForFile(spelled), FontManagerScope::Persistent) << spelled;
    EXPECT_EQ(manager->scopeForFile(folder + "/"), FontManagerScope::None);
    EXPECT_EQ(manager->scopeForFile(folder + "/../Spelled.ttf"), FontManagerScope::None);

    // The link replaced behind the manager's back by a file of its own.
    const std::string link = manager->linkPath("Spelled.ttf");
    fs::remove(link);
    fs::copy_file(font, link);
    EXPECT_EQ(manager->scopeForFile(font), FontManagerScope::None);
}

TEST_F(FontLinkFoldersTest, ALargeBatchIsSpreadOverTheShards) {
    auto manager = makeManager();
    const auto paths = fonts("Batch", static_cast<int>(FontLinkFolders::kSmallBatch) + 1);
    ASSERT_TRUE(manager->registerFonts(paths, FontManagerScope::Persistent, nullptr));
    EXPECT_EQ(linksIn(recent()), 0u);
    for (const std::string& path : paths) {
        EXPECT_EQ(manager->scopeForFile(path), FontManagerScope::Persistent) << path;
        EXPECT_NE(manager->shardFolder(fs::path(path).filename()), recent());
    }
    EXPECT_EQ(listedLinks().size(), paths.size());
}

TEST_F(FontLinkFoldersTest, AFullRecentFolderMovesIntoOneShardAndEveryFontStaysListedOnce) {
    auto manager = makeManager();
    const auto paths = fonts("Web", static_cast<int>(FontLinkFolders::kRecentLimit) + 1);
    for (const std::string& path : paths)
        ASSERT_TRUE(manager->registerFonts({path}, FontManagerScope::Persistent, nullptr));
    EXPECT_EQ(linksIn(recent()), 0u);
    std::set<std::string> shards;
    for (const std::string& path : paths) {
        EXPECT_EQ(manager->scopeForFile(path), FontManagerScope::Persistent) << path;
        shards.insert(manager->shardFolder(fs::path(path).filename()));
    }
    EXPECT_EQ(shards.size(), 1u);  // one shard rescanned, not all of them
    const auto names = listedNames();
    EXPECT_EQ(names.size(), paths.size());
    for (const auto& [name, times] : names)
        EXPECT_EQ(times, 1) << name;

    // A new version of a moved font replaces its link where it is now.
    const std::string updated = copyFont("Web3.ttf", "v2");
    const std::string folder = manager->shardFolder("Web3.ttf");
    ASSERT_TRUE(manager->registerFonts({updated}, FontManagerScope::Persistent, nullptr));
    EXPECT_EQ(manager->shardFolder("Web3.ttf"), folder);
    EXPECT_EQ(test::Sandbox::readFile(folder + "/Web3.ttf"), test::Sandbox::readFile(updated));
    EXPECT_EQ(listedNames()["Web3.ttf"], 1);
}

TEST_F(FontLinkFoldersTest, LinksMovedByAnotherProcessAreStillFound) {
    auto first = makeManager();
    auto second = makeManager();  // tavoctl beside the resident, say
    const std::string font = copyFont("Moved.ttf");
    ASSERT_TRUE(first->registerFonts({font}, FontManagerScope::Persistent, nullptr));
    EXPECT_EQ(second->scopeForFile(font), FontManagerScope::Persistent);
    // The second fills the recent folder and moves it into a shard.
    for (const std::string& path : fonts("Other", static_cast<int>(FontLinkFolders::kRecentLimit)))
        ASSERT_TRUE(second->registerFonts({path}, FontManagerScope::Persistent, nullptr));
    ASSERT_FALSE(test::Sandbox::exists(recent() + "/Moved.ttf"));

    EXPECT_EQ(first->scopeForFile(font), FontManagerScope::Persistent);
    ASSERT_TRUE(first->unregisterFonts({font}, FontManagerScope::Persistent, nullptr));
    EXPECT_EQ(second->scopeForFile(font), FontManagerScope::None);
    EXPECT_EQ(listedNames().count("Moved.ttf"), 0u);
}

TEST_F(FontLinkFoldersTest, ASecondLinkOfOneNameIsSweptAway) {
    const std::string font = copyFont("Twice.ttf");
    {
        auto manager = makeManager();
        ASSERT_TRUE(manager->registerFonts({font}, FontManagerScope::Persistent, nullptr));
    }
    // A move cut short left the name in two folders.
    const std::string shard = links + "/03";
    fs::create_directories(shard);
    fs::create_hard_link(font, shard + "/Twice.ttf");
    auto manager = makeManager();
    EXPECT_EQ(listedNames()["Twice.ttf"], 1);
    EXPECT_EQ(manager->scopeForFile(font), FontManagerScope::Persistent);
    ASSERT_TRUE(manager->unregisterFonts({font}, FontManagerScope::Persistent, nullptr));
    EXPECT_EQ(listedNames().count("Twice.ttf"), 0u);
}

}  // namespace
}  // namespace tavo::platform
