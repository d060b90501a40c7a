#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tavo {

inline constexpr const char* kClientAppName = "TAVO";
inline constexpr const char* kInstallerName = "TAVO-Installer";
inline constexpr const char* kUninstallerName = "TAVO-Uninstaller";
inline constexpr const char* kClientAppVersionPrefix = "TAVO-Ver";
inline constexpr const char* kAppUpdateFileNameExcludeExtension = "TAVO-Ver%@";
inline constexpr const char* kAppFileType = "app";
inline constexpr const char* kLogFileType = "log";
inline constexpr const char* kDestinationDirectorySuffix = ".old";
inline constexpr const char* kAppArgUpdated = "-Updated";
inline constexpr const char* kContainsAvailableFonts = "availableFonts";
inline constexpr const char* kContainsDeletedFonts = "deletedFonts";
inline constexpr const char* kReverseDomainPrefix = "oskavelle";
inline constexpr const char* kConfigPlistName = "TAVO.config.plist";
inline constexpr const char* kFontPlistName = "TAVO.font.plist";
inline constexpr const char* kServerPlistName = "TAVO.server.plist";
inline constexpr const char* kLogModeSettingFileName = ".debug.ini";
inline constexpr const char* kDownloadFontDirectoryName = "Download Font";
// Posted on the main thread when a sign-in has completed.
inline constexpr const char* kLMUserInfoKeyLoginSucess = "loginSuccess";
// The application's logo in its windows.
inline constexpr const char* kAppLogoName = "TAVO_logo3";

// Every place and fixed name of the system. Places come from the platform
// layout (and so lie inside the sandbox root when there is one). Operations
// on a user's folders yield none when the user has no home folder; an empty
// user name means the user running the process.
class Const {
public:
    // Folder of the versioned application folders and of the link to the one in use.
    static std::string appBaseDir();
    static std::string systemFontDirectoryPath();
    static std::string libraryFontDirectoryPath();
    // User area of a named user, by the layout's users' homes folder.
    static std::string appConfigDir(const std::string& user);

    static std::string applicationDirectoryNameWithVersion(const std::optional<std::string>& version);
    static std::string applicationDirectoryPathWithVersion(const std::optional<std::string>& version);
    static std::vector<std::string> applicationDirectoryPrefixEnumerate();
    static std::string applicationLaunchAgentPlistPath();

    static std::optional<std::string> applicationUserAreaDirectoryPath(const std::string& user = {});
    static std::optional<std::string> applicationUserLogDirectoryPath(const std::string& user = {});
    static std::optional<std::string> applicationConfigDirectoryPath(const std::string& user = {});
    static std::optional<std::string> getCommonWorkingDirectoryPath();
    static std::optional<std::string> applicationConfigPlistPath(const std::string& user = {});
    static std::optional<std::string> applicationFontPlistPath(const std::string& user = {});
    static std::optional<std::string> applicationServerPlistPath();
    static std::optional<std::string> applicationDownloadFontTempolaryDirectoryPath();
    static std::optional<std::string> applicationUpdateTempolaryDirectoryPath();
    static std::string applicationUpdateFileNameWithVersion(const std::optional<std::string>& version);
    static std::optional<std::string> applicationUpdateFilePathWithVersion(
        const std::optional<std::string>& version);
    static std::optional<std::string> applicationLogPath();
    static std::optional<std::string> applicationInstallerLogPath();
    static std::optional<std::string> applicationUninstallerLogPath();
    static std::optional<std::string> getLogModeSettingFilePath();
    static std::optional<std::string> userFontDirectoryPath(const std::string& user = {});
    static std::vector<std::string> allUserFontDirectoryPaths();
    static std::vector<std::string> allUserDirectoryPlistPaths();

    static std::string getCurrentAppVersion();
    static std::string getCurrentBuildNumber();
    // "TAVO/<version> (Mac <product>.<build>)" from the system's version report.
    static std::string userAgent(const std::string& swVersOutput);
};

}  // namespace tavo
