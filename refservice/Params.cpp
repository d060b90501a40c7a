#include "refservice/Params.h"

#include <charconv>

namespace tavo::refservice {

std::optional<nlohmann::json> Params::parseObject(const std::string& body) {
    if (body.find_first_not_of(" \t\r\n") == std::string::npos)
        return nlohmann::json::object();
    nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object())
        return std::nullopt;
    return parsed;
}

std::optional<std::string> Params::text(const nlohmann::json& object, const std::string& name) {
    if (!object.is_object())
        return std::nullopt;
    auto it = object.find(name);
    if (it == object.end() || it->is_null() || it->is_object() || it->is_array())
        return std::nullopt;
    if (it->is_string())
        return it->get<std::string>();
    return it->dump();
}

std::optional<long long> Params::integer(const std::string& text) {
    long long value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

}  // namespace tavo::refservice
