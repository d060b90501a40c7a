#include "foundation/Const.h"

#include <filesystem>
#include <regex>
#include <sstream>

#include "foundation/FileUtil.h"
#include "foundation/Format.h"
#include "platform/Bundle.h"
#include "platform/Layout.h"
#include "platform/SystemInfo.h"

namespace tavo {

namespace {

using platform::Layout;

std::optional<std::string> homeJoined(const std::string& user, const std::string& relative) {
    const auto home = platform::SystemInfo::homeDirectory(user);
    if (!home)
        return std::nullopt;
    return FileUtil::joinPath(*home, relative);
}

std::optional<std::string> inUserArea(const std::string& user, const std::string& name) {
    const auto area = Const::applicationUserAreaDirectoryPath(user);
    if (!area)
        return std::nullopt;
    return FileUtil::joinPath(*area, name);
}

std::optional<std::string> logFile(const char* program) {
    const auto folder = Const::applicationUserLogDirectoryPath();
    if (!folder)
        return std::nullopt;
    return FileUtil::joinPath(*folder, format("%@.%@", program, kLogFileType));
}

}  // namespace

std::string Const::appBaseDir() { return Layout::current().applicationRoot; }
std::string Const::systemFontDirectoryPath() { return Layout::current().systemFonts; }
std::string Const::libraryFontDirectoryPath() { return Layout::current().machineFonts; }

std::string Const::appConfigDir(const std::string& user) {
    const Layout layout = Layout::current();
    return layout.usersHomes + "/" + user + "/" + layout.userArea;
}

std::string Const::applicationDirectoryNameWithVersion(const std::optional<std::string>& version) {
    return format("%@%@", kClientAppVersionPrefix, version.value_or(""));
}

std::string Const::applicationDirectoryPathWithVersion(const std::optional<std::string>& version) {
    return FileUtil::joinPath(appBaseDir(), applicationDirectoryNameWithVersion(version)) + "/";
}

std::vector<std::string> Const::applicationDirectoryPrefixEnumerate() {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(appBaseDir(), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with(kClientAppVersionPrefix))
            names.push_back(name);
    }
    return names;
}

std::string Const::applicationLaunchAgentPlistPath() { return Layout::current().autostartEntry; }

std::optional<std::string> Const::applicationUserAreaDirectoryPath(const std::string& user) {
    return homeJoined(user, Layout::current().userArea);
}

std::optional<std::string> Const::applicationUserLogDirectoryPath(const std::string& user) {
    return homeJoined(user, Layout::current().userLogs);
}

std::optional<std::string> Const::applicationConfigDirectoryPath(const std::string& user) {
    return applicationUserAreaDirectoryPath(user);
}

std::optional<std::string> Const::getCommonWorkingDirectoryPath() {
    return applicationUserAreaDirectoryPath();
}

std::optional<std::string> Const::applicationConfigPlistPath(const std::string& user) {
    return inUserArea(user, kConfigPlistName);
}

std::optional<std::string> Const::applicationFontPlistPath(const std::string& user) {
    return inUserArea(user, kFontPlistName);
}

std::optional<std::string> Const::applicationServerPlistPath() {
    return inUserArea({}, kServerPlistName);
}

std::optional<std::string> Const::applicationDownloadFontTempolaryDirectoryPath() {
    return inUserArea({}, kDownloadFontDirectoryName);
}

std::optional<std::string> Const::applicationUpdateTempolaryDirectoryPath() {
    const auto area = applicationUserAreaDirectoryPath();
    if (!area)
        return std::nullopt;
    return *area + "/";
}

std::string Const::applicationUpdateFileNameWithVersion(const std::optional<std::string>& version) {
    return format("%@%@.zip", kClientAppVersionPrefix, version.value_or(""));
}

std::optional<std::string> Const::applicationUpdateFilePathWithVersion(
    const std::optional<std::string>& version) {
    const auto folder = applicationUpdateTempolaryDirectoryPath();
    if (!folder)
        return std::nullopt;
    return FileUtil::joinPath(*folder, applicationUpdateFileNameWithVersion(version));
}

std::optional<std::string> Const::applicationLogPath() { return logFile(kClientAppName); }
std::optional<std::string> Const::applicationInstallerLogPath() { return logFile(kInstallerName); }
std::optional<std::string> Const::applicationUninstallerLogPath() {
    return logFile(kUninstallerName);
}

std::optional<std::string> Const::getLogModeSettingFilePath() {
    return inUserArea({}, kLogModeSettingFileName);
}

std::optional<std::string> Const::userFontDirectoryPath(const std::string& user) {
    return homeJoined(user, Layout::current().userFonts);
}

std::vector<std::string> Const::allUserFontDirectoryPaths() {
    const Layout layout = Layout::current();
    std::vector<std::string> paths;
    for (const std::string& entry : platform::SystemInfo::userHomeEntries()) {
        const std::string path = layout.usersHomes + "/" + entry + "/" + layout.userFonts;
        if (FileUtil::isDirectory(path))
            paths.push_back(path);
    }
    return paths;
}

std::vector<std::string> Const::allUserDirectoryPlistPaths() {
    std::vector<std::string> paths;
    for (const std::string& entry : platform::SystemInfo::userHomeEntries()) {
        const std::string area = appConfigDir(entry);
        for (const char* name : {kConfigPlistName, kFontPlistName}) {
            const std::string path = FileUtil::joinPath(area, name);
            if (FileUtil::exists(path))
                paths.push_back(path);
        }
    }
    return paths;
}

std::string Const::getCurrentAppVersion() {
    const std::string version = platform::Bundle::mainBundle()->shortVersion();
    return version.empty() ? TAVO_VERSION : version;
}

std::string Const::getCurrentBuildNumber() {
    const std::string build = platform::Bundle::mainBundle()->version();
    return build.empty() ? TAVO_BUILD_NUMBER : build;
}

std::string Const::userAgent(const std::string& swVersOutput) {
    static const std::regex valuePattern(".*:\t+(.*)");
    std::string product = "0";
    std::string build = "0";
    std::istringstream lines(swVersOutput);
    std::string line;
    while (std::getline(lines, line)) {
        std::smatch match;
        const std::string value =
            std::regex_match(line, match, valuePattern) ? match[1].str() : line;
        if (line.starts_with("ProductVersion:"))
            product = value;
        else if (line.starts_with("BuildVersion:"))
            build = value;
    }
    return format("%@/%@ (Mac %@.%@)", kClientAppName, getCurrentAppVersion(), product, build);
}

}  // namespace tavo
