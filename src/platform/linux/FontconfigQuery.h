#pragma once

#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace tavo::platform {

// The two questions FontconfigFontManager asks fontconfig itself, each with a
// configuration loaded fresh (fontconfig reads FONTCONFIG_FILE, the conf.d
// files and the caches again), never the process's current one.
//
// Neither loads anything when FONTCONFIG_FILE names a file that does not
// exist: fontconfig would fall back to its built-in configuration, which
// reads and writes the real caches (/var/cache/fontconfig, ~/.cache/fontconfig)
// even for a process inside a sandbox root.
class FontconfigQuery {
public:
    // The files of every font that a program starting now would see: the
    // configuration and its fonts loaded as FcInitLoadConfigAndFonts does (in
    // two steps, so that fonts are not loaded on fontconfig's built-in
    // fallback configuration), then FcFontList with FC_FILE. None when
    // fontconfig reads no configuration file. Costs what a program's start-up
    // costs (a few milliseconds with valid caches, plus the scan of every
    // folder whose cache is out of date).
    static std::optional<std::unordered_set<std::string>> visibleFiles();

    // A plain cache refresh of one font folder, what `fc-cache` without -f
    // does for it: when the folder's cache is valid (its modification time is
    // the folder's) nothing is written; otherwise fontconfig scans every file
    // of the folder with FreeType and writes the cache to the first writable
    // cache folder of the configuration. Costs one configuration load without
    // fonts and fontconfig's check of the whole cache file when the cache is
    // valid (about 4 ms for a folder of 1,000 fonts), about 0.3 s of CPU for
    // 1,000 fonts when it is not (FreeType reads every file; measured by
    // bench/FontconfigBench.cpp). False when fontconfig cannot load a
    // configuration or the folder cannot be scanned.
    static bool refreshDirectoryCache(const std::string& folder);
    // The same for several folders with one configuration load.
    static bool refreshDirectoryCaches(const std::vector<std::string>& folders);

    // False when FONTCONFIG_FILE names a missing file.
    static bool configurationPresent();
};

}  // namespace tavo::platform
