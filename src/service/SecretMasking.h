#pragma once

#include <string>

namespace tavo {

// Log lines never carry passwords, tokens, two-factor codes or device keys:
// these helpers hide the values of the members and headers that hold them.
class SecretMasking {
public:
    // The JSON text with the values of password, refreshToken, accessToken,
    // deviceKey and twoFactCode members (at any depth) replaced; text that is
    // not JSON comes back unchanged.
    static std::string maskJson(const std::string& text);
    // A header's value for the log: "Bearer ****" for Authorization.
    static std::string maskHeader(const std::string& name, const std::string& value);
    static bool isSecretKey(const std::string& key);
};

}  // namespace tavo
