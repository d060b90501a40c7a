#include "service/SecretMasking.h"

#include <nlohmann/json.hpp>
#include <strings.h>

namespace tavo {

namespace {

constexpr const char* kMask = "****";

void maskValues(nlohmann::json& value, int depth) {
    if (depth > 64)
        return;
    if (value.is_object()) {
        for (auto it = value.begin(); it != value.end(); ++it) {
            if (SecretMasking::isSecretKey(it.key()) && !it.value().is_null())
                it.value() = kMask;
            else
                maskValues(it.value(), depth + 1);
        }
    } else if (value.is_array()) {
        for (auto& item : value)
            maskValues(item, depth + 1);
    }
}

}  // namespace

bool SecretMasking::isSecretKey(const std::string& key) {
    for (const char* secret :
         {"password", "refreshToken", "accessToken", "deviceKey", "twoFactCode"})
        if (strcasecmp(key.c_str(), secret) == 0)
            return true;
    return false;
}

std::string SecretMasking::maskJson(const std::string& text) {
    auto json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded())
        return text;
    maskValues(json, 0);
    return json.dump(2);
}

std::string SecretMasking::maskHeader(const std::string& name, const std::string& value) {
    if (strcasecmp(name.c_str(), "Authorization") == 0) {
        const auto space = value.find(' ');
        return (space == std::string::npos ? std::string() : value.substr(0, space + 1)) + kMask;
    }
    return value;
}

}  // namespace tavo
