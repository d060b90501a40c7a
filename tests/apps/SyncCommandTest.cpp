// `tavoctl sync` and `tavoctl fonts` against the reference service, with a
// font manager of the test's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "ApiCommand.h"
#include "FontsCommand.h"
#include "SyncCommand.h"
#include "fonts/FontManagementController.h"
#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/CryptorUtil.h"
#include "foundation/FileUtil.h"
#include "foundation/MainQueue.h"
#include "foundation/Process.h"
#include "foundation/SerialQueue.h"
#include "platform/FontManager.h"
#include "service/ApiClient.h"
#include "service/FontsApi.h"
#include "service/ServiceFixture.h"

namespace tavo::test {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

// A font manager in which a file is visible once registered.
class RegisteringFontManager : public platform::FontManager {
public:
    platform::FontManagerScope scopeForFile(const std::string& path) override {
        std::lock_guard lock(mutex_);
        return registered_.count(path) ? platform::FontManagerScope::Persistent
                                       : platform::FontManagerScope::None;
    }
    bool registerFonts(const std::vector<std::string>& paths, platform::FontManagerScope,
                       std::vector<platform::FontManagerError>* errors) override {
        std::lock_guard lock(mutex_);
        bool ok = true;
        for (const auto& path : paths) {
            if (refused_.count(path)) {
                ok = false;
                if (errors)
                    errors->push_back({path, 102, "refused by the test"});
                continue;
            }
            registered_.insert(path);
        }
        return ok;
    }
    bool unregisterFonts(const std::vector<std::string>& paths, platform::FontManagerScope,
                         std::vector<platform::FontManagerError>*) override {
        std::lock_guard lock(mutex_);
        for (const auto& path : paths)
            registered_.erase(path);
        return true;
    }
    void setFontsAddedHandler(FontsAddedHandler) override {}

    void refuse(const std::string& path) {
        std::lock_guard lock(mutex_);
        refused_.insert(path);
    }

private:
    std::mutex mutex_;
    std::set<std::string> registered_;
    std::set<std::string> refused_;
};

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

// A signed-in user of the reference service whose account holds three fonts
// under contract, active: the user configuration and the server
// configuration of the sandbox say so.
class TavoctlSyncTest : public ServiceFixture {
protected:
    json seed() const override { return contractedAccountSeed(); }

    void SetUp() override {
        ServiceFixture::SetUp();
        if (HasFatalFailure())
            return;
        signIn();
        if (HasFatalFailure())
            return;
        storeServerAddresses();
        storeSignIn(*client.deviceId(), *client.refreshToken());
        fonts = accountFonts();
        ASSERT_EQ(fonts.size(), 3u);
        // In the order the chain fetches them.
        std::sort(fonts.begin(), fonts.end(), [](const Fonts& a, const Fonts& b) {
            return std::stol(a.fontId.value_or("0")) < std::stol(b.fontId.value_or("0"));
        });
        service.context()->requests.clear();
    }

    std::vector<Fonts> accountFonts() {
        std::optional<Error> error;
        auto page = FontsApi(client).getFontsWithContains(kContainsAvailableFonts, 1000, 0, &error);
        return page.data && page.data->fonts ? *page.data->fonts : std::vector<Fonts>{};
    }

    // `tavoctl sync` as the program runs it, with a client of its own set up
    // from the sandbox's configuration.
    int sync(ctl::SyncOptions options = {}) {
        out.str("");
        err.str("");
        tools.push_back(std::make_unique<ApiClient>());
        ctl::configureClientFromUserConfig(*tools.back());
        return ctl::runSyncCommand(out, err, *tools.back(), fontManager, options);
    }

    int fontsCommand(const std::vector<std::string>& args) {
        out.str("");
        err.str("");
        return ctl::runFontsCommand(args, out, err, fontManager.get());
    }

    std::string fontPath(const std::string& fileName) const {
        return *Const::userFontDirectoryPath() + "/" + fileName;
    }

    std::size_t fontFileRequests() {
        std::size_t n = 0;
        for (const auto& entry : requests(""))
            n += entry["path"].get<std::string>().rfind("/api/v1/fonts/", 0) == 0;
        return n;
    }

    std::string status(const std::string& fontId) {
        const auto list = Config::fontList();
        const auto* record = list ? plistGet<PlistDict>(*list, fontId) : nullptr;
        const auto* value = record ? plistGet<std::string>(*record, kFontStatusType) : nullptr;
        return value ? *value : std::string("(none)");
    }

