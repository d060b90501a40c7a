#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "refservice/Http.h"
#include "refservice/RefService.h"
#include "support/Sandbox.h"

namespace tavo::refservice::test {

// What a signed-in client holds.
struct Session {
    std::string deviceId;
    std::string accessToken;
    std::string refreshToken;
};

// Starts the service in-process on ephemeral loopback ports with a small
// seed (three installed fonts and one account per sign-in outcome), and
// talks to it over HTTP like the client does.
class ServiceFixture : public tavo::test::SandboxTest {
protected:
    static constexpr const char* kUser = "user@example.com";
    static constexpr const char* kOther = "other@example.com";
    static constexpr const char* kTwoFactor = "2fa@example.com";
    static constexpr const char* kTwoFactorCode = "ABCD1234";
    static constexpr const char* kLocked = "locked@example.com";
    static constexpr const char* kExpired = "expired@example.com";
    static constexpr const char* kUnauthorized = "unauthorized@example.com";
    static constexpr const char* kFull = "full@example.com";
    static constexpr const char* kPassword = "secret";

    void SetUp() override;
    void TearDown() override;

    static nlohmann::json testSeed();
    // Restarts the service with other options (the seed is options.seed).
    void restart(ServiceOptions options);
    static ServiceOptions defaultOptions();

    httplib::Result get(const std::string& path, const httplib::Headers& headers = {});
    httplib::Result post(const std::string& path, const nlohmann::json& body,
                         const httplib::Headers& headers = {});
    static nlohmann::json json(const httplib::Result& result);
    static int code(const httplib::Result& result);

    // Admin calls; the reply's JSON.
    nlohmann::json admin(const std::string& path,
                         const nlohmann::json& body = nlohmann::json::object());
    nlohmann::json adminGet(const std::string& path);

    std::string registerDevice(const std::string& mail, const std::string& deviceKey,
                               const std::string& password = kPassword);
    // /deviceId then /login; fails the test unless the login answers 0.
    Session signIn(const std::string& mail, const std::string& deviceKey = "KEY-1",
                   const std::string& password = kPassword);
    static httplib::Headers headers(const Session& session);
    static httplib::Headers deviceHeader(const std::string& deviceId);

    RefService service;
};

}  // namespace tavo::refservice::test
