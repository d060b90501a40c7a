#include "platform/linux/FontconfigQuery.h"

#include <fontconfig/fontconfig.h>
#include <sys/stat.h>

#include <cstdlib>

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
    // The configuration only, once for all: its cache folders, no font is loaded.
    FcConfig* config = FcInitLoadConfig();
    if (!config)
        return false;
    if (!readAnyConfigurationFile(config)) {
        // The built-in fallback's cache folders are not the ones the programs use.
        FcConfigDestroy(config);
        return false;
    }
    bool ok = true;
    for (const std::string& folder : folders) {
        const auto* dir = reinterpret_cast<const FcChar8*>(folder.c_str());
        // Loads the cache when it is valid; otherwise scans the folder and writes it.
        FcCache* cache = FcDirCacheRead(dir, FcFalse, config);
        if (cache)
            FcDirCacheUnload(cache);
        ok = ok && cache != nullptr;
    }
    FcConfigDestroy(config);
    return ok;
}

}  // namespace tavo::platform
