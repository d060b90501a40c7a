#include "events/SSEEvents.h"

#include <cctype>
#include <limits>

namespace tavo {

namespace {

constexpr const char* kFieldEvent = "event";
constexpr const char* kFieldId = "id";
constexpr const char* kFieldData = "data";
constexpr const char* kFieldRetry = "retry";
constexpr const char* kCoderUserInfo = "userInfo";

std::size_t skipSpaceAndSign(const std::string& text, bool* negative) {
    std::size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
        ++at;
    *negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
        *negative = text[at] == '-';
        ++at;
    }
    return at;
}

}  // namespace

long long integerValue(const std::string& text) {
    bool negative = false;
    std::size_t at = skipSpaceAndSign(text, &negative);
    constexpr long long kMax = std::numeric_limits<long long>::max();
    long long value = 0;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        const int digit = text[at] - '0';
        if (value > (kMax - digit) / 10)
            return negative ? std::numeric_limits<long long>::min() : kMax;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

bool hasIntegerValue(const std::string& text) {
    bool negative = false;
    const std::size_t at = skipSpaceAndSign(text, &negative);
    return at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]));
}

std::optional<SSEEvents> SSEEvents::eventWithFields(const std::optional<Fields>& fields) {
    if (!fields || fields->empty())
        return std::nullopt;
    SSEEvents event;
    event.userInfo_ = *fields;
    auto take = [&event](const char* name) -> std::optional<std::string> {
        const auto it = event.userInfo_.find(name);
        if (it == event.userInfo_.end())
            return std::nullopt;
        std::string value = std::move(it->second);
        event.userInfo_.erase(it);
        return value;
    };
    event.event_ = take(kFieldEvent);
    event.identifier_ = take(kFieldId);
    event.data_ = take(kFieldData);
    if (const auto retry = take(kFieldRetry))
        event.retry_ = static_cast<double>(integerValue(*retry));
    return event;
}

void SSEEvents::encodeWithCoder(PlistDict& coder) const {
    if (event_)
        coder[kFieldEvent] = *event_;
    if (identifier_)
        coder[kFieldId] = *identifier_;
    if (data_)
        coder[kFieldData] = PlistData(data_->begin(), data_->end());
    coder[kFieldRetry] = retry_;
    PlistDict info;
    for (const auto& [name, value] : userInfo_)
        info[name] = value;
    coder[kCoderUserInfo] = std::move(info);
}

std::optional<SSEEvents> SSEEvents::initWithCoder(const PlistDict& coder) {
    SSEEvents event;
    if (const auto* text = plistGet<std::string>(coder, kFieldEvent))
        event.event_ = *text;
    if (const auto* text = plistGet<std::string>(coder, kFieldId))
        event.identifier_ = *text;
    if (const auto* bytes = plistGet<PlistData>(coder, kFieldData))
        event.data_ = std::string(bytes->begin(), bytes->end());
    if (const auto* retry = plistGet<double>(coder, kFieldRetry))
        event.retry_ = *retry;
    if (const auto* info = plistGet<PlistDict>(coder, kCoderUserInfo)) {
        for (const auto& [name, value] : *info) {
            if (const auto* text = value.get<std::string>())
                event.userInfo_[name] = *text;
        }
    }
    return event;
}

}  // namespace tavo
