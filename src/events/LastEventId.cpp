#include "events/LastEventId.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "foundation/ConfigKeys.h"

namespace tavo {

namespace {

bool isDecimalText(const std::string& text) {
    if (text.empty() || text.size() > LastEventId::kMaximumLength)
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// The value of a decimal text when it is exactly how that integer is
// written: no leading zeros, within 64 bits.
std::optional<std::int64_t> canonicalInteger(const std::string& text) {
    if (!isDecimalText(text) || (text.size() > 1 && text[0] == '0'))
        return std::nullopt;
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (const char c : text) {
        const int digit = c - '0';
        if (value > (kMax - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

std::optional<std::string> LastEventId::fromEvent(const std::optional<std::string>& identifier) {
    if (!identifier || !isDecimalText(*identifier))
        return std::nullopt;
    return *identifier;
}

std::optional<std::string> LastEventId::fromConfig(const PlistDict& config) {
    const auto it = config.find(kConfigLastEventID);
    if (it == config.end())
        return std::nullopt;
    if (const auto* number = it->second.get<std::int64_t>())
        return *number >= 0 ? std::optional<std::string>(std::to_string(*number)) : std::nullopt;
    if (const auto* real = it->second.get<double>()) {
        // A whole number written as a real by some other writer.
        constexpr double kLimit = 9223372036854775808.0;  // 2^63
        if (std::isfinite(*real) && *real >= 0 && *real < kLimit && std::trunc(*real) == *real)
            return std::to_string(static_cast<std::int64_t>(*real));
        return std::nullopt;
    }
    if (const auto* text = it->second.get<std::string>())
        return fromEvent(*text);
    return std::nullopt;
}

PlistValue LastEventId::toConfigValue(const std::string& identifier) {
    if (const auto number = canonicalInteger(identifier))
        return PlistValue(*number);
    return PlistValue(identifier);
}

}  // namespace tavo
