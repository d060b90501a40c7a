#include "platform/linux/SandboxFontconfig.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "foundation/FileUtil.h"
#include "foundation/Log.h"
#include "platform/Layout.h"
#include "platform/SystemInfo.h"
#include "platform/linux/RejectListFile.h"

namespace fs = std::filesystem;

namespace tavo::platform {

namespace {

constexpr const char* kSystemFonts = "/usr/share/fonts";

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

}  // namespace

std::string SandboxFontconfig::configPath(const std::string& root) {
    return root + "/etc/fonts/fonts.conf";
}

std::string SandboxFontconfig::cacheDirectory(const std::string& root) {
    return root + "/var/cache/fontconfig";
}

std::string SandboxFontconfig::render(const std::string& root, const std::string& home,
                                      bool systemFonts) {
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
    out += "  <include ignore_missing=\"yes\">" + RejectListFile::escapeXml(confD) + "</include>\n";
    out += "  <cachedir>" + RejectListFile::escapeXml(cacheDirectory(root)) + "</cachedir>\n";
    out += "</fontconfig>\n";
    return out;
}

bool SandboxFontconfig::install(const std::string& root, bool systemFonts) {
    const std::string home =
        Layout::linuxLayout().rootedAt(root).usersHomes + "/" + SystemInfo::loginName();
    const std::string path = configPath(root);
    const std::string content = render(root, home, systemFonts);
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
