#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace tavo::refservice {

// Reading request parameters: POST bodies are JSON objects, GET parameters
// come from the query.
class Params {
public:
    // The body as a JSON object; an empty body is an empty object; none when
    // the body is not a JSON object.
    static std::optional<nlohmann::json> parseObject(const std::string& body);
    // A member as text: strings as they are, numbers and booleans in their
    // JSON form; none when absent or null.
    static std::optional<std::string> text(const nlohmann::json& object, const std::string& name);
    // A whole decimal number; none when the text is not one.
    static std::optional<long long> integer(const std::string& text);
};

}  // namespace tavo::refservice
