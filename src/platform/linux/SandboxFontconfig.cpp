#include "platform/linux/SandboxFontconfig.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

#include "foundation/FileUtil.h"
#include "foundation/Log.h"
#include "platform/Layout.h"
#include "platform/SystemInfo.h"
#include "platform/linux/RejectListFile.h"

namespace fs = std::filesystem;

namespace tavo::platform {

namespace {

constexpr const char* kSystemFonts = "/usr/share/fonts";
constexpr const char* kSystemRules = "/etc/fonts/conf.d";
// The one system rule file that reads the real home's configuration.
constexpr const char* kUserRules = "50-user.conf";
constexpr const char* kSystemRulesVariable = "TAVO_FONTCONFIG_SYSTEM_RULES";

std::mutex& installMutex() {
    static std::mutex m;
    return m;
}

// The FONTCONFIG_FILE value the last install() of this process set.
std::string& installedPath() {
    static std::string path;
    return path;
}

std::string dirElement(const std::string& folder) {
    return "  <dir>" + RejectListFile::escapeXml(folder) + "</dir>\n";
}

std::string includeElement(const std::string& path) {
    return "  <include ignore_missing=\"yes\">" + RejectListFile::escapeXml(path) + "</include>\n";
}

// The rule files of the system's configuration folder, in the order
// fontconfig reads them.
std::vector<std::string> ruleFiles(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ".conf") == 0)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::string SandboxFontconfig::configPath(const std::string& root) {
    return root + "/etc/fonts/fonts.conf";
}

std::string SandboxFontconfig::cacheDirectory(const std::string& root) {
    return root + "/var/cache/fontconfig";
}

std::string SandboxFontconfig::render(const std::string& root, const std::string& home,
                                      bool systemFonts, const std::string& systemRules) {
    const Layout layout = Layout::linuxLayout().rootedAt(root);
    const std::string userFonts = (fs::path(home) / layout.userFontLinks).parent_path().string();
    const std::string confD = home + "/" + layout.userFontConfig;
    std::string out =
        "<?xml version=\"1.0\"?>\n"
        "<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
        "<!-- Written by TAVO for a sandbox root: its font folders, its user's\n"
        "     conf.d and a cache folder inside it, nothing of the real home. -->\n"
        "<fontconfig>\n";
    out += dirElement(userFonts);
    out += dirElement(layout.machineFonts);
    if (systemFonts)
        out += dirElement(kSystemFonts);
    if (!systemRules.empty()) {
        // The system's rules (family aliases, hinting...), with the sandbox
        // user's conf.d where the real user's configuration would come.
        bool userIncluded = false;
        for (const std::string& name : ruleFiles(systemRules)) {
            if (name >= kUserRules && !userIncluded) {
                out += includeElement(confD);
                userIncluded = true;
            }
            if (name != kUserRules)
                out += includeElement(systemRules + "/" + name);
        }
        if (!userIncluded)
            out += includeElement(confD);
    } else {
        out += includeElement(confD);
    }
    out += "  <cachedir>" + RejectListFile::escapeXml(cacheDirectory(root)) + "</cachedir>\n";
    out += "</fontconfig>\n";
    return out;
}

bool SandboxFontconfig::install(const std::string& root, bool systemFonts) {
    const std::string home =
        Layout::linuxLayout().rootedAt(root).usersHomes + "/" + SystemInfo::loginName();
    const std::string path = configPath(root);
    const char* rules = std::getenv(kSystemRulesVariable);
    const std::string content =
        render(root, home, systemFonts, rules && std::string(rules) == "1" ? kSystemRules : "");
    Error error;
    for (const std::string& folder : {FileUtil::parentPath(path), cacheDirectory(root)}) {
        if (!FileUtil::createDirectories(folder, &error)) {
            ELog("Fontconfig: cannot create the sandbox folder %@: %@", folder, error);
            return false;
        }
    }
    if (FileUtil::readFile(path) != content &&
        !FileUtil::writeFile(path, content, true, 0644, &error)) {
        ELog("Fontconfig: cannot write the sandbox configuration %@: %@", path, error);
        return false;
    }
    std::lock_guard lock(installMutex());
    setenv("FONTCONFIG_FILE", path.c_str(), 1);
    installedPath() = path;
    return true;
}

bool SandboxFontconfig::mayInstall() {
    std::lock_guard lock(installMutex());
    const char* current = std::getenv("FONTCONFIG_FILE");
    return !current || !*current || current == installedPath();
}

}  // namespace tavo::platform
