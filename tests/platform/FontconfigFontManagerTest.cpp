#include <dirent.h>
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "foundation/FileUtil.h"
#include "platform/Layout.h"
#include "platform/linux/FontconfigFontManager.h"
#include "platform/linux/SandboxFontconfig.h"
#include "support/Sandbox.h"

namespace fs = std::filesystem;

namespace tavo::platform {
namespace {

using namespace std::chrono_literals;

// The files a program starting now sees, asked of fontconfig directly.
std::set<std::string> freshlyListedFiles() {
    std::set<std::string> files;
    FcConfig* config = FcInitLoadConfigAndFonts();
    if (!config)
        return files;
    FcPattern* pattern = FcPatternCreate();
    FcObjectSet* objects = FcObjectSetBuild(FC_FILE, nullptr);
    if (FcFontSet* fonts = FcFontList(config, pattern, objects)) {
        for (int i = 0; i < fonts->nfont; ++i) {
            FcChar8* file = nullptr;
            if (FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &file) == FcResultMatch)
                files.insert(reinterpret_cast<const char*>(file));
        }
        FcFontSetDestroy(fonts);
    }
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    FcConfigDestroy(config);
    return files;
}

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

// A TrueType font of the machine, found through fontconfig (the sandbox's
// configuration reads /usr/share/fonts).
std::optional<std::string> machineFont() {
    static const std::optional<std::string> font = []() -> std::optional<std::string> {
        std::optional<std::string> any;
        for (const std::string& file : freshlyListedFiles()) {
            if (!file.starts_with("/usr/share/fonts/") || !file.ends_with(".ttf"))
                continue;
            if (file.ends_with("/DejaVuSans.ttf"))
                return file;
            if (!any)
                any = file;
        }
        return any;
    }();
    return font;
}

// The faces in fontconfig's cache of folder; none when it has no valid cache.
std::optional<int> validCacheFaces(const std::string& folder) {
    FcConfig* config = FcInitLoadConfig();
    FcCache* cache =
        FcDirCacheLoad(reinterpret_cast<const FcChar8*>(folder.c_str()), config, nullptr);
    std::optional<int> faces;
    if (cache) {
        faces = FcCacheNumFont(cache);
        FcDirCacheUnload(cache);
    }
    FcConfigDestroy(config);
    return faces;
}

std::size_t threadCount() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/task"))
        ++n;
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

class FontconfigFontManagerTest : public test::SandboxTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(SandboxFontconfig::install(sandbox.root()));
        const Layout layout = Layout::current();
        folder = sandbox.home() + "/" + layout.userFonts;
        listFile = sandbox.home() + "/" + layout.userFontConfig + "/" +
                   FontconfigFontManager::kListFileName;
        fs::create_directories(folder);
        if (!machineFont())
            GTEST_SKIP() << "fontconfig lists no TrueType font in /usr/share/fonts";
    }

    // A copy of the machine's font in the service's folder.
    std::string copyFont(const std::string& name) {
        const std::string path = folder + "/" + name;
        fs::copy_file(*machineFont(), path, fs::copy_options::overwrite_existing);
        return path;
    }

    std::shared_ptr<FontconfigFontManager> makeManager() {
        auto manager = FontconfigFontManager::create();
        EXPECT_TRUE(manager);
        return manager;
    }

    std::string folder;
    std::string listFile;
};

TEST_F(FontconfigFontManagerTest, CreateUsesTheUsersPlacesAndTheSandboxConfiguration) {
    ::unsetenv("FONTCONFIG_FILE");
    auto manager = makeManager();
    EXPECT_EQ(manager->fontFolder(), folder);
    EXPECT_EQ(manager->listFilePath(), listFile);
    const char* file = std::getenv("FONTCONFIG_FILE");
    ASSERT_TRUE(file);
    EXPECT_EQ(std::string(file), sandbox.root() + "/etc/fonts/fonts.conf");
    const std::string config = test::Sandbox::readFile(file);
    EXPECT_NE(config.find("<cachedir>" + sandbox.root() + "/var/cache/fontconfig</cachedir>"),
              std::string::npos);
    EXPECT_EQ(config.find("prefix=\"xdg\""), std::string::npos);

    // Nothing hidden: no list file is written.
    const std::string font = copyFont("Seen.ttf");
    EXPECT_EQ(manager->scopeForFile(font), FontManagerScope::Persistent);
    EXPECT_FALSE(test::Sandbox::exists(listFile));
    EXPECT_FALSE(fs::is_empty(sandbox.root() + "/var/cache/fontconfig"));
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
    const std::set<std::string> files = freshlyListedFiles();
    EXPECT_EQ(files, (std::set<std::string>{font, machine}));
    EXPECT_EQ(childListedFiles(), files);
}

