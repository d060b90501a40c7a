#pragma once

#include "service/AccountModels.h"
#include "service/ApiEndpoint.h"
#include "service/AuthModels.h"

namespace tavo {

// Sign-in, devices and tokens.
class LoginApi : public ApiEndpoint {
public:
    using ApiEndpoint::ApiEndpoint;

    LoginBase loginWithMailAddress(const std::optional<std::string>& mailAddress,
                                   const std::optional<std::string>& password, std::optional<Error>* error);
    DeviceIdBase deviceIdWithMailAddress(const std::optional<std::string>& mailAddress,
                                         const std::optional<std::string>& password,
                                         const std::optional<std::string>& hostname,
                                         const std::optional<std::string>& osUserName,
                                         const std::optional<std::string>& deviceKey,
                                         std::optional<Error>* error);
    Auth2FactBase auth2FactWithTwoFactCode(const std::optional<std::string>& twoFactCode,
                                           std::optional<Error>* error);
    DevicesBase getDevicesWithError(std::optional<Error>* error);
    DeviceBase deviceOutOfUseWithTargetDeviceId(const std::optional<std::string>& targetDeviceId,
                                                std::optional<Error>* error);
    DeviceBase deviceInUseWithError(std::optional<Error>* error);
    LogoutBase logoutWithError(std::optional<Error>* error);
    TokenBase tokenWithRefreshToken(const std::optional<std::string>& refreshToken,
                                    std::optional<Error>* error);
    RefreshTokenBase refreshTokenWithRefreshToken(std::optional<Error>* error);
    ScreensBase getScreensPasswordResetUrlWithError(std::optional<Error>* error);
    ScreensBase getScreensMemberRegistrationUrlWithError(std::optional<Error>* error);

    void loginAsyncWithMailAddress(const std::optional<std::string>& mailAddress,
                                   const std::optional<std::string>& password, Handler<LoginBase> handler);
    void deviceIdAsyncWithMailAddress(const std::optional<std::string>& mailAddress,
                                      const std::optional<std::string>& password,
                                      const std::optional<std::string>& hostname,
                                      const std::optional<std::string>& osUserName,
                                      const std::optional<std::string>& deviceKey,
                                      Handler<DeviceIdBase> handler);
    void auth2FactAsyncWithTwoFactCode(const std::optional<std::string>& twoFactCode,
                                       Handler<Auth2FactBase> handler);
    void getDevicesAsync(Handler<DevicesBase> handler);
    void deviceOutOfUseAsyncWithTargetDeviceId(const std::optional<std::string>& targetDeviceId,
                                               Handler<DeviceBase> handler);
    void deviceInUseAsync(Handler<DeviceBase> handler);
    void logoutAsync(Handler<LogoutBase> handler);
    void tokenAsyncWithRefreshToken(const std::optional<std::string>& refreshToken,
                                    Handler<TokenBase> handler);
    void getScreensPasswordResetUrlAsync(Handler<ScreensBase> handler);
    void getScreensMemberRegistrationUrlAsync(Handler<ScreensBase> handler);
};

}  // namespace tavo
