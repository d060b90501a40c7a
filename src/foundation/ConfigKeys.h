#pragma once

namespace tavo {

// Keys of the user configuration "TAVO.config.plist".
inline constexpr const char* kConfigDeviceKey = "Device Key";
inline constexpr const char* kConfigDeviceId = "Device ID";
inline constexpr const char* kConfigRefreshTokens = "Refresh Tokens";
inline constexpr const char* kConfigGroupMemberType = "Group Member Type";
inline constexpr const char* kConfigSpecifiedVersion = "Specified Version";
inline constexpr const char* kConfigUpdateVersion = "Update Version";
inline constexpr const char* kConfigForcedUpdate = "Forced Update";
inline constexpr const char* kConfigGenerationLatestVersion = "Generation Latest Version";
inline constexpr const char* kConfigGenerationCurrentVersion = "Generation Current VersionKey";
inline constexpr const char* kConfigGenerationPreviousVersion = "Generation Previous Version";
inline constexpr const char* kConfigHelpPageURL = "HelpPageURL";
inline constexpr const char* kConfigMailAddress = "Mail Address";
inline constexpr const char* kConfigLastName = "Last Name";
inline constexpr const char* kConfigFirstName = "First Name";
inline constexpr const char* kConfigLastEventID = "Last Event ID";
inline constexpr const char* kConfigScheduledDate = "Scheduled Date";

// Keys of the server configuration "TAVO.server.plist".
inline constexpr const char* kServerDeliveServerName = "deliveServerName";
inline constexpr const char* kServerNoticeServerName = "noticeServerName";

// Keys of a font record of the font list "TAVO.font.plist".
inline constexpr const char* kFontFileName = "File Name";
inline constexpr const char* kFontDisplayFontName = "Display Font Name";
inline constexpr const char* kFontActivate = "Activate";
inline constexpr const char* kFontAvailableFont = "Available Font";
inline constexpr const char* kFontFreemium = "Freemium";
inline constexpr const char* kFontContractIds = "ContractIds";
inline constexpr const char* kFontStatusType = "Status Type";
inline constexpr const char* kFontFileUpdateDate = "Font File Update Date";
inline constexpr const char* kFontStorageLocationType = "Font StorageLocation Type";

// Values of "Status Type".
inline constexpr const char* kFontStatusInstalled = "installed";
inline constexpr const char* kFontStatusNotInstalled = "notInstalled";
inline constexpr const char* kFontStatusDownloading = "downloading";

}  // namespace tavo
