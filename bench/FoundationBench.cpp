// What the caller pays for a log line, and what reading and writing the
// configuration files costs at the sizes a large account reaches.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/CryptorUtil.h"
#include "foundation/Log.h"
#include "platform/Layout.h"
#include "platform/SystemInfo.h"

namespace fs = std::filesystem;
using namespace tavo;

namespace {

PlistDict fontList(int fonts) {
    PlistDict list;
    for (int i = 0; i < fonts; ++i)
        list[std::to_string(100000 + i)] = PlistDict{
            {kFontFileName, "Font-" + std::to_string(i) + ".otf"},
            {kFontDisplayFontName, "Font " + std::to_string(i)},
            {kFontActivate, true},
            {kFontAvailableFont, true},
            {kFontFreemium, false},
            {kFontContractIds, PlistArray{"c-1", "c-2"}},
            {kFontStatusType, kFontStatusInstalled},
            {kFontFileUpdateDate, "2026-12-08 10:00:00"},
            {kFontStorageLocationType, "3"}};
    return list;
}

void BM_LogCallerCost(benchmark::State& state) {
    for (auto _ : state)
        ILog("Request %@ %ld", "/api/v1/install-fonts", 42L);
    Log::defaultLog().flush();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogCallerCost);

void BM_DebugLineWhenOff(benchmark::State& state) {
    Log::defaultLog().applyLogMode(kLogModeNormal);
    for (auto _ : state)
        TAVO_DLOG("%@", "an operation's start");
}
BENCHMARK(BM_DebugLineWhenOff);

void BM_FontListWriteRead(benchmark::State& state) {
    const PlistDict list = fontList(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        Config::writeFontList(list);
        benchmark::DoNotOptimize(Config::fontList());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FontListWriteRead)->Arg(100)->Arg(2500)->Unit(benchmark::kMillisecond);

void BM_EncryptDecrypt(benchmark::State& state) {
    const std::string token(512, 't');
    for (auto _ : state)
        benchmark::DoNotOptimize(CryptorUtil::decryptStringWithData(*CryptorUtil::encryptString(token)));
}
BENCHMARK(BM_EncryptDecrypt);

}  // namespace

int main(int argc, char** argv) {
    std::string root = (fs::temp_directory_path() / "tavo-bench-XXXXXX").string();
    if (!mkdtemp(root.data()))
        return 2;
    platform::setSandboxRoot(root);
    const std::string home = *platform::SystemInfo::homeDirectory();
    fs::create_directories(home + "/" + platform::Layout::current().userArea);
    Log::defaultLog().setLogFilePath(home + "/bench.log", kClientAppName);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Log::defaultLog().flush();
    fs::remove_all(root);
    return 0;
}
