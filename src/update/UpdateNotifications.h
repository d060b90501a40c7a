#pragma once

namespace tavo {

// The "pcUpdateProgress" notification of the update worker while it copies
// a new version into place, and its user-information keys.
inline constexpr const char* kPCNotificationKeyUpdateProgress = "pcUpdateProgress";
inline constexpr const char* kPCUserInfoKeyIsCopyStarted = "isCopyStarted";
inline constexpr const char* kPCUserInfoKeyProgress = "pcProgress";  // int: percent
inline constexpr const char* kPCUserInfoKeyIsCopyFinished = "isCopyFinished";
inline constexpr const char* kPCUserInfoKeyCopyErrorOccurred = "copyErrorOccurred";

}  // namespace tavo