TEST_F(FontconfigFontManagerTest, UnregisteredFileIsSeenByNoProgramUntilRegistered) {
    const std::string hidden = copyFont("Hidden.ttf");
    const std::string other = copyFont("Other.ttf");
    auto manager = makeManager();
    EXPECT_EQ(manager->scopeForFile(hidden), FontManagerScope::Persistent);

    std::vector<FontManagerError> errors;
    EXPECT_TRUE(manager->unregisterFonts({hidden}, FontManagerScope::Persistent, &errors));
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(manager->scopeForFile(hidden), FontManagerScope::None);
    EXPECT_EQ(manager->scopeForFile(other), FontManagerScope::Persistent);
    EXPECT_FALSE(freshlyListedFiles().contains(hidden));
    const std::set<std::string> child = childListedFiles();
    EXPECT_FALSE(child.contains(hidden));
    EXPECT_TRUE(child.contains(other));

    EXPECT_TRUE(manager->registerFonts({hidden}, FontManagerScope::Persistent, &errors));
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(manager->scopeForFile(hidden), FontManagerScope::Persistent);
    EXPECT_TRUE(freshlyListedFiles().contains(hidden));
    EXPECT_TRUE(childListedFiles().contains(hidden));
}

TEST_F(FontconfigFontManagerTest, FolderFormsAnswerPerFile) {
    std::vector<std::string> fonts;
    for (const char* name : {"A.ttf", "B.ttf", "C.ttf", "D.ttf", "E.ttf"})
        fonts.push_back(copyFont(name));
    auto manager = makeManager();
    const auto expectVisible = [&](const std::set<std::string>& visible) {
        for (const std::string& font : fonts)
            EXPECT_EQ(manager->scopeForFile(font), visible.contains(font)
                                                       ? FontManagerScope::Persistent
                                                       : FontManagerScope::None)
                << font;
        const std::set<std::string> child = childListedFiles();
        for (const std::string& font : fonts)
            EXPECT_EQ(child.contains(font), visible.contains(font)) << font;
    };

    // All hidden: one folder glob.
    EXPECT_TRUE(manager->unregisterFonts(fonts, FontManagerScope::Session, nullptr));
    std::string text = test::Sandbox::readFile(listFile);
    EXPECT_NE(text.find("<glob>" + folder + "/*</glob>"), std::string::npos);
    EXPECT_EQ(text.find("<acceptfont>"), std::string::npos);
    expectVisible({});

    // Most hidden: the folder rejected, the visible file accepted.
    EXPECT_TRUE(manager->registerFonts({fonts[1]}, FontManagerScope::Session, nullptr));
    text = test::Sandbox::readFile(listFile);
    EXPECT_NE(text.find("<acceptfont>\n      <glob>" + fonts[1] + "</glob>"), std::string::npos);
    expectVisible({fonts[1]});

    // A file that arrives while the folder is rejected is seen once noticed.
    const std::string late = copyFont("Late.ttf");
    fonts.push_back(late);
    expectVisible({fonts[1], late});

    // Fewer hidden: one glob per hidden file.
    EXPECT_TRUE(manager->registerFonts({fonts[0], fonts[2]}, FontManagerScope::Process, nullptr));
    text = test::Sandbox::readFile(listFile);
    EXPECT_EQ(text.find("/*</glob>"), std::string::npos);
    EXPECT_NE(text.find("<glob>" + fonts[3] + "</glob>"), std::string::npos);
    expectVisible({fonts[0], fonts[1], fonts[2], late});
}

