#include "foundation/Config.h"

#include <cerrno>
#include <mutex>

#include "foundation/Const.h"
#include "foundation/CryptorUtil.h"
#include "foundation/FileUtil.h"
#include "foundation/Log.h"

namespace tavo {

namespace {

constexpr mode_t kUserConfigMode = 0600;
constexpr mode_t kFontListMode = 0600;
constexpr std::size_t kMaximumFileSize = 64u << 20;

std::optional<PlistDict> loadDict(const std::optional<std::string>& path, Error* failure) {
    if (!path) {
        *failure = Error{ENOENT, "NSPOSIXErrorDomain", "the user has no home folder"};
        return std::nullopt;
    }
    const auto bytes = FileUtil::readFile(*path, kMaximumFileSize, failure);
    if (!bytes)
        return std::nullopt;
    auto value = PlistValue::parse(*bytes);
    if (!value || !value->is<PlistDict>()) {
        *failure = Error{Config::kPropertyListReadCorruptError, "NSCocoaErrorDomain",
                         *path + (value ? " holds a property list that is not a dictionary"
                                        : " is not a property list")};
        return std::nullopt;
    }
    return std::move(*value->get<PlistDict>());
}

std::optional<PlistDict> readDict(const std::optional<std::string>& path, Error* error) {
    Error failure;
    auto dict = loadDict(path, &failure);
    if (dict)
        return dict;
    if (failure.code != ENOENT)
        ELog("code %ld: message: could not read %@: Description: [%@]", failure.code,
             path.value_or(""), failure);
    if (error)
        *error = std::move(failure);
    return std::nullopt;
}

std::string textOr(const PlistDict& dict, const char* key, const std::string& fallback) {
    const auto* text = plistGet<std::string>(dict, key);
    return text ? *text : fallback;
}

}  // namespace

std::optional<std::string> Config::userConfigPath() {
    return Const::applicationConfigPlistPath();
}
std::optional<std::string> Config::serverConfigPath() {
    return Const::applicationServerPlistPath();
}
std::optional<std::string> Config::fontListPath() {
    return Const::applicationFontPlistPath();
}

std::optional<PlistDict> Config::userConfig(Error* error) {
    return readDict(userConfigPath(), error);
}
std::optional<PlistDict> Config::serverConfig(Error* error) {
    return readDict(serverConfigPath(), error);
}
std::optional<PlistDict> Config::fontList(Error* error) {
    return readDict(fontListPath(), error);
}

void Config::createConfigPlist(const std::optional<PlistData>& deviceKey) {
    const auto folder = Const::applicationConfigDirectoryPath();
    const auto path = userConfigPath();
    if (!folder || !path)
        return;
    Error folderError;
    if (!FileUtil::isDirectory(*folder)) {
        if (!FileUtil::createDirectories(*folder, &folderError)) {
            ILog(
                "code %ld: message: An error for creating directory occurs.: %@: Description: [%@]",
                folderError.code, *folder, folderError);
            return;
        }
        ILog("Created directory for configuration: %@", *folder);
    }

    PlistDict previous;
    if (auto existing = userConfig()) {
        ILog("Inherit existing user configurations");
        previous = std::move(*existing);
    }
    const auto* forced = plistGet<bool>(previous, kConfigForcedUpdate);

    PlistDict config;
    config[kConfigDeviceKey] = deviceKey.value_or(PlistData{});
    config[kConfigDeviceId] = "";
    config[kConfigRefreshTokens] = "";
    config[kConfigGroupMemberType] = "";
    config[kConfigSpecifiedVersion] = textOr(previous, kConfigSpecifiedVersion, "");
    config[kConfigUpdateVersion] = textOr(previous, kConfigUpdateVersion, "");
    config[kConfigForcedUpdate] = forced ? *forced : false;
    config[kConfigGenerationLatestVersion] = "";
    config[kConfigGenerationCurrentVersion] = textOr(previous, kConfigGenerationCurrentVersion, "");
    config[kConfigGenerationPreviousVersion] =
        textOr(previous, kConfigGenerationPreviousVersion, "");
    config[kConfigHelpPageURL] = TAVO_HELP_URL;

    Error writeError;
    if (PlistValue(config).writeToFile(*path, true, kUserConfigMode, &writeError))
        ILog("Saved initialized user configuration: %@", *path);
    else
        ILog("code %ld: message: not write %@: Description: [%@]", writeError.code, *path,
             writeError);
}

void Config::createFontPlist() {
    const auto path = fontListPath();
    if (!path || FileUtil::exists(*path))
        return;
    ILog("Created font list: %@", *path);
    FileUtil::createDirectories(FileUtil::parentPath(*path));
    if (PlistValue(PlistDict{}).writeToFile(*path, true, kFontListMode))
        ILog("Saved initialized font list: %@", *path);
    else
        ILog("code %ld: message: not write %@", 0L, *path);
}

bool Config::writeToUserConfig(const PlistDict& dict, bool atomically, const Error* error) {
    const auto path = userConfigPath();
    Error writeError;
    if (path && PlistValue(dict).writeToFile(*path, atomically, kUserConfigMode, &writeError)) {
        ILog("Wrote user configuration: %@", *path);
        return true;
    }
    const Error* reported = error ? error : (path ? &writeError : nullptr);
    ILog("code %ld: message: not write %@: Description: [%@]", reported ? reported->code : -1L,
         path.value_or(""), reported ? reported->text() : std::string("-"));
    return false;
}

bool Config::updateUserConfig(const std::function<void(PlistDict&)>& change) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    auto config = userConfig();
    if (!config)
        return false;
    change(*config);
    return writeToUserConfig(*config, true, nullptr);
}

bool Config::writeFontList(const PlistDict& fontList) {
    return writeFontListDocument(PlistValue(fontList).toXml());
}

bool Config::writeFontListDocument(const std::string& document) {
    const auto path = fontListPath();
    Error error;
    if (path && FileUtil::writeFile(*path, document, true, kFontListMode, &error))
        return true;
    ILog("code %ld: message: not write %@: Description: [%@]", error.code, path.value_or(""),
         error);
    return false;
}

bool Config::setAppLogMode() {
    TAVO_DLOG("%@", "_debug_log is active");
    const auto marker = Const::getLogModeSettingFilePath();
    const std::string mode = marker && FileUtil::exists(*marker) ? kLogModeDebug : kLogModeNormal;
    const bool applied = Log::defaultLog().applyLogMode(mode);
    ILog("The log mode has %@ %@.", applied ? "changed successfully into " : "failed in changing",
         mode);
    return applied;
}

std::optional<std::string> Config::decryptedValue(const PlistDict& dict, const std::string& key) {
    const auto it = dict.find(key);
    if (it == dict.end())
        return std::nullopt;
    if (const auto* text = it->second.get<std::string>())
        return *text;
    if (const auto* data = it->second.get<PlistData>())
        return data->empty() ? std::string() : CryptorUtil::decryptStringWithData(*data);
    return std::nullopt;
}

std::string Config::deliveServerName() {
    const auto server = serverConfig();
    const auto* name = server ? plistGet<std::string>(*server, kServerDeliveServerName) : nullptr;
    return name && !name->empty() ? *name : TAVO_API_ENDPOINT;
}

std::string Config::noticeServerName() {
    const auto server = serverConfig();
    const auto* name = server ? plistGet<std::string>(*server, kServerNoticeServerName) : nullptr;
    return name && !name->empty() ? *name : TAVO_SSE_ENDPOINT;
}

}  // namespace tavo
