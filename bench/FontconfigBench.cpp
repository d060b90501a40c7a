// What the managed font list costs every fontconfig program at start-up.
// Inside a sandbox root of its own: 1,000 copies of one small installed
// TrueType font in the service's font folder (fontconfig sees 1,000 faces),
// caches refreshed, then the start-up of a program measured in-process
// (FcInitLoadConfigAndFonts + FcConfigDestroy) and as a child process
// (`fc-list > /dev/null`) with:
//   none      no managed list
//   half      every other file hidden, in the form the manager writes
//             (one reject glob per hidden file, full paths)
//   half-tail the same with "*/<folder name>/<file>" globs
//   most      900 hidden: the folder rejected, 100 accepted
//   all       every file hidden: one folder glob
// and the ratios to "none" printed at the end (best wall time of the
// repetitions: --benchmark_repetitions=N). Also what refreshCache() costs
// with a valid cache and with a stale one.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Log.h"
#include "platform/Layout.h"
#include "platform/SystemInfo.h"
#include "platform/linux/FontconfigFontManager.h"
#include "platform/linux/SandboxFontconfig.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace tavo;
using namespace tavo::platform;

namespace {

constexpr int kFonts = 1000;

struct Scenario {
    const char* name;
    int hidden;  // how many files are hidden, spread evenly over the folder
    RejectListFile::GlobStyle style;
};

const Scenario kScenarios[] = {
    {"none", 0, RejectListFile::GlobStyle::FullPath},
    {"half", kFonts / 2, RejectListFile::GlobStyle::FullPath},
    {"half-tail", kFonts / 2, RejectListFile::GlobStyle::FolderTail},
    {"most", kFonts * 9 / 10, RejectListFile::GlobStyle::FullPath},
    {"all", kFonts, RejectListFile::GlobStyle::FullPath},
};

std::string folder;
std::string listFile;
std::vector<std::string> fonts;

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

// Writes the managed list of a scenario through the manager itself.
void prepare(const Scenario& scenario) {
    FontconfigFontManager manager(folder, listFile, scenario.style);
    manager.registerFonts(fonts, FontManagerScope::Persistent, nullptr);
    std::vector<std::string> hidden;
    for (int i = 0; i < scenario.hidden; ++i)
        hidden.push_back(fonts[static_cast<std::size_t>(i) * kFonts / scenario.hidden]);
    manager.unregisterFonts(hidden, FontManagerScope::Persistent, nullptr);
    if (scenario.hidden == 0)
        fs::remove(listFile);
}

void BM_LoadConfigAndFonts(benchmark::State& state, const Scenario* scenario) {
    prepare(*scenario);
    int faces = 0;
    for (auto _ : state) {
        FcConfig* config = FcInitLoadConfigAndFonts();
        if (FcFontSet* set = FcConfigGetFonts(config, FcSetSystem))
            faces = set->nfont;
        FcConfigDestroy(config);
    }
    state.counters["faces"] = faces;
}

void BM_FcListProcess(benchmark::State& state, const Scenario* scenario) {
    prepare(*scenario);
    char program[] = "fc-list";
    char* argv[] = {program, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    for (auto _ : state) {
        pid_t pid = 0;
        if (posix_spawnp(&pid, program, &actions, nullptr, argv, environ) != 0) {
            state.SkipWithError("cannot start fc-list");
            break;
        }
        int status = 0;
        waitpid(pid, &status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
}

// refreshCache() with a valid cache (a configuration load), and with a stale
// one (fontconfig scans the 1,000 files and writes the cache).
void BM_RefreshCache(benchmark::State& state) {
    const bool stale = state.range(0) != 0;
    FontconfigFontManager manager(folder, listFile);
    manager.refreshCache();
    const std::string touch = folder + "/.touch";
    for (auto _ : state) {
        if (stale) {
            state.PauseTiming();
            // A name fontconfig skips: only the folder's time changes.
            std::FILE* file = std::fopen(touch.c_str(), "w");
            if (file)
                std::fclose(file);
            fs::remove(touch);
            // Past the wait refreshCache() makes after a change this recent.
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            state.ResumeTiming();
        }
        manager.refreshCache();
    }
}

// The console output, plus each scenario's time as a ratio to "none".
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0)
                continue;
            // The best of the repetitions: the machine may be busy with others.
            Times& times = times_[run.run_name.function_name];
            times.wall = std::min(times.wall, run.GetAdjustedRealTime());
            times.cpu = std::min(times.cpu, run.GetAdjustedCPUTime());
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const char* family : {"LoadConfigAndFonts", "FcListProcess"}) {
            const auto base = times_.find(std::string(family) + "/none");
            if (base == times_.end())
                continue;
            for (const Scenario& scenario : kScenarios) {
                const auto it = times_.find(std::string(family) + "/" + scenario.name);
                if (it == times_.end())
                    continue;
                std::printf("%-28s %8.2f ms  ratio to none %5.2f", it->first.c_str(),
                            it->second.wall, it->second.wall / base->second.wall);
                // In-process loads are single-threaded: their CPU time is the
                // cost without the other processes of a busy machine.
                if (std::string(family) == "LoadConfigAndFonts")
                    std::printf("  (CPU %.2f ms, ratio %.2f)", it->second.cpu,
                                it->second.cpu / base->second.cpu);
                std::printf("\n");
            }
        }
    }

private:
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
    const std::string home = *SystemInfo::homeDirectory();
    fs::create_directories(home);
    Log::defaultLog().setLogFilePath(root + "/bench.log", "FontconfigBench");
    if (!SandboxFontconfig::install(root))
        return 2;

    const std::string font = smallestMachineFont();
    if (font.empty()) {
        std::fprintf(stderr, "fontconfig lists no TrueType font in /usr/share/fonts\n");
        fs::remove_all(root);
        return 2;
    }
    const Layout layout = Layout::current();
    folder = home + "/" + layout.userFonts;
    listFile = home + "/" + layout.userFontConfig + "/" + FontconfigFontManager::kListFileName;
    fs::create_directories(folder);
    for (int i = 0; i < kFonts; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Font-%04d.ttf", i);
        fonts.push_back(folder + "/" + name);
        fs::copy_file(font, fonts.back());
    }
    std::printf("%d copies of %s (%ju bytes)\n", kFonts, font.c_str(),
                static_cast<std::uintmax_t>(fs::file_size(font)));
    {
        FontconfigFontManager manager(folder, listFile);
        manager.refreshCache();
    }

    for (const Scenario& scenario : kScenarios)
        benchmark::RegisterBenchmark((std::string("LoadConfigAndFonts/") + scenario.name).c_str(),
                                     BM_LoadConfigAndFonts, &scenario)
            ->Unit(benchmark::kMillisecond);
    for (const Scenario& scenario : kScenarios)
        benchmark::RegisterBenchmark((std::string("FcListProcess/") + scenario.name).c_str(),
                                     BM_FcListProcess, &scenario)
            ->Unit(benchmark::kMillisecond);

    benchmark::RegisterBenchmark("RefreshCache/valid", BM_RefreshCache)
        ->Arg(0)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("RefreshCache/stale", BM_RefreshCache)
        ->Arg(1)
        ->Iterations(5)
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
