#include "platform/linux/FontconfigQuery.h"

#include <fontconfig/fontconfig.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

namespace tavo::platform {

namespace {

bool readAnyConfigurationFile(FcConfig* config) {
    FcStrList* files = FcConfigGetConfigFiles(config);
    if (!files)
        return false;
    const bool any = FcStrListNext(files) != nullptr;
    FcStrListDone(files);
    return any;
}

}  // namespace

bool FontconfigQuery::configurationPresent() {
    const char* file = std::getenv("FONTCONFIG_FILE");
    if (!file || file[0] != '/')
        return true;  // fontconfig's own search, or a name relative to its folder
    struct stat st {};
    return ::stat(file, &st) == 0;
}

std::optional<std::unordered_set<std::string>> FontconfigQuery::visibleFiles() {
    if (!configurationPresent())
        return std::nullopt;
    // FcInitLoadConfigAndFonts is these two calls.
    FcConfig* config = FcInitLoadConfig();
    if (!config)
        return std::nullopt;
    if (!readAnyConfigurationFile(config) || !FcConfigBuildFonts(config)) {
        FcConfigDestroy(config);
        return std::nullopt;
    }
    std::unordered_set<std::string> files;
    FcPattern* pattern = FcPatternCreate();
    FcObjectSet* objects = FcObjectSetBuild(FC_FILE, nullptr);
    FcFontSet* fonts = pattern && objects ? FcFontList(config, pattern, objects) : nullptr;
    if (fonts) {
        files.reserve(static_cast<std::size_t>(fonts->nfont));
        for (int i = 0; i < fonts->nfont; ++i) {
            FcChar8* file = nullptr;
            if (FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &file) == FcResultMatch && file)
                files.emplace(reinterpret_cast<const char*>(file));
        }
        FcFontSetDestroy(fonts);
    }
    if (objects)
        FcObjectSetDestroy(objects);
    if (pattern)
        FcPatternDestroy(pattern);
    FcConfigDestroy(config);
    if (!fonts)
        return std::nullopt;
    return files;
}

bool FontconfigQuery::refreshDirectoryCache(const std::string& folder) {
    return refreshDirectoryCaches({folder});
}

bool FontconfigQuery::refreshDirectoryCaches(const std::vector<std::string>& folders) {
    if (!configurationPresent())
        return false;
    // Folders whose cache is out of date cost FreeType a read of every file:
    // several of them are shared among a few threads (each with its own
    // configuration), so that a first synchronization's thousands of new
    // fonts are read on every core.
    const std::size_t threads = std::min<std::size_t>(
        folders.size(), std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    std::atomic<std::size_t> next{0};
    std::atomic<bool> ok{true};
    const auto work = [&] {
        // The configuration only: its cache folders, no font is loaded.
        FcConfig* config = FcInitLoadConfig();
        if (!config || !readAnyConfigurationFile(config)) {
            // The built-in fallback's cache folders are not the ones the programs use.
            if (config)
                FcConfigDestroy(config);
            ok = false;
            return;
        }
        for (std::size_t i; (i = next++) < folders.size();) {
            const auto* dir = reinterpret_cast<const FcChar8*>(folders[i].c_str());
            // Loads the cache when it is valid; otherwise scans the folder and writes it.
            FcCache* cache = FcDirCacheRead(dir, FcFalse, config);
            if (cache)
                FcDirCacheUnload(cache);
            else
                ok = false;
        }
        FcConfigDestroy(config);
    };
    std::vector<std::thread> helpers;
    for (std::size_t t = 1; t < threads; ++t)
        helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers)
        helper.join();
    return ok;
}

}  // namespace tavo::platform
