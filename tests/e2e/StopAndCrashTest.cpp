// The real programs stopped or killed in the middle of a synchronization:
// a stop ends them within a second without leaving a partial file, and a
// kill leaves the user area whole, cleaned at the next start, with the next
// synchronization ending where a clean one would.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include "e2e/ResidentFixture.h"
#include "fontid/FontIdReader.h"
#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "foundation/PlistValue.h"
#include "service/ApiClient.h"

namespace tavo::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::vector<std::string> entriesOf(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename().string());
    return names;
}

class StopAndCrashFixture : public ResidentFixture {
protected:
    ResidentProcess& launchSync() {
        processes.push_back(std::make_unique<ResidentProcess>(sandbox.root(), sandbox.home()));
        processes.back()->setExecutable(ResidentProcess::tavoctlPath());
        EXPECT_TRUE(processes.back()->start({"sync"}));
        return *processes.back();
    }

    static std::string downloadFolder() { return *ApiClient::downloadFolder(); }
    static std::string fontFolder() { return *Const::userFontDirectoryPath(); }

    std::size_t requestCount(const std::string& path) { return requests(path).size(); }
    bool fontFileRequested() {
        for (const auto& entry : requests(""))
            if (entry["path"].get<std::string>().rfind("/api/v1/fonts/", 0) == 0)
                return true;
        return false;
    }

    // Sends SIGTERM and waits a second for the end: its exit status, or none.
    static std::optional<int> terminate(ResidentProcess& process) {
        ::kill(process.pid(), SIGTERM);
        return process.waitForExit(1s);
    }
};

class StopTest : public StopAndCrashFixture {};

TEST_F(StopTest, TavoRemovesALeftoverAtStartAndASigtermCancelsTheDownloadInFlight) {
    const std::string leftover = downloadFolder() + "/tavo-download-Left0v";
    Sandbox::writeFile(leftover, "half a font from a killed run");
    addFault({{"path", "/api/v1/fonts/*"}, {"delayMs", 20000}});
    auto& tavo = launch();
    // The first download waits for the server: its body's file is there.
    ASSERT_TRUE(eventually([&] { return fontFileRequested(); }));
    ASSERT_TRUE(eventually([&] { return !entriesOf(downloadFolder()).empty(); }));
    EXPECT_FALSE(FileUtil::exists(leftover)) << "removed at start";

    const auto status = terminate(tavo);
    ASSERT_TRUE(status) << "still running a second after SIGTERM";
    EXPECT_EQ(*status, 0);
    EXPECT_TRUE(entriesOf(downloadFolder()).empty());
    for (const auto& name : entriesOf(fontFolder()))
        ADD_FAILURE() << "in the font folder: " << name;
}

TEST_F(StopTest, TavoctlEndsWithinASecondOfASigtermWhilePagingAndWhileDownloading) {
    struct Phase {
        const char* name;
        const char* faultPath;
        std::function<bool()> reached;
    };
    const Phase phases[] = {
        {"paging", "/api/v1/install-fonts",
         [this] { return requestCount("/api/v1/install-fonts") > 0; }},
        {"downloading", "/api/v1/fonts/*", [this] { return fontFileRequested(); }},
    };
    std::size_t interruptions = 0;
    for (const auto& phase : phases) {
        SCOPED_TRACE(phase.name);
        service.context()->faults.clear();
        service.context()->requests.clear();
        addFault({{"path", phase.faultPath}, {"delayMs", 20000}});
        auto& sync = launchSync();
        ASSERT_TRUE(eventually([&] { return phase.reached(); }));
        const auto status = terminate(sync);
        ASSERT_TRUE(status) << "still running a second after SIGTERM";
        EXPECT_EQ(*status, 1);
        // The output of every run so far: one more says it was interrupted.
        const std::string output = sync.output();
        std::size_t said = 0;
        for (auto at = output.find("Font Synchronization interrupted"); at != std::string::npos;
             at = output.find("Font Synchronization interrupted", at + 1))
            ++said;
        EXPECT_EQ(said, ++interruptions) << output;
        EXPECT_TRUE(entriesOf(downloadFolder()).empty());
        for (const auto& name : entriesOf(fontFolder()))
            ADD_FAILURE() << "in the font folder: " << name;
    }
}

// An account of 2,000 small fonts under contract, all active.
class CrashConsistencyTest : public StopAndCrashFixture {
protected:
    static constexpr std::size_t kFonts = 2000;

    nlohmann::json seed() const override {
        return {{"syntheticFonts", {{"count", kFonts}}},
                {"accounts",
                 {{{"mailAddress", kMail},
                   {"password", kPassword},
                   {"maxDevices", 5},
                   {"contractIds", {"c-1"}},
                   {"fonts", "all"}}}}};
    }

    // A property list that is there must parse.
    static void expectWholeList(const std::optional<std::string>& path) {
        if (path && FileUtil::exists(*path)) {
            EXPECT_TRUE(PlistValue::readFile(*path)) << "does not parse: " << *path;
        }
    }

