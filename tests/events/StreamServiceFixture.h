#pragma once

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "refservice/RefService.h"
#include "service/ApiClient.h"
#include "support/Sandbox.h"

namespace tavo::test {

// The reference service in-process on ephemeral loopback ports with one
// account holding three fonts, a signed-in device of that account, and a
// client that carries its credentials.
class StreamServiceFixture : public SandboxTest {
public:
    static constexpr const char* kUser = "user@example.com";
    static constexpr const char* kPassword = "secret";

protected:
    void SetUp() override;
    void TearDown() override;

    // Restarts the service with the given keep-alive interval.
    void restartService(std::chrono::milliseconds keepAlive);
    // Signs the device in and puts its credentials into the client.
    void signIn();

    nlohmann::json admin(const std::string& path,
                         const nlohmann::json& body = nlohmann::json::object());
    // Activates (or deactivates) a font on the "web site"; the event's id.
    long activate(const std::string& fontId, bool active = true);
    void dropStreams(bool clean);
    // The stream requests the service received, oldest first.
    nlohmann::json streamRequests() const;
    int openStreams() const;

    // Runs the main queue until the condition holds or the time is up.
    static bool waitUntil(const std::function<bool()>& condition,
                          std::chrono::milliseconds timeout = std::chrono::seconds(5));

    refservice::RefService service;
    ApiClient client;
    std::string deviceId;
    std::string accessToken;
};

}  // namespace tavo::test
