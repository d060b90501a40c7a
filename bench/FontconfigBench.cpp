// What the service's fonts cost every fontconfig program at start-up, and
// what one change costs. Inside a sandbox root of its own: N service fonts
// (hard links of one small installed TrueType font, so 10,000 take no room)
// in the font storage, every other one active, caches refreshed, then the
// start-up of a program measured in-process (FcInitLoadConfigAndFonts +
// FcConfigDestroy) for N = 1,000 and 10,000 with:
//   plain     the N/2 active files alone in one plain folder that fontconfig scans
//   shards-S  the N/2 active files as hard links in S shard folders, as the
//             manager makes them, the other N/2 in the storage only
// and the ratios to "plain" printed at the end (best of the repetitions:
// --benchmark_repetitions=N). Also what one registration costs at 10,000
// fonts per shard count (link, rename, refresh of the one shard's cache):
// the CPU time of a change from the manager's side.
#include <benchmark/benchmark.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "platform/Layout.h"
#include "platform/SystemInfo.h"
#include "platform/linux/FontconfigFontManager.h"
#include "platform/linux/SandboxFontconfig.h"

namespace fs = std::filesystem;
using namespace tavo;
using namespace tavo::platform;

namespace {

const int kCounts[] = {1000, 10000};
const int kShards[] = {0, 8, 16, 32, 64};  // 0: the plain folder

std::string home;
std::string sourceFont;

// The smallest TrueType font in /usr/share/fonts that fontconfig lists.
std::string smallestMachineFont() {
    std::string best;
    std::uintmax_t bestSize = 0;
    FcConfig* config = FcInitLoadConfigAndFonts();
    FcPattern* pattern = FcPatternCreate();
    FcObjectSet* objects = FcObjectSetBuild(FC_FILE, nullptr);
    if (FcFontSet* set = FcFontList(config, pattern, objects)) {
        for (int i = 0; i < set->nfont; ++i) {
            FcChar8* file = nullptr;
            if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) != FcResultMatch)
                continue;
            const std::string path = reinterpret_cast<const char*>(file);
            if (!path.starts_with("/usr/share/fonts/") || !path.ends_with(".ttf"))
                continue;
            std::error_code ec;
            const std::uintmax_t size = fs::file_size(path, ec);
            if (!ec && (best.empty() || size < bestSize)) {
                best = path;
                bestSize = size;
            }
        }
        FcFontSetDestroy(set);
    }
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    FcConfigDestroy(config);
    return best;
}

std::string storageFolder() {
    return home + "/" + Layout::current().userFonts;
}
std::string linkFolder() {
    return home + "/" + Layout::current().userFontLinks;
}
std::string scannedFolder() {
    return fs::path(linkFolder()).parent_path().string();
}

std::string fontName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "Font-%05d.ttf", i);
    return name;
}

// Lays out `count` service fonts with every other one active, in the plain
// folder (shards 0) or through a manager of `shards` shard folders, and
// brings every cache up to date.
std::shared_ptr<FontconfigFontManager> prepare(int count, int shards) {
    fs::remove_all(scannedFolder());
    fs::remove_all(storageFolder());
    fs::create_directories(storageFolder());
    std::vector<std::string> active;
    const std::string master = storageFolder() + "/.master.ttf";
    fs::copy_file(sourceFont, master);
    for (int i = 0; i < count; ++i) {
        const std::string path = storageFolder() + "/" + fontName(i);
        fs::create_hard_link(master, path);
        if (i % 2 == 0)
            active.push_back(path);
    }
    if (shards == 0) {
        const std::string plain = scannedFolder() + "/Plain";
        fs::create_directories(plain);
        for (const std::string& path : active)
            fs::create_hard_link(path, plain + "/" + fs::path(path).filename().string());
        FcConfig* config = FcInitLoadConfig();
        for (const std::string& folder : {scannedFolder(), plain})
            FcDirCacheRead(reinterpret_cast<const FcChar8*>(folder.c_str()), FcTrue, config);
        FcConfigDestroy(config);
        return nullptr;
    }
    FontconfigFontManager::Options options{storageFolder(), linkFolder(), shards, {}};
    auto manager = std::make_shared<FontconfigFontManager>(options);
    manager->registerFonts(active, FontManagerScope::Persistent, nullptr);
    FcConfig* config = FcInitLoadConfig();
    FcDirCacheRead(reinterpret_cast<const FcChar8*>(scannedFolder().c_str()), FcTrue, config);
    FcConfigDestroy(config);
    manager->refreshCache();
    return manager;
}