    std::shared_ptr<RegisteringFontManager> fontManager =
        std::make_shared<RegisteringFontManager>();
    std::vector<Fonts> fonts;
    std::vector<std::unique_ptr<ApiClient>> tools;  // outlive the runs' queues
    std::ostringstream out, err;
};

TEST_F(TavoctlSyncTest, DownloadsTheAccountsFontsAndSummarizesTheRun) {
    ASSERT_EQ(sync(), 0) << out.str() << err.str();
    std::uintmax_t bytes = 0;
    for (const auto& font : fonts) {
        const std::string path = fontPath(*font.fileName);
        ASSERT_TRUE(FileUtil::exists(path)) << path;
        bytes += std::filesystem::file_size(path);
        // The list on disk was written before the command ended.
        EXPECT_EQ(status(*font.fontId), kFontStatusInstalled);
        EXPECT_EQ(fontManager->scopeForFile(path), platform::FontManagerScope::Persistent);
    }
    const std::string text = out.str();
    EXPECT_EQ(text.find('\r'), std::string::npos) << text;
    EXPECT_NE(text.find("3/3 fonts (100%)"), std::string::npos) << text;
    EXPECT_NE(text.find("Font Synchronization Completed\n"), std::string::npos) << text;
    EXPECT_NE(text.find("activated:       3\n"), std::string::npos) << text;
    EXPECT_NE(text.find("failures:        0\n"), std::string::npos) << text;
    // The sizes of the installed files add up.
    char size[32];
    if (bytes < 1000000)
        std::snprintf(size, sizeof size, "(%.0f kB)", bytes / 1e3);
    else
        std::snprintf(size, sizeof size, "(%.1f MB)", bytes / 1e6);
    EXPECT_NE(text.find(std::string("fonts installed: 3 of 3 ") + size), std::string::npos)
        << size << "\n"
        << text;
    EXPECT_TRUE(err.str().empty()) << err.str();

    // A second run has nothing to fetch or activate.
    service.context()->requests.clear();
    ASSERT_EQ(sync(), 0) << out.str() << err.str();
    EXPECT_EQ(fontFileRequests(), 0u);
    EXPECT_NE(out.str().find("fonts installed: 0 of 0"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("activated:       0\n"), std::string::npos) << out.str();
}

TEST_F(TavoctlSyncTest, OnATerminalRedrawsOneBarInPlace) {
    ctl::SyncOptions options;
    options.terminal = true;
    ASSERT_EQ(sync(options), 0) << out.str() << err.str();
    const std::string text = out.str();
    const auto summary = text.find("Font Synchronization Completed");
    ASSERT_NE(summary, std::string::npos) << text;
    const std::string progress = text.substr(0, summary);
    EXPECT_GE(count(progress, "\r"), 1u) << progress;
    // One line, ended once before the summary, its last drawing complete.
    EXPECT_EQ(count(progress, "\n"), 1u) << progress;
    EXPECT_EQ(progress.back(), '\n');
    const std::string lastDrawing = progress.substr(progress.rfind('\r') + 1);
    EXPECT_EQ(lastDrawing.rfind("[########################]  3/3 fonts (100%)", 0), 0u)
        << lastDrawing;
}

TEST_F(TavoctlSyncTest, ReportsAFontThatCannotBeDownloadedAndRegistrationsRefused) {
    addFault({{"path", "/api/v1/fonts/" + *fonts[1].fontId}, {"status", 500}});
    fontManager->refuse(fontPath(*fonts[0].fileName));
    EXPECT_EQ(sync(), 1);
    const std::string text = out.str();
    EXPECT_NE(text.find("Font Synchronization gave up: font " + *fonts[1].fontId +
                        " could not be downloaded: HTTP status 500 (2 left"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("fonts installed: 1 of 3"), std::string::npos) << text;
    // The download that failed and the one registration refused.
    EXPECT_NE(text.find("failures:        2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("activated:       0\n"), std::string::npos) << text;
    EXPECT_EQ(status(*fonts[0].fontId), kFontStatusInstalled);
    EXPECT_EQ(status(*fonts[1].fontId), kFontStatusDownloading);
    EXPECT_EQ(status(*fonts[2].fontId), kFontStatusDownloading);
}

TEST_F(TavoctlSyncTest, FailsWhenTheAccountsFontListCannotBeFetched) {
    addFault({{"path", "/api/v1/install-fonts"}, {"status", 500}});
    EXPECT_EQ(sync(), 1);
    EXPECT_NE(out.str().find("Font Synchronization Failed"), std::string::npos) << out.str();
    EXPECT_EQ(fontFileRequests(), 0u);
}

TEST_F(TavoctlSyncTest, AnInterruptionCancelsTheDownloadInFlight) {
    addFault({{"path", "/api/v1/fonts/*"}, {"delayMs", 20000}});
    ctl::SyncOptions options;
    options.interrupted = [this] { return fontFileRequests() >= 1; };
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(sync(options), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 15s) << "did not wait for the answer";
    EXPECT_NE(out.str().find("Font Synchronization interrupted (3 left to download"),
              std::string::npos)
        << out.str() << err.str();
    EXPECT_NE(out.str().find("fonts installed: 0 of 3"), std::string::npos) << out.str();
    // The chain started nothing more, its file is gone, and the list on disk says so.
    tools.back()->serialDispatchQueue()->sync([] {});
    EXPECT_FALSE(MainQueue::main().runUntil([this] { return fontFileRequests() > 1; }, 300ms));
    EXPECT_TRUE(std::filesystem::is_empty(*ApiClient::downloadFolder()));
    for (const auto& font : fonts) {
        EXPECT_EQ(status(*font.fontId), kFontStatusDownloading);
        EXPECT_FALSE(FileUtil::exists(fontPath(*font.fileName)));
    }
}

TEST_F(TavoctlSyncTest, AnInterruptionWhilePagingEndsTheRunAndWritesNothing) {
    addFault({{"path", "/api/v1/install-fonts"}, {"delayMs", 20000}});
    ctl::SyncOptions options;
    options.interrupted = [this] { return !requests("/api/v1/install-fonts").empty(); };
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(sync(options), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 15s) << "did not wait for the answer";
    EXPECT_NE(out.str().find("Font Synchronization interrupted"), std::string::npos) << out.str();
    EXPECT_EQ(fontFileRequests(), 0u);
    const auto list = Config::fontList();
    EXPECT_TRUE(!list || list->empty());
}

TEST_F(TavoctlSyncTest, AKilledRunsLeftoversAreRemovedAtTheStart) {
    const std::string leftover = *ApiClient::downloadFolder() + "/tavo-download-Kill9x";
    Sandbox::writeFile(leftover, "half a font");
    ASSERT_EQ(sync(), 0) << out.str() << err.str();
    EXPECT_FALSE(FileUtil::exists(leftover));
}

TEST_F(TavoctlSyncTest, RefusesWithoutAUsableSignIn) {
    // A sign-in the server no longer accepts.
    storeSignIn(*client.deviceId(), "not-a-refresh-token");
    EXPECT_EQ(sync(), 2);
    EXPECT_NE(err.str().find("sign in again"), std::string::npos) << err.str();

    // No sign-in at all: neither the command nor the program's entry go on.
    std::filesystem::remove(*Config::userConfigPath());
    EXPECT_EQ(sync(), 2);
    EXPECT_NE(err.str().find("no signed-in user"), std::string::npos) << err.str();
    std::ostringstream entryOut, entryErr;
    EXPECT_EQ(ctl::runSyncCommand(entryOut, entryErr), 2);
    EXPECT_NE(entryErr.str().find("no signed-in user"), std::string::npos);
    EXPECT_TRUE(service.context()->requests.entries("/api/v1/install-fonts").empty());
}

using TavoctlFontsTest = TavoctlSyncTest;

TEST_F(TavoctlFontsTest, ListsTheRecordsWithTheirStatusAndVisibility) {
    ASSERT_EQ(sync(), 0) << out.str() << err.str();
    // One font hidden from programs, one file gone, one record never fetched.
    fontManager->unregisterFonts({fontPath(*fonts[1].fileName)},
                                 platform::FontManagerScope::Persistent, nullptr);
    std::filesystem::remove(fontPath(*fonts[2].fileName));
    auto list = *Config::fontList();
    auto record = FontManagementController::createFontKeyList();
    record[kFontFileName] = "Extra Wide.otf";
    record[kFontDisplayFontName] = "明朝 Extra";
    list["7"] = record;
    ASSERT_TRUE(Config::writeFontList(list));

    ASSERT_EQ(fontsCommand({}), 0) << err.str();
    std::istringstream lines(out.str());
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);)
        rows.push_back(line);
    ASSERT_EQ(rows.size(), 5u) << out.str();
    EXPECT_EQ(rows[0].rfind("ID", 0), 0u);
    // Ids in numeric order: "7" before the four-digit ids.
    EXPECT_EQ(rows[1].rfind("7 ", 0), 0u) << out.str();
    auto rowOf = [&](const std::string& id) {
        for (const auto& row : rows)
            if (row.rfind(id + " ", 0) == 0)
                return row;
        return std::string();
    };
    auto expectRow = [&](const Fonts& font, const std::string& state) {
        const std::string row = rowOf(*font.fontId);
        EXPECT_NE(row.find(*font.fileName), std::string::npos) << row;
        EXPECT_NE(row.find(*font.displayFontName), std::string::npos) << row;
        EXPECT_NE(row.find("  installed  "), std::string::npos) << row;
        EXPECT_NE(row.find("  yes  "), std::string::npos) << row;
        EXPECT_EQ(row.substr(row.size() - state.size()), state) << row;
    };
    expectRow(fonts[0], "visible");
    expectRow(fonts[1], "hidden");
    expectRow(fonts[2], "missing");
    EXPECT_NE(rows[1].find("  notInstalled  no  "), std::string::npos) << rows[1];
    // Columns line up, wide characters taking two columns.
    const auto column = rows[0].find("FILE");
    EXPECT_EQ(rows[2].find(*fonts[0].fileName), column) << out.str();
    EXPECT_EQ(rows[1].find("Extra Wide.otf"), column + 2)
        << out.str();  // six bytes in four columns

    ASSERT_EQ(fontsCommand({"--json"}), 0) << err.str();
    const json doc = json::parse(out.str());
    ASSERT_EQ(doc.size(), 4u);
    EXPECT_EQ(doc[0]["id"], "7");
    EXPECT_EQ(doc[0]["displayName"], "明朝 Extra");
    EXPECT_EQ(doc[0]["active"], false);
    EXPECT_EQ(doc[0]["visibility"], "missing");
    std::map<std::string, std::string> visibility;
    for (const auto& entry : doc)
        visibility[entry["id"]] = entry["visibility"];
    EXPECT_EQ(visibility[*fonts[0].fontId], "visible");
    EXPECT_EQ(visibility[*fonts[1].fontId], "hidden");
    EXPECT_EQ(visibility[*fonts[2].fontId], "missing");
}

TEST_F(TavoctlFontsTest, WithoutAListSaysSoAndExits2) {
    ASSERT_FALSE(Config::fontList());
    EXPECT_EQ(fontsCommand({}), 2);
    EXPECT_NE(err.str().find("no font list"), std::string::npos) << err.str();
    EXPECT_TRUE(out.str().empty());
    std::ostringstream entryOut, entryErr;
    EXPECT_EQ(ctl::runFontsCommand({"--json"}, entryOut, entryErr), 2);
    EXPECT_EQ(fontsCommand({"--colour"}), 2);
}

// Points the environment that child programs inherit at a sandbox root for
// the lifetime of the object.
class ChildSandboxRoot {
public:
    explicit ChildSandboxRoot(const std::string& root) {
        if (const char* value = std::getenv("TAVO_ROOT"))
            previous_ = value;
        setenv("TAVO_ROOT", root.c_str(), 1);
    }
    ~ChildSandboxRoot() {
        if (previous_)
            setenv("TAVO_ROOT", previous_->c_str(), 1);
        else
            unsetenv("TAVO_ROOT");
    }

private:
    std::optional<std::string> previous_;
};

std::string tavoctl() {
    return bundlesDirectory() + "/TAVO.app/Contents/MacOS/tavoctl";
}

TEST_F(TavoctlSyncTest, TheProgramSynchronizesThroughFontconfig) {
    ChildSandboxRoot root(sandbox.root());
    const auto result = Process::run(tavoctl(), {"sync"});
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitStatus, 0) << result.standardOutput << result.standardError;
    EXPECT_EQ(result.standardOutput.find('\r'), std::string::npos);  // not a terminal
    EXPECT_NE(result.standardOutput.find("fonts installed: 3 of 3"), std::string::npos)
        << result.standardOutput;
    for (const auto& font : fonts)
        EXPECT_TRUE(FileUtil::exists(fontPath(*font.fileName))) << *font.fileName;

    const auto listed = Process::run(tavoctl(), {"fonts", "--json"});
    ASSERT_EQ(listed.exitStatus, 0) << listed.standardError;
    const json doc = json::parse(listed.standardOutput);
    ASSERT_EQ(doc.size(), 3u) << listed.standardOutput;
    for (const auto& entry : doc) {
        EXPECT_EQ(entry["status"], kFontStatusInstalled);
        EXPECT_EQ(entry["visibility"], "visible") << entry.dump();
    }
}

TEST(TavoctlSyncProgram, WithoutSignInOrListTheProgramExits2) {
    Sandbox sandbox;
    ChildSandboxRoot root(sandbox.root());
    const auto sync = Process::run(tavoctl(), {"sync"});
    EXPECT_EQ(sync.exitStatus, 2);
    EXPECT_NE(sync.standardError.find("no signed-in user"), std::string::npos)
        << sync.standardError;
    const auto fonts = Process::run(tavoctl(), {"fonts"});
    EXPECT_EQ(fonts.exitStatus, 2);
    EXPECT_NE(fonts.standardError.find("no font list"), std::string::npos) << fonts.standardError;
}

}  // namespace
}  // namespace tavo::test
