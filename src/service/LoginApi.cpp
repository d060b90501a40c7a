#include "service/LoginApi.h"

namespace tavo {

namespace {

ApiParams loginParams(const std::optional<std::string>& mailAddress,
                      const std::optional<std::string>& password) {
    return givenParams({{"mailAddress", mailAddress}, {"password", password}});
}

ApiParams deviceIdParams(const std::optional<std::string>& mailAddress,
                         const std::optional<std::string>& password,
                         const std::optional<std::string>& hostname,
                         const std::optional<std::string>& osUserName,
                         const std::optional<std::string>& deviceKey) {
    return givenParams({{"mailAddress", mailAddress},
                        {"password", password},
                        {"hostname", hostname},
                        {"osUserName", osUserName},
                        {"deviceKey", deviceKey}});
}

}  // namespace

LoginBase LoginApi::loginWithMailAddress(const std::optional<std::string>& mailAddress,
                                         const std::optional<std::string>& password,
                                         std::optional<Error>* error) {
    return call<LoginBase>(v1("/login"), kHttpPost, loginParams(mailAddress, password), deviceHeaders(), error);
}

DeviceIdBase LoginApi::deviceIdWithMailAddress(const std::optional<std::string>& mailAddress,
                                               const std::optional<std::string>& password,
                                               const std::optional<std::string>& hostname,
                                               const std::optional<std::string>& osUserName,
                                               const std::optional<std::string>& deviceKey,
                                               std::optional<Error>* error) {
    return call<DeviceIdBase>(v1("/deviceId"), kHttpPost,
                              deviceIdParams(mailAddress, password, hostname, osUserName, deviceKey),
                              std::nullopt, error);
}

Auth2FactBase LoginApi::auth2FactWithTwoFactCode(const std::optional<std::string>& twoFactCode,
                                                 std::optional<Error>* error) {
    return call<Auth2FactBase>(v1("/auth2fact"), kHttpPost, givenParams({{"twoFactCode", twoFactCode}}),
                               deviceHeaders(), error);
}

DevicesBase LoginApi::getDevicesWithError(std::optional<Error>* error) {
    return call<DevicesBase>(v1("/devices"), kHttpGet, std::nullopt, authorisedHeaders(), error);
}

DeviceBase LoginApi::deviceOutOfUseWithTargetDeviceId(const std::optional<std::string>& targetDeviceId,
                                                      std::optional<Error>* error) {
    return call<DeviceBase>(v1("/device/out-of-use"), kHttpPost,
                            givenParams({{"targetDeviceId", targetDeviceId}}), authorisedHeaders(), error);
}

DeviceBase LoginApi::deviceInUseWithError(std::optional<Error>* error) {
    return call<DeviceBase>(v1("/device/in-use"), kHttpPost, ApiParams{}, authorisedHeaders(), error);
}

LogoutBase LoginApi::logoutWithError(std::optional<Error>* error) {
    return call<LogoutBase>(v1("/logout"), kHttpPost, ApiParams{}, authorisedHeaders(), error);
}

TokenBase LoginApi::tokenWithRefreshToken(const std::optional<std::string>& refreshToken,
                                          std::optional<Error>* error) {
    return call<TokenBase>(v1("/token"), kHttpPost, givenParams({{"refreshToken", refreshToken}}),
                           deviceHeaders(), error);
}

RefreshTokenBase LoginApi::refreshTokenWithRefreshToken(std::optional<Error>* error) {
    return call<RefreshTokenBase>(v1("/refresh-token"), kHttpPost, ApiParams{}, authorisedHeaders(), error);
}

ScreensBase LoginApi::getScreensPasswordResetUrlWithError(std::optional<Error>* error) {
    return call<ScreensBase>(v1("/screens/password-reset/url"), kHttpGet, std::nullopt, std::nullopt, error);
}

ScreensBase LoginApi::getScreensMemberRegistrationUrlWithError(std::optional<Error>* error) {
    return call<ScreensBase>(v1("/screens/member-registration/url"), kHttpGet, std::nullopt, std::nullopt,
                             error);
}

void LoginApi::loginAsyncWithMailAddress(const std::optional<std::string>& mailAddress,
                                         const std::optional<std::string>& password,
                                         Handler<LoginBase> handler) {
    callAsync<LoginBase>(v1("/login"), kHttpPost, loginParams(mailAddress, password), deviceHeaders(),
                         std::move(handler));
}

void LoginApi::deviceIdAsyncWithMailAddress(const std::optional<std::string>& mailAddress,
                                            const std::optional<std::string>& password,
                                            const std::optional<std::string>& hostname,
                                            const std::optional<std::string>& osUserName,
                                            const std::optional<std::string>& deviceKey,
                                            Handler<DeviceIdBase> handler) {
    callAsync<DeviceIdBase>(v1("/deviceId"), kHttpPost,
                            deviceIdParams(mailAddress, password, hostname, osUserName, deviceKey),
                            std::nullopt, std::move(handler));
}

void LoginApi::auth2FactAsyncWithTwoFactCode(const std::optional<std::string>& twoFactCode,
                                             Handler<Auth2FactBase> handler) {
    callAsync<Auth2FactBase>(v1("/auth2fact"), kHttpPost, givenParams({{"twoFactCode", twoFactCode}}),
                             deviceHeaders(), std::move(handler));
}

void LoginApi::getDevicesAsync(Handler<DevicesBase> handler) {
    callAsync<DevicesBase>(v1("/devices"), kHttpGet, std::nullopt, authorisedHeaders(), std::move(handler));
}

void LoginApi::deviceOutOfUseAsyncWithTargetDeviceId(const std::optional<std::string>& targetDeviceId,
                                                     Handler<DeviceBase> handler) {
    callAsync<DeviceBase>(v1("/device/out-of-use"), kHttpPost,
                          givenParams({{"targetDeviceId", targetDeviceId}}), authorisedHeaders(),
                          std::move(handler));
}

void LoginApi::deviceInUseAsync(Handler<DeviceBase> handler) {
    callAsync<DeviceBase>(v1("/device/in-use"), kHttpPost, ApiParams{}, authorisedHeaders(), std::move(handler));
}

void LoginApi::logoutAsync(Handler<LogoutBase> handler) {
    callAsync<LogoutBase>(v1("/logout"), kHttpPost, ApiParams{}, authorisedHeaders(), std::move(handler));
}

void LoginApi::tokenAsyncWithRefreshToken(const std::optional<std::string>& refreshToken,
                                          Handler<TokenBase> handler) {
    callAsync<TokenBase>(v1("/token"), kHttpPost, givenParams({{"refreshToken", refreshToken}}),
                         deviceHeaders(), std::move(handler));
}

void LoginApi::getScreensPasswordResetUrlAsync(Handler<ScreensBase> handler) {
    callAsync<ScreensBase>(v1("/screens/password-reset/url"), kHttpGet, std::nullopt, std::nullopt,
                           std::move(handler));
}

void LoginApi::getScreensMemberRegistrationUrlAsync(Handler<ScreensBase> handler) {
    callAsync<ScreensBase>(v1("/screens/member-registration/url"), kHttpGet, std::nullopt, std::nullopt,
                           std::move(handler));
}

}  // namespace tavo
