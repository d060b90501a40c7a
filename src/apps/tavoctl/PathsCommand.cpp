#include "PathsCommand.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Const.h"

namespace tavo::ctl {

namespace {

void print(std::ostream& out, const char* name, const std::optional<std::string>& value) {
    out << name << ": " << value.value_or("(none)") << '\n';
}

std::string joined(const std::vector<std::string>& values) {
    std::string out;
    for (const auto& v : values)
        out += (out.empty() ? "" : ", ") + v;
    return out.empty() ? "(none)" : out;
}

}  // namespace

int runPathsCommand(std::ostream& out) {
    const std::vector<std::pair<const char*, std::function<std::optional<std::string>()>>> places = {
        {"appBaseDir", [] { return Const::appBaseDir(); }},
        {"applicationDirectoryPathWithVersion",
         [] { return Const::applicationDirectoryPathWithVersion(Const::getCurrentAppVersion()); }},
        {"applicationLaunchAgentPlistPath", [] { return Const::applicationLaunchAgentPlistPath(); }},
        {"applicationUserAreaDirectoryPath", [] { return Const::applicationUserAreaDirectoryPath(); }},
        {"applicationUserLogDirectoryPath", [] { return Const::applicationUserLogDirectoryPath(); }},
        {"applicationConfigPlistPath", [] { return Const::applicationConfigPlistPath(); }},
        {"applicationFontPlistPath", [] { return Const::applicationFontPlistPath(); }},
        {"applicationServerPlistPath", [] { return Const::applicationServerPlistPath(); }},
        {"applicationDownloadFontTempolaryDirectoryPath",
         [] { return Const::applicationDownloadFontTempolaryDirectoryPath(); }},
        {"applicationUpdateTempolaryDirectoryPath",
         [] { return Const::applicationUpdateTempolaryDirectoryPath(); }},
        {"applicationUpdateFilePathWithVersion",
         [] { return Const::applicationUpdateFilePathWithVersion(Const::getCurrentAppVersion()); }},
        {"applicationLogPath", [] { return Const::applicationLogPath(); }},
        {"applicationInstallerLogPath", [] { return Const::applicationInstallerLogPath(); }},
        {"applicationUninstallerLogPath", [] { return Const::applicationUninstallerLogPath(); }},
        {"getLogModeSettingFilePath", [] { return Const::getLogModeSettingFilePath(); }},
        {"userFontDirectoryPath", [] { return Const::userFontDirectoryPath(); }},
        {"libraryFontDirectoryPath", [] { return Const::libraryFontDirectoryPath(); }},
        {"systemFontDirectoryPath", [] { return Const::systemFontDirectoryPath(); }},
        {"allUserFontDirectoryPaths", [] { return joined(Const::allUserFontDirectoryPaths()); }},
        {"allUserDirectoryPlistPaths", [] { return joined(Const::allUserDirectoryPlistPaths()); }},
        {"getCurrentAppVersion", [] { return Const::getCurrentAppVersion(); }},
        {"getCurrentBuildNumber", [] { return Const::getCurrentBuildNumber(); }},
    };
    for (const auto& [name, value] : places)
        print(out, name, value());
    return 0;
}

}  // namespace tavo::ctl