void BM_StartUp(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const int shards = static_cast<int>(state.range(1));
    prepare(count, shards);
    int faces = 0;
    for (auto _ : state) {
        FcConfig* config = FcInitLoadConfigAndFonts();
        if (FcFontSet* set = FcConfigGetFonts(config, FcSetSystem))
            faces = set->nfont;
        FcConfigDestroy(config);
    }
    state.counters["faces"] = faces;
}

// One activation and one deactivation at 10,000 fonts: the link made and
// renamed into place, the cache of its shard refreshed.
void BM_OneChange(benchmark::State& state) {
    const int shards = static_cast<int>(state.range(0));
    auto manager = prepare(10000, shards);
    int next = 1;
    for (auto _ : state) {
        const std::string path = storageFolder() + "/" + fontName(next);
        next = (next + 2) % 10000;
        manager->registerFonts({path}, FontManagerScope::Persistent, nullptr);
        manager->unregisterFonts({path}, FontManagerScope::Persistent, nullptr);
    }
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0)
                continue;
            Times& times = times_[run.run_name.function_name + "/" + run.run_name.args];
            times.wall = std::min(times.wall, run.GetAdjustedRealTime());
            times.cpu = std::min(times.cpu, run.GetAdjustedCPUTime());
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const int count : kCounts) {
            const auto base = times_.find(key("StartUp", count, 0));
            if (base == times_.end())
                continue;
            for (const int shards : kShards) {
                const auto it = times_.find(key("StartUp", count, shards));
                if (it == times_.end())
                    continue;
                std::printf(
                    "start-up, %5d fonts, %-9s %8.2f ms  ratio %5.2f  (CPU %.2f ms, %.2f)\n", count,
                    shards ? ("shards-" + std::to_string(shards)).c_str() : "plain",
                    it->second.wall, it->second.wall / base->second.wall, it->second.cpu,
                    it->second.cpu / base->second.cpu);
            }
        }
        for (const auto& [name, times] : times_)
            if (name.starts_with("OneChange"))
                std::printf("%-28s activation + deactivation: %.2f ms wall, %.2f ms CPU\n",
                            name.c_str(), times.wall, times.cpu);
    }

private:
    static std::string key(const char* family, int count, int shards) {
        return std::string(family) + "/" + std::to_string(count) + "/" + std::to_string(shards);
    }
    struct Times {
        double wall = 1e300;
        double cpu = 1e300;
    };
    std::map<std::string, Times> times_;
};

}  // namespace

int main(int argc, char** argv) {
    std::string root = (fs::temp_directory_path() / "tavo-bench-XXXXXX").string();
    if (!mkdtemp(root.data()))
        return 2;
    setSandboxRoot(root);
    home = *SystemInfo::homeDirectory();
    fs::create_directories(home);
    Log::defaultLog().setLogFilePath(root + "/bench.log", "FontconfigBench");
    // Only the sandbox's font folders: the machine's fonts would be the same
    // cost in every layout and hide the difference.
    if (!SandboxFontconfig::install(root))
        return 2;
    sourceFont = smallestMachineFont();
    if (!SandboxFontconfig::install(root, false))
        return 2;
    if (sourceFont.empty()) {
        std::fprintf(stderr, "fontconfig lists no TrueType font in /usr/share/fonts\n");
        fs::remove_all(root);
        return 2;
    }
    std::printf("service fonts: links of %s (%ju bytes)\n", sourceFont.c_str(),
                static_cast<std::uintmax_t>(fs::file_size(sourceFont)));

    for (const int count : kCounts)
        for (const int shards : kShards)
            benchmark::RegisterBenchmark("StartUp", BM_StartUp)
                ->Args({count, shards})
                ->Unit(benchmark::kMillisecond);
    for (const int shards : kShards)
        if (shards)
            benchmark::RegisterBenchmark("OneChange", BM_OneChange)
                ->Arg(shards)
                ->Unit(benchmark::kMillisecond);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    Log::defaultLog().flush();
    if (!std::getenv("TAVO_KEEP_SANDBOX"))
        fs::remove_all(root);
    return 0;
}
