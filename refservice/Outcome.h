#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace tavo::refservice {

// Result codes of the JSON envelope.
enum ResultCode : int {
    kSucceeded = 0,
    kTwoFARequired = 100,
    kInvalidArgument = 1001,
    kAuthenticationFailed = 1002,
    kTwoFACodeExpired = 1003,
    kAccountLocked = 1004,
    kMaximumNumberDevicesUse = 1005,
    kContractExpired = 1006,
    kAccessTokenExpired = 1007,
    kRefreshTokenExpired = 1008,
    kNotAuthorizedAccount = 1009,
    kInternalServerError = 2000,
};

// What an endpoint answers: the envelope's code, message and data (data is
// left out of the envelope when it is null).
struct Outcome {
    int code = kSucceeded;
    std::string message = "ok";
    nlohmann::json data;

    static Outcome success(nlohmann::json data = nullptr) {
        return {kSucceeded, "ok", std::move(data)};
    }
    static Outcome failure(int code, std::string message) {
        return {code, std::move(message), nullptr};
    }
    bool ok() const { return code == kSucceeded; }
};

}  // namespace tavo::refservice
