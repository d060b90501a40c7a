#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/Error.h"

namespace tavo {

// Posted when an exchange fails; its user information holds the keys below.
inline constexpr const char* kOVErrorNotificationKeyErrorEvent = "errorEvent";
inline constexpr const char* kOVErrorUserInfoKeyCode = "code";        // std::string, decimal
inline constexpr const char* kOVErrorUserInfoKeyMessage = "message";  // std::string
// The transport's tavo::Error, or the std::string "nil" for a refusal by the server.
inline constexpr const char* kOVErrorUserInfoKeyError = "error";

// The one judge of an answer of the delivery API server.
class OVError {
public:
    // True for result code 0 or 100 without a transport error. Otherwise logs
    // the failure, posts kOVErrorNotificationKeyErrorEvent on the calling
    // thread and returns false; a missing code counts as a failure.
    static bool checkApiError(const std::optional<Error>& error, std::optional<std::int64_t> code,
                              const std::optional<std::string>& message);
};

}  // namespace tavo
