#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace tavo::refservice {

// The built-in demo: a subscriber with the machine's fonts, an account with a
// second factor, a locked account and an account at its device limit.
class DemoSeed {
public:
    static constexpr const char* kMailAddress = "demo@example.com";
    static constexpr const char* kPassword = "demo-password";
    static constexpr const char* kTwoFactorMailAddress = "twofactor@example.com";
    static constexpr const char* kTwoFactorCode = "24681357";
    static constexpr const char* kLockedMailAddress = "locked@example.com";
    static constexpr const char* kLimitMailAddress = "limit@example.com";

    static nlohmann::json seed();
    // The lines printed at start so that a person can sign in.
    static std::string credentialsText();
};

}  // namespace tavo::refservice
