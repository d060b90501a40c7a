#include "SignInProblem.h"

#include <cerrno>

#include "foundation/Config.h"

namespace tavo::ctl {

std::string signInProblem() {
    const std::string path = Config::userConfigPath().value_or("(no user area)");
    Error error;
    const auto config = Config::userConfig(&error);
    if (!config && error.code == ENOENT)
        return "there is no user configuration (" + path + ")";
    if (!config)
        return "the user configuration could not be read: " + error.description;
    const auto deviceId = Config::decryptedValue(*config, kConfigDeviceId);
    if (!deviceId || deviceId->empty())
        return path + " holds no device id";
    const auto refresh = Config::decryptedValue(*config, kConfigRefreshTokens);
    if (!refresh || refresh->empty())
        return path + " holds no refresh token";
    return "the server did not accept the refresh token of " + path;
}

}  // namespace tavo::ctl
