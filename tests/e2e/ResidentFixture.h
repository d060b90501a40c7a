#pragma once

#include <httplib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "e2e/ResidentProcess.h"
#include "service/FontModels.h"
#include "service/ServiceFixture.h"

namespace tavo::test {

// The reference service on loopback, a user configuration signed in to it
// as sign-in leaves it (device key, device id and refresh token encrypted),
// and the real TAVO program to run against both in the sandbox root.
class ResidentFixture : public ServiceFixture {
protected:
    static constexpr const char* kDeviceKey = "e2e-device-key";

    nlohmann::json seed() const override { return contractedAccountSeed(); }
    void SetUp() override;
    void TearDown() override;

    // Starts (another) TAVO; the first one is `tavo`.
    ResidentProcess& launch(const std::vector<std::string>& arguments = {"--headless"});

    std::string logText() const;
    // Polls the predicate until it holds or the timeout passes.
    static bool eventually(const std::function<bool()>& predicate,
                           std::chrono::milliseconds timeout = std::chrono::seconds(20));
    bool logContains(const std::string& text) const;
    bool waitForLog(const std::string& text,
                    std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

    std::string fontPath(const std::string& fileName) const;
    // Whether the sandbox's fontconfig lists the file (asked of fc-list).
    bool fontconfigLists(const std::string& path) const;
    std::optional<long long> storedLastEventId() const;

    nlohmann::json admin(const std::string& path, const nlohmann::json& body);
    // The account's fonts as the service lists them, in id order.
    std::vector<Fonts> accountFonts();

    std::vector<std::unique_ptr<ResidentProcess>> processes;
};

}  // namespace tavo::test
