#pragma once

#include <map>
#include <optional>
#include <string>

#include "foundation/PlistValue.h"

namespace tavo {

// One event received on the notification stream. Immutable once made.
class SSEEvents {
public:
    using Fields = std::map<std::string, std::string>;

    // The event of a block's fields: "event", "id", "data" (kept as UTF-8
    // bytes), "retry" (its integer value) and every other field in userInfo.
    // None for none or for an empty map.
    static std::optional<SSEEvents> eventWithFields(const std::optional<Fields>& fields);

    const std::optional<std::string>& event() const { return event_; }
    const std::optional<std::string>& identifier() const { return identifier_; }
    const std::optional<std::string>& data() const { return data_; }
    double retry() const { return retry_; }
    const Fields& userInfo() const { return userInfo_; }

    // Archiving keeps all five properties.
    void encodeWithCoder(PlistDict& coder) const;
    static std::optional<SSEEvents> initWithCoder(const PlistDict& coder);

    bool operator==(const SSEEvents&) const = default;

private:
    std::optional<std::string> event_;
    std::optional<std::string> identifier_;
    std::optional<std::string> data_;
    double retry_ = 0;
    Fields userInfo_;
};

// The integer value of a text as the platform reads one: leading white
// space, an optional sign, then decimal digits up to the first other
// character; 0 when there are none. Saturates instead of overflowing.
long long integerValue(const std::string& text);
// Whether the text begins (after white space and a sign) with a digit.
bool hasIntegerValue(const std::string& text);

}  // namespace tavo
