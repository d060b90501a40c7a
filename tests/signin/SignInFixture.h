#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "foundation/Config.h"
#include "foundation/CryptorUtil.h"
#include "refservice/ServiceState.h"
#include "service/ServiceFixture.h"
#include "signin/SignInFlow.h"

namespace tavo::test {

// The reference service with one account per path through the sign-in
// pages, and a client that has never signed in on this machine.
class SignInFixture : public ServiceFixture {
protected:
    static constexpr const char* kTwoFactorMail = "second@example.com";
    static constexpr const char* kTwoFactorCode = "24681357";
    static constexpr const char* kLimitMail = "limit@example.com";
    static constexpr const char* kTwoFactorLimitMail = "second-limit@example.com";
    static constexpr const char* kLockedMail = "locked@example.com";

    nlohmann::json seed() const override {
        auto device = [](const char* id, const char* host) {
            return nlohmann::json{{"deviceId", id},
                                  {"hostname", host},
                                  {"osUserName", "ada"},
                                  {"osType", "Mac"},
                                  {"osVersion", "13.4"}};
        };
        auto account = [](const char* mail) {
            return nlohmann::json{
                {"mailAddress", mail}, {"password", kPassword}, {"maxDevices", 5}};
        };
        auto twoFactor = account(kTwoFactorMail);
        twoFactor["twoFactorCode"] = kTwoFactorCode;
        auto limit = account(kLimitMail);
        limit["maxDevices"] = 2;
        limit["devices"] = {device("DEVICE0000000001", "office-mac"),
                            device("DEVICE0000000002", "studio-mac")};
        auto twoFactorLimit = account(kTwoFactorLimitMail);
        twoFactorLimit["twoFactorCode"] = kTwoFactorCode;
        twoFactorLimit["maxDevices"] = 1;
        twoFactorLimit["devices"] = {device("DEVICE0000000003", "home-mac")};
        auto locked = account(kLockedMail);
        locked["locked"] = true;
        return {{"accounts", {account(kMail), twoFactor, limit, twoFactorLimit, locked}}};
    }

    // The stored value of a key of the user configuration, decrypted.
    static std::optional<std::string> stored(const char* key) {
        const auto config = Config::userConfig();
        return config ? Config::decryptedValue(*config, key) : std::nullopt;
    }

    size_t requestCount(const std::string& path) const { return requests(path).size(); }

    // Answers the next request to path with this envelope instead.
    void answerOnce(const std::string& path, int status, const nlohmann::json& envelope) {
        addFault({{"path", path}, {"status", status}, {"body", envelope.dump()}, {"count", 1}});
    }
    void dropOnce(const std::string& path) {
        addFault({{"path", path}, {"drop", true}, {"count", 1}});
    }

    void setLocked(const std::string& mail, bool locked) {
        auto& state = *service.context()->state;
        std::lock_guard lock(state.mutex);
        state.findAccount(mail)->locked = locked;
    }

    // The pending two-factor sign-ins of the account expire.
    void expireTwoFactorCodes() {
        auto& state = *service.context()->state;
        std::lock_guard lock(state.mutex);
        for (auto& [deviceId, pending] : state.pendingTwoFactor)
            pending.issuedAt -= state.settings.twoFactorLifetime + std::chrono::seconds(1);
    }

    signin::SignInFlow flow{client};
};

}  // namespace tavo::test
