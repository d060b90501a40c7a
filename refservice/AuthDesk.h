#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "refservice/Outcome.h"

namespace tavo::refservice {

class ServiceState;
struct Account;

// Who made an authorised request.
struct Caller {
    std::string mailAddress;  // lower-case key of the account
    std::string deviceId;
    bool deviceInUse = false;
};

// Sign-in, device registration and tokens: the answers of /deviceId, /login,
// /auth2fact, /token, /refresh-token, /logout, /devices and /device/...
class AuthDesk {
public:
    explicit AuthDesk(std::shared_ptr<ServiceState> state);

    Outcome registerDevice(const nlohmann::json& params, const std::string& userAgent);
    Outcome login(const std::string& deviceId, const nlohmann::json& params);
    Outcome twoFactor(const std::string& deviceId, const nlohmann::json& params);
    Outcome token(const std::string& deviceId, const nlohmann::json& params);

    // Checks "X-TAVO-DEVICEID" and "Authorization: Bearer ...". Endpoints
    // that serve the device-limit dialog accept a device that is not in use
    // yet (deviceEndpoint); all others refuse it with 1005.
    std::optional<Caller> authorise(const std::string& deviceIdHeader,
                                    const std::string& authorization, bool deviceEndpoint,
                                    Outcome* refusal);

    Outcome refreshToken(const Caller& caller);
    Outcome logout(const Caller& caller);
    Outcome devices(const Caller& caller);
    Outcome deviceOutOfUse(const Caller& caller, const nlohmann::json& params);
    Outcome deviceInUse(const Caller& caller);

private:
    // With the state locked: answers 0 with a token pair when the device is
    // (or can be taken) in use, 1005 with a token pair when the account is at
    // its device limit.
    Outcome completeSignIn(Account& account, const std::string& deviceId);
    nlohmann::json tokenPair(const Account& account, const std::string& deviceId);

    std::shared_ptr<ServiceState> state_;
};

}  // namespace tavo::refservice
