#include "refservice/AuthDesk.h"

#include <algorithm>

#include "refservice/Params.h"
#include "refservice/ServiceState.h"

namespace tavo::refservice {

namespace {

std::optional<Outcome> statusRefusal(const Account& account) {
    if (account.locked)
        return Outcome::failure(kAccountLocked, "the account is locked");
    if (account.notAuthorized)
        return Outcome::failure(kNotAuthorizedAccount, "the account is not authorized");
    if (account.contractExpired)
        return Outcome::failure(kContractExpired, "the contract has expired");
    return std::nullopt;
}

bool inUse(const Account& account, const std::string& deviceId) {
    return std::any_of(account.devicesInUse.begin(), account.devicesInUse.end(),
                       [&](const DeviceUse& use) { return use.deviceId == deviceId; });
}

// "TAVO/2.1.0 (Mac 13.4.22F66)" -> {"Mac", "13.4.22F66"}.
std::pair<std::string, std::string> osFromUserAgent(const std::string& userAgent) {
    const auto open = userAgent.find('(');
    const auto close = userAgent.find(')', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos)
        return {"unknown", ""};
    const std::string inside = userAgent.substr(open + 1, close - open - 1);
    const auto space = inside.find(' ');
    if (space == std::string::npos)
        return {inside, ""};
    return {inside.substr(0, space), inside.substr(space + 1)};
}

const Outcome kWrongCredentials =
    Outcome::failure(kAuthenticationFailed, "email address or password is wrong");

}  // namespace

AuthDesk::AuthDesk(std::shared_ptr<ServiceState> state) : state_(std::move(state)) {}

Outcome AuthDesk::registerDevice(const nlohmann::json& params, const std::string& userAgent) {
    const auto mail = Params::text(params, "mailAddress");
    const auto password = Params::text(params, "password");
    const auto deviceKey = Params::text(params, "deviceKey");
    if (!mail || !password || !deviceKey || mail->empty() || deviceKey->empty())
        return Outcome::failure(kInvalidArgument,
                                "mailAddress, password and deviceKey are required");
    std::lock_guard lock(state_->mutex);
    Account* account = state_->findAccount(*mail);
    if (!account || account->password != *password)
        return kWrongCredentials;
    if (auto refusal = statusRefusal(*account))
        return *refusal;
    auto [osType, osVersion] = osFromUserAgent(userAgent);
    Device* device = nullptr;
    for (auto& [id, known] : state_->devices) {
        if (known.deviceKey == *deviceKey)
            device = &known;
    }
    if (!device) {
        std::string id = state_->newIdentifier("", 16);
        device = &state_->devices[id];
        device->deviceId = id;
        device->deviceKey = *deviceKey;
    }
    device->hostname = Params::text(params, "hostname").value_or("");
    device->osUserName = Params::text(params, "osUserName").value_or("");
    device->osType = osType;
    device->osVersion = osVersion;
    return Outcome::success({{"deviceId", device->deviceId}});
}

Outcome AuthDesk::login(const std::string& deviceId, const nlohmann::json& params) {
    const auto mail = Params::text(params, "mailAddress");
    const auto password = Params::text(params, "password");
    if (!mail || !password || mail->empty() || password->empty())
        return Outcome::failure(kInvalidArgument, "mailAddress and password are required");
    std::lock_guard lock(state_->mutex);
    Account* account = state_->findAccount(*mail);
    if (!account || account->password != *password)
        return kWrongCredentials;
    if (auto refusal = statusRefusal(*account))
        return *refusal;
    if (deviceId.empty() || !state_->devices.count(deviceId))
        return Outcome::failure(kInvalidArgument, "unknown device");
    if (!account->twoFactorCode.empty()) {
        state_->pendingTwoFactor[deviceId] = {ServiceState::key(*mail), Clock::now()};
        return Outcome::failure(kTwoFARequired, "two factor authentication code required");
    }
    return completeSignIn(*account, deviceId);
}

Outcome AuthDesk::twoFactor(const std::string& deviceId, const nlohmann::json& params) {
    const auto code = Params::text(params, "twoFactCode");
    if (!code || code->empty())
        return Outcome::failure(kInvalidArgument, "twoFactCode is required");
    std::lock_guard lock(state_->mutex);
    auto pending = state_->pendingTwoFactor.find(deviceId);
    if (pending == state_->pendingTwoFactor.end())
        return Outcome::failure(kAuthenticationFailed, "no authentication in progress");
    Account* account = state_->findAccount(pending->second.mailAddress);
    if (!account)
        return Outcome::failure(kAuthenticationFailed, "no authentication in progress");
    if (auto refusal = statusRefusal(*account))
        return *refusal;
    if (Clock::now() - pending->second.issuedAt > state_->settings.twoFactorLifetime)
        return Outcome::failure(kTwoFACodeExpired, "authentication code has expired");
    if (*code != account->twoFactorCode)
        return Outcome::failure(kAuthenticationFailed, "wrong authorization code");
    state_->pendingTwoFactor.erase(pending);
    return completeSignIn(*account, deviceId);
}

Outcome AuthDesk::token(const std::string& deviceId, const nlohmann::json& params) {
    const auto refresh = Params::text(params, "refreshToken");
    if (!refresh || refresh->empty())
        return Outcome::failure(kInvalidArgument, "refreshToken is required");
    std::lock_guard lock(state_->mutex);
    auto it = state_->refreshTokens.find(*refresh);
    if (it == state_->refreshTokens.end() || it->second.expiresAt <= Clock::now() ||
        it->second.deviceId != deviceId)
        return Outcome::failure(kRefreshTokenExpired, "the refresh token has expired");
    const Token entry = it->second;
    Account* account = state_->findAccount(entry.mailAddress);
    if (!account)
        return Outcome::failure(kRefreshTokenExpired, "the refresh token has expired");
    if (auto refusal = statusRefusal(*account))
        return *refusal;
    return Outcome::success(
        {{"accessToken", state_->issueAccessToken(entry.mailAddress, entry.deviceId)}});
}

std::optional<Caller> AuthDesk::authorise(const std::string& deviceIdHeader,
                                          const std::string& authorization, bool deviceEndpoint,
                                          Outcome* refusal) {
    static const std::string kBearer = "Bearer ";
    if (authorization.rfind(kBearer, 0) != 0 || authorization.size() == kBearer.size()) {
        *refusal = Outcome::failure(kNotAuthorizedAccount, "authorization is required");
        return std::nullopt;
    }
    const std::string token = authorization.substr(kBearer.size());
    std::lock_guard lock(state_->mutex);
    auto it = state_->accessTokens.find(token);
    if (it == state_->accessTokens.end() || it->second.expiresAt <= Clock::now()) {
        *refusal = Outcome::failure(kAccessTokenExpired, "the access token has expired");
        return std::nullopt;
    }
    if (it->second.deviceId != deviceIdHeader) {
        *refusal = Outcome::failure(kNotAuthorizedAccount, "the token belongs to another device");
        return std::nullopt;
    }
    const Account* account = state_->findAccount(it->second.mailAddress);
    if (!account) {
        *refusal = Outcome::failure(kNotAuthorizedAccount, "the account is not authorized");
        return std::nullopt;
    }
    if (auto status = statusRefusal(*account)) {
        *refusal = *status;
        return std::nullopt;
    }
    Caller caller{it->second.mailAddress, it->second.deviceId, inUse(*account, deviceIdHeader)};
    if (!caller.deviceInUse && !deviceEndpoint) {
        *refusal = Outcome::failure(kMaximumNumberDevicesUse,
                                    "the account already uses its maximum number of devices");
        return std::nullopt;
    }
    return caller;
}

Outcome AuthDesk::refreshToken(const Caller& caller) {
    std::lock_guard lock(state_->mutex);
    std::erase_if(state_->refreshTokens, [&](const auto& entry) {
        return entry.second.mailAddress == caller.mailAddress &&
               entry.second.deviceId == caller.deviceId;
    });
    return Outcome::success(
        {{"accessToken", state_->issueAccessToken(caller.mailAddress, caller.deviceId)},
         {"refreshToken", state_->issueRefreshToken(caller.mailAddress, caller.deviceId)}});
}

Outcome AuthDesk::logout(const Caller& caller) {
    std::lock_guard lock(state_->mutex);
    if (Account* account = state_->findAccount(caller.mailAddress)) {
        std::erase_if(account->devicesInUse,
                      [&](const DeviceUse& use) { return use.deviceId == caller.deviceId; });
    }
    state_->revokeTokens(caller.mailAddress, caller.deviceId);
    return Outcome::success();
}

Outcome AuthDesk::devices(const Caller& caller) {
    std::lock_guard lock(state_->mutex);
    const Account* account = state_->findAccount(caller.mailAddress);
    nlohmann::json list = nlohmann::json::array();
    for (const DeviceUse& use : account ? account->devicesInUse : std::vector<DeviceUse>{}) {
        auto device = state_->devices.find(use.deviceId);
        if (device == state_->devices.end())
            continue;
        list.push_back({{"userDeviceId", use.userDeviceId},
                        {"deviceId", device->second.deviceId},
                        {"hostname", device->second.hostname},
                        {"osUserName", device->second.osUserName},
                        {"osType", device->second.osType},
                        {"osVersion", device->second.osVersion}});
    }
    return Outcome::success(std::move(list));
}

Outcome AuthDesk::deviceOutOfUse(const Caller& caller, const nlohmann::json& params) {
    const auto target = Params::text(params, "targetDeviceId");
    if (!target || target->empty())
        return Outcome::failure(kInvalidArgument, "targetDeviceId is required");
    std::lock_guard lock(state_->mutex);
    Account* account = state_->findAccount(caller.mailAddress);
    if (!account || !inUse(*account, *target))
        return Outcome::failure(kInvalidArgument, "the device is not in use");
    std::erase_if(account->devicesInUse,
                  [&](const DeviceUse& use) { return use.deviceId == *target; });
    state_->revokeTokens(caller.mailAddress, *target);
    return Outcome::success();
}

Outcome AuthDesk::deviceInUse(const Caller& caller) {
    std::lock_guard lock(state_->mutex);
    Account* account = state_->findAccount(caller.mailAddress);
    if (!account)
        return Outcome::failure(kNotAuthorizedAccount, "the account is not authorized");
    Outcome outcome = completeSignIn(*account, caller.deviceId);
    if (outcome.code == kMaximumNumberDevicesUse)
        outcome.data = nullptr;  // still at the limit: no new tokens
    return outcome;
}

Outcome AuthDesk::completeSignIn(Account& account, const std::string& deviceId) {
    if (!inUse(account, deviceId)) {
        if (static_cast<int>(account.devicesInUse.size()) >= account.maxDevices) {
            Outcome limited = Outcome::failure(
                kMaximumNumberDevicesUse, "the account already uses its maximum number of devices");
            limited.data = tokenPair(account, deviceId);
            return limited;
        }
        account.devicesInUse.push_back({deviceId, state_->newIdentifier("", 12)});
    }
    return Outcome::success(tokenPair(account, deviceId));
}

nlohmann::json AuthDesk::tokenPair(const Account& account, const std::string& deviceId) {
    const std::string mail = ServiceState::key(account.mailAddress);
    return {{"accessToken", state_->issueAccessToken(mail, deviceId)},
            {"refreshToken", state_->issueRefreshToken(mail, deviceId)}};
}

}  // namespace tavo::refservice
