#pragma once

#include <gtest/gtest.h>
#include <strings.h>

#include <nlohmann/json.hpp>

#include "foundation/Config.h"
#include "foundation/CryptorUtil.h"
#include "foundation/PlistValue.h"
#include "refservice/RefService.h"
#include "refservice/ServiceContext.h"
#include "service/ApiClient.h"
#include "service/LoginApi.h"
#include "support/Sandbox.h"

namespace tavo::test {

// A reference service on loopback and a client of its own pointed at it,
// inside a fresh sandbox root.
class ServiceFixture : public SandboxTest {
protected:
    static constexpr const char* kMail = "user@example.com";
    static constexpr const char* kPassword = "secret";

    virtual nlohmann::json seed() const {
        return {{"systemFonts", {{"limit", 3}}},
                {"accounts",
                 {{{"mailAddress", kMail},
                   {"password", kPassword},
                   {"firstName", "Ada"},
                   {"lastName", "Lovelace"},
                   {"maxDevices", 5},
                   {"fonts", "all"}}}}};
    }

    // An account under contract that holds three fonts of the machine, active.
    static nlohmann::json contractedAccountSeed() {
        return {{"systemFonts", {{"limit", 3}}},
                {"accounts",
                 {{{"mailAddress", kMail},
                   {"password", kPassword},
                   {"maxDevices", 5},
                   {"contractIds", {"c-1"}},
                   {"fonts", "all"}}}}};
    }

    void SetUp() override {
        refservice::ServiceOptions options;
        options.connectionKeepAliveSeconds = 1;  // stops sooner with a client connection open
        options.seed = seed();
        options.keepAliveInterval = std::chrono::milliseconds(200);
        std::string error;
        ASSERT_TRUE(service.start(options, &error)) << error;
        client.setApiEndpoint(service.apiUrl());
        client.setSseEndpoint(service.sseUrl());
        client.setUserAgent("TAVO/2.1.0 (Mac 12.0)");
        client.timeoutIntervalForRequest = 5;
    }

    void TearDown() override { service.stop(); }

    // Registers this device and signs in: the client holds both tokens.
    void signIn() {
        LoginApi api(client);
        std::optional<Error> error;
        const auto device =
            api.deviceIdWithMailAddress(kMail, kPassword, "host", "user", "key", &error);
        ASSERT_FALSE(error);
        ASSERT_EQ(device.resultCode(), 0);
        client.setDeviceId(device.data->deviceId);
        const auto login = api.loginWithMailAddress(kMail, kPassword, &error);
        ASSERT_EQ(login.resultCode(), 0);
        client.setAccessToken(login.data->accessToken);
        client.setRefreshToken(login.data->refreshToken);
        client.isLoginStatus = true;
        service.context()->requests.clear();
    }

    // TAVO.server.plist naming this service, so programs talk to it.
    void storeServerAddresses() {
        Sandbox::writeFile(*Config::serverConfigPath(),
                           PlistValue(PlistDict{{kServerDeliveServerName, service.apiUrl()},
                                                {kServerNoticeServerName, service.sseUrl()}})
                               .toXml());
    }

    // The user configuration as sign-in leaves it: a fresh one (with the
    // device key, when given) holding the device id and the refresh token,
    // encrypted.
    void storeSignIn(const std::string& deviceId, const std::string& refreshToken,
                     const std::optional<std::string>& deviceKey = std::nullopt) {
        Config::createConfigPlist(deviceKey ? CryptorUtil::encryptString(*deviceKey)
                                            : std::nullopt);
        auto config = *Config::userConfig();
        config[kConfigDeviceId] = *CryptorUtil::encryptString(deviceId);
        config[kConfigRefreshTokens] = *CryptorUtil::encryptString(refreshToken);
        ASSERT_TRUE(Config::writeToUserConfig(config, true, nullptr));
    }

    nlohmann::json requests(const std::string& path) const {
        return service.context()->requests.entries(path);
    }

    void expireTokens(bool access, bool refresh) {
        auto& state = *service.context()->state;
        std::lock_guard lock(state.mutex);
        state.expireTokens(kMail, access, refresh);
    }

    void addFault(const nlohmann::json& spec) {
        std::string error;
        auto rule = refservice::FaultInjector::parse(spec, &error);
        ASSERT_TRUE(rule) << error;
        service.context()->faults.add(std::move(*rule));
    }

    refservice::RefService service;
    ApiClient client;
};

// The value of a header in a logged request, or none.
inline std::optional<std::string> loggedHeader(const nlohmann::json& entry,
                                               const std::string& name) {
    for (const auto& [key, value] : entry["headers"].items())
        if (strcasecmp(key.c_str(), name.c_str()) == 0)
            return value.get<std::string>();
    return std::nullopt;
}

}  // namespace tavo::test