TEST_F(FontconfigFontManagerTest, ListSurvivesANewInstance) {
    const std::string hidden = copyFont("Kept.ttf");
    const std::string seen = copyFont("Shown.ttf");
    {
        auto manager = makeManager();
        EXPECT_TRUE(manager->unregisterFonts({hidden}, FontManagerScope::Persistent, nullptr));
    }
    const std::string written = test::Sandbox::readFile(listFile);
    auto manager = makeManager();
    EXPECT_EQ(manager->hiddenFiles(), std::vector<std::string>{"Kept.ttf"});
    EXPECT_EQ(manager->scopeForFile(hidden), FontManagerScope::None);
    EXPECT_EQ(manager->scopeForFile(seen), FontManagerScope::Persistent);
    EXPECT_EQ(test::Sandbox::readFile(listFile), written);
}

TEST_F(FontconfigFontManagerTest, DeletedFileLeavesTheList) {
    const std::string gone = copyFont("Gone.ttf");
    const std::string kept = copyFont("Kept.ttf");
    auto manager = makeManager();
    EXPECT_TRUE(manager->unregisterFonts({gone, kept}, FontManagerScope::Persistent, nullptr));
    fs::remove(gone);
    EXPECT_EQ(manager->scopeForFile(kept), FontManagerScope::None);
    EXPECT_EQ(manager->hiddenFiles(), std::vector<std::string>{"Kept.ttf"});
    EXPECT_EQ(test::Sandbox::readFile(listFile).find("Gone.ttf"), std::string::npos);
}

TEST_F(FontconfigFontManagerTest, ConfigurationThatCannotLoadIsLoggedOnce) {
    const std::string font = copyFont("Font.ttf");
    test::LogCapture log(sandbox.path("/test.log"));
    ::setenv("FONTCONFIG_FILE", sandbox.path("/etc/fonts/missing.conf").c_str(), 1);
    FontconfigFontManager manager(folder, listFile);
    EXPECT_EQ(manager.scopeForFile(font), FontManagerScope::None);
    EXPECT_FALSE(manager.refreshCache());
    EXPECT_TRUE(manager.unregisterFonts({font}, FontManagerScope::Persistent, nullptr));
    EXPECT_TRUE(manager.registerFonts({font}, FontManagerScope::Persistent, nullptr));
    EXPECT_EQ(manager.scopeForFile(font), FontManagerScope::None);
    const std::string text = log.text();
    const std::size_t first = text.find("cannot load its configuration");
    EXPECT_NE(first, std::string::npos);
    EXPECT_EQ(text.find("cannot load its configuration", first + 1), std::string::npos);
}

TEST_F(FontconfigFontManagerTest, DamagedListIsReplaced) {
    const std::string font = copyFont("Font.ttf");
    test::Sandbox::writeFile(listFile, "<fontconfig><selectfont><rejectfont><glob>" + font);
    auto manager = makeManager();
    EXPECT_TRUE(manager->hiddenFiles().empty());
    const std::string text = test::Sandbox::readFile(listFile);
    EXPECT_NE(text.find("tavo-hidden-files"), std::string::npos);
    EXPECT_EQ(manager->scopeForFile(font), FontManagerScope::Persistent);
}

