#pragma once

#include <string>

namespace tavo::platform {

// The fontconfig configuration of a sandbox root. fontconfig's own
// configuration reads the real home's fonts, conf.d and cache, so inside a
// sandbox root every fontconfig user of the process (and of its children) is
// pointed at <root>/etc/fonts/fonts.conf instead, which reads only:
//   - the sandbox home's .local/share/fonts (with its subfolders, so the
//     service's shard folders of active fonts are included; its storage is not);
//   - the sandbox machine font folder <root>/usr/local/share/fonts;
//   - optionally the real /usr/share/fonts, read-only, as the system fonts
//     that other programs on a desktop see too;
//   - the sandbox home's .config/fontconfig/conf.d (the user's own settings);
// and writes its caches only to <root>/var/cache/fontconfig: no <cachedir>
// outside the sandbox, so neither the real home's ~/.cache/fontconfig nor
// /var/cache/fontconfig is ever written.
//
// Without the system's rules fontconfig knows no family aliases ("sans-serif"
// then matches any face). A sandbox meant to be looked at (the demo) sets
// TAVO_FONTCONFIG_SYSTEM_RULES=1: the rule files of /etc/fonts/conf.d are
// read too, all but the one that reads the real home's configuration, whose
// place the sandbox user's conf.d takes. Tests leave it unset and stay
// independent of the machine's configuration.
class SandboxFontconfig {
public:
    // <root>/etc/fonts/fonts.conf
    static std::string configPath(const std::string& root);
    // <root>/var/cache/fontconfig
    static std::string cacheDirectory(const std::string& root);

    // The configuration for root and the sandbox home of the current user there.
    // systemRules: a folder of rule files to read as well (none when empty).
    static std::string render(const std::string& root, const std::string& home,
                              bool systemFonts = true, const std::string& systemRules = {});

    // Writes the configuration (atomically, only when its content changes),
    // creates the sandbox folders it names, and sets FONTCONFIG_FILE to it for
    // this process and the children it starts (fontconfig reads the variable
    // at each FcInitLoadConfig). Call before other threads use fontconfig or
    // the environment. False, with FONTCONFIG_FILE unchanged, when the file
    // cannot be written.
    static bool install(const std::string& root, bool systemFonts = true);

    // Whether FONTCONFIG_FILE is unset, or set by install() of this process
    // (for another root): then a manager may install its own.
    static bool mayInstall();
};

}  // namespace tavo::platform
