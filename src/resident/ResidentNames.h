#pragma once

namespace tavo {

// Images of the status item.
inline constexpr const char* kStatusIconLogin = "QXRStatusBarItemIconlogin";
inline constexpr const char* kStatusIconLogout = "QXRStatusBarItemIconlogout";
inline constexpr const char* kStatusIconNotified = "QXRStatusBarItemIconNotified";
inline constexpr const char* kStatusIconFinish = "QXRStatusBarItemIconfinish";
inline constexpr const char* kStatusIconWorking = "QXRStatusBarItemIconworking_%ld";

// Tags of the status menu's entries.
inline constexpr int kMenuTagAccountInfo = 1;
inline constexpr int kMenuTagAccount = 2;
inline constexpr int kMenuTagFontPage = 3;
inline constexpr int kMenuTagSyncFont = 4;
inline constexpr int kMenuTagNoticeInfo = 5;
inline constexpr int kMenuTagShowVersion = 6;
inline constexpr int kMenuTagHelpURL = 7;
inline constexpr int kMenuTagLogout = 8;
inline constexpr int kMenuTagUpdate = 9;

// Periodic work.
inline constexpr double kHalfHourTimerInterval = 1800.0;
inline constexpr double kTwentyFourHourTimerInterval = 86400.0;
inline constexpr double kTwentyFourHourSlack = 1.0;
inline constexpr double kInstallerCheckInterval = 0.5;
inline constexpr double kAccessTokenRetryPause = 5.0;
inline constexpr double kTwentyFourHourStartDelay = 3.0;
inline constexpr int kSSEAllowableConnectionSeconds = 21600;
inline constexpr long kRefreshTokenScheduleBaseSeconds = 604800;
inline constexpr int kRefreshTokenScheduleExtraDays = 5;
inline constexpr long kRemovedFontsLimit = 1000;
inline constexpr long kRemovedFontsOffset = 0;
inline constexpr double kRequestTimeout = 10.0;

}  // namespace tavo