    // The fonts in the folder that carry the service's record, and the
    // temporaries found: every other file is a fault.
    std::size_t checkFontFolder(std::vector<std::string>& temporaries) {
        std::size_t whole = 0;
        for (const auto& name : entriesOf(fontFolder())) {
            const std::string path = fontFolder() + "/" + name;
            if (name[0] == '.') {
                temporaries.push_back(path);
                continue;
            }
            if (fontid::FontIdReader::read(path))
                ++whole;
            else
                ADD_FAILURE() << "a partial font file: " << name;
        }
        return whole;
    }

    // Every temporary the programs may leave in the user area.
    std::vector<std::string> temporaries() {
        std::vector<std::string> found;
        for (const auto& name : entriesOf(downloadFolder()))
            found.push_back(downloadFolder() + "/" + name);
        const std::string area = FileUtil::parentPath(*Config::fontListPath());
        for (const auto& name : entriesOf(area))
            if (name.find(".plist.") != std::string::npos)
                found.push_back(area + "/" + name);
        checkFontFolder(found);
        return found;
    }

    // A record that says "installed" names a whole file on disk.
    void expectListMatchesTheDisk() {
        const auto list = Config::fontList();
        if (!list)
            return;
        for (const auto& [id, value] : *list) {
            const auto* record = value.get<PlistDict>();
            ASSERT_TRUE(record) << id;
            const auto* status = plistGet<std::string>(*record, kFontStatusType);
            const auto* file = plistGet<std::string>(*record, kFontFileName);
            if (status && *status == kFontStatusInstalled && file) {
                EXPECT_TRUE(fontid::FontIdReader::read(fontFolder() + "/" + *file))
                    << "installed, but not on disk: " << id;
            }
        }
    }
};

TEST_F(CrashConsistencyTest, KilledSynchronizationsLeaveTheUserAreaWholeAndTheNextOneConverges) {
    std::mt19937 random(20261209);  // the same ten moments on every run
    std::uniform_int_distribution<int> kind(0, 4);
    std::uniform_real_distribution<double> share(0.0, 0.25);
    std::uniform_int_distribution<int> pause(0, 20);
    std::vector<std::string> left;  // temporaries the last kill left
    for (int kill = 0; kill < 10; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        std::vector<std::string> ignored;
        const std::size_t before = checkFontFolder(ignored);
        // A moment of the run: one in five while it pages through the list,
        // the others once a share of the fonts still to fetch has arrived.
        const bool paging = kind(random) == 0;
        const std::size_t target =
            paging ? 0
                   : before + static_cast<std::size_t>(share(random) *
                                                       static_cast<double>(kFonts - before));
        const auto extra = std::chrono::milliseconds(pause(random));
        service.context()->requests.clear();
        auto& sync = launchSync();
        ASSERT_TRUE(eventually([&] { return requestCount("/api/v1/install-fonts") > 0; }, 30s));
        // The start removed what the last kill left.
        for (const auto& path : left)
            EXPECT_FALSE(FileUtil::exists(path)) << "left after the next start: " << path;
        if (paging)
            std::this_thread::sleep_for(extra);
        else
            ASSERT_TRUE(eventually(
                [&] { return entriesOf(fontFolder()).size() >= target || !sync.running(); }, 60s));
        ::kill(sync.pid(), SIGKILL);
        sync.waitForExit(10s);

        expectWholeList(Config::userConfigPath());
        expectWholeList(Config::fontListPath());
        checkFontFolder(ignored);
        expectListMatchesTheDisk();
        left = temporaries();
    }

    // A run to its end: every font of the account installed and whole.
    service.context()->requests.clear();
    auto& sync = launchSync();
    const auto status = sync.waitForExit(120s);
    ASSERT_TRUE(status) << "the last synchronization did not end";
    EXPECT_EQ(*status, 0) << sync.output();
    for (const auto& path : left)
        EXPECT_FALSE(FileUtil::exists(path)) << "left after the next start: " << path;
    std::vector<std::string> temporaries;
    EXPECT_EQ(checkFontFolder(temporaries), kFonts);
    EXPECT_TRUE(temporaries.empty());
    EXPECT_TRUE(this->temporaries().empty());
    const auto list = Config::fontList();
    ASSERT_TRUE(list);
    EXPECT_EQ(list->size(), kFonts);
    std::set<std::string> files;
    for (const auto& [id, value] : *list) {
        const auto& record = *value.get<PlistDict>();
        EXPECT_EQ(*plistGet<std::string>(record, kFontStatusType), kFontStatusInstalled) << id;
        EXPECT_TRUE(*plistGet<bool>(record, kFontActivate)) << id;
        files.insert(*plistGet<std::string>(record, kFontFileName));
    }
    const auto onDisk = entriesOf(fontFolder());
    EXPECT_EQ(files, std::set<std::string>(onDisk.begin(), onDisk.end()));
}

}  // namespace
}  // namespace tavo::test