TEST_F(FontconfigFontManagerTest, RefusedFilesGetErrorsWhileTheOthersApply) {
    const std::string good = copyFont("Good.ttf");
    const std::string outside = sandbox.home() + "/Outside.ttf";
    fs::copy_file(*machineFont(), outside);
    const std::string nested = folder + "/sub/Nested.ttf";
    fs::create_directories(folder + "/sub");
    fs::copy_file(*machineFont(), nested);
    const std::string globName = copyFont("Star*.ttf");
    const std::string missing = folder + "/Missing.ttf";
    auto manager = makeManager();

    std::vector<FontManagerError> errors;
    EXPECT_FALSE(manager->unregisterFonts({outside, good, missing, nested, globName, folder},
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
    EXPECT_EQ(manager->hiddenFiles(), std::vector<std::string>{"Good.ttf"});
    EXPECT_EQ(manager->scopeForFile(good), FontManagerScope::None);
    EXPECT_EQ(manager->scopeForFile(outside), FontManagerScope::None);  // not in any font folder

    errors.clear();
    EXPECT_FALSE(manager->registerFonts({missing, good}, FontManagerScope::Persistent, &errors));
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(manager->scopeForFile(good), FontManagerScope::Persistent);
    EXPECT_TRUE(manager->registerFonts({}, FontManagerScope::Persistent, nullptr));
}

TEST_F(FontconfigFontManagerTest, NamesAreEscaped) {
    const std::string font = copyFont("R&D <Bold>.ttf");
    const std::string other = copyFont("Other.ttf");
    auto manager = makeManager();
    EXPECT_TRUE(manager->unregisterFonts({font}, FontManagerScope::Persistent, nullptr));
    const std::string text = test::Sandbox::readFile(listFile);
    EXPECT_NE(text.find("/R&amp;D &lt;Bold&gt;.ttf</glob>"), std::string::npos);
    EXPECT_EQ(manager->scopeForFile(font), FontManagerScope::None);
    EXPECT_EQ(manager->scopeForFile(other), FontManagerScope::Persistent);
    EXPECT_FALSE(childListedFiles().contains(font));
    EXPECT_EQ(makeManager()->hiddenFiles(), std::vector<std::string>{"R&D <Bold>.ttf"});
}

TEST_F(FontconfigFontManagerTest, OneSnapshotServesManyQuestions) {
    std::vector<std::string> fonts;
    for (int i = 0; i < 20; ++i)
        fonts.push_back(copyFont("Many-" + std::to_string(i) + ".ttf"));
    auto manager = makeManager();
    for (int round = 0; round < 50; ++round)
        for (const std::string& font : fonts)
            EXPECT_EQ(manager->scopeForFile(font), FontManagerScope::Persistent);
    EXPECT_EQ(manager->snapshotLoads(), 1);

    EXPECT_TRUE(manager->unregisterFonts({fonts[3]}, FontManagerScope::Persistent, nullptr));
    EXPECT_EQ(manager->scopeForFile(fonts[3]), FontManagerScope::None);
    EXPECT_EQ(manager->scopeForFile(fonts[4]), FontManagerScope::Persistent);
    EXPECT_EQ(manager->snapshotLoads(), 2);

    // A file copied in by someone else changes the folder: a new snapshot sees it.
    const std::string late = copyFont("Late.ttf");
    EXPECT_EQ(manager->scopeForFile(late), FontManagerScope::Persistent);
    EXPECT_EQ(manager->snapshotLoads(), 3);
}

TEST_F(FontconfigFontManagerTest, RefreshCacheMakesTheFolderCacheValid) {
    copyFont("Cached.ttf");
    auto manager = makeManager();
    EXPECT_EQ(validCacheFaces(folder), std::nullopt);
    EXPECT_TRUE(manager->refreshCache());
    EXPECT_EQ(validCacheFaces(folder), 1);
    EXPECT_TRUE(manager->refreshCache());  // valid: nothing to do
    bool cacheInSandbox = false;
    for (const auto& entry : fs::directory_iterator(sandbox.root() + "/var/cache/fontconfig"))
        cacheInSandbox = cacheInSandbox || entry.path().string().ends_with(".cache-8");
    EXPECT_TRUE(cacheInSandbox);

    // A batch and a snapshot refresh it when the folder changed.
    const std::string second = copyFont("Second.ttf");
    EXPECT_TRUE(manager->unregisterFonts({second}, FontManagerScope::Persistent, nullptr));
    EXPECT_EQ(validCacheFaces(folder), 2);
    copyFont("Third.ttf");
    manager->scopeForFile(second);
    EXPECT_EQ(validCacheFaces(folder), 3);
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
    const std::size_t baseline = threadCount();
    std::atomic<int> calls{0};
    manager->setFontsAddedHandler([&](const std::vector<std::string>&) { ++calls; });
    EXPECT_EQ(threadCount(), baseline + 1);
    manager->setFontsAddedHandler({});
    EXPECT_EQ(threadCount(), baseline);
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
