#include "refservice/ServiceState.h"

#include <algorithm>
#include <cctype>

namespace tavo::refservice {

ServiceState::ServiceState() : random_(std::random_device{}()) {}

std::string ServiceState::key(const std::string& mailAddress) {
    std::string lower = mailAddress;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

Account* ServiceState::findAccount(const std::string& mailAddress) {
    auto it = accounts.find(key(mailAddress));
    return it == accounts.end() ? nullptr : &it->second;
}

Account& ServiceState::putAccount(Account account) {
    const std::string k = key(account.mailAddress);
    return accounts[k] = std::move(account);
}

const CatalogueFont* ServiceState::findFont(const std::string& fontId) const {
    auto it = fontIndex_.find(fontId);
    return it == fontIndex_.end() ? nullptr : &catalogue_[it->second];
}

void ServiceState::putFont(CatalogueFont font) {
    auto it = fontIndex_.find(font.fontId);
    if (it != fontIndex_.end()) {
        catalogue_[it->second] = std::move(font);
        return;
    }
    fontIndex_[font.fontId] = catalogue_.size();
    catalogue_.push_back(std::move(font));
}

std::string ServiceState::newIdentifier(const std::string& prefix, std::size_t hexDigits) {
    static const char kHex[] = "0123456789abcdef";
    std::string id = prefix;
    while (hexDigits > 0) {
        std::uint64_t bits = random_();
        for (int i = 0; i < 16 && hexDigits > 0; ++i, --hexDigits) {
            id += kHex[bits & 0xf];
            bits >>= 4;
        }
    }
    return id;
}

AccountFont ServiceState::grant(const std::string& fontId, bool activate) {
    AccountFont font;
    font.fontId = fontId;
    font.userFontId = newIdentifier("", 12);
    font.activate = activate;
    return font;
}

std::string ServiceState::issueAccessToken(const std::string& mailAddress,
                                           const std::string& deviceId) {
    std::string token = newIdentifier("at-", 40);
    accessTokens[token] = {key(mailAddress), deviceId, Clock::now() + settings.accessTokenLifetime};
    return token;
}

std::string ServiceState::issueRefreshToken(const std::string& mailAddress,
                                            const std::string& deviceId) {
    std::string token = newIdentifier("rt-", 48);
    refreshTokens[token] = {key(mailAddress), deviceId,
                            Clock::now() + settings.refreshTokenLifetime};
    return token;
}

void ServiceState::revokeTokens(const std::string& mailAddress, const std::string& deviceId) {
    const std::string k = key(mailAddress);
    auto drop = [&](std::map<std::string, Token>& tokens) {
        std::erase_if(tokens, [&](const auto& entry) {
            return entry.second.mailAddress == k && entry.second.deviceId == deviceId;
        });
    };
    drop(accessTokens);
    drop(refreshTokens);
}

void ServiceState::expireTokens(const std::string& mailAddress, bool access, bool refresh) {
    const std::string k = key(mailAddress);
    const auto past = Clock::now() - std::chrono::seconds(1);
    auto expire = [&](std::map<std::string, Token>& tokens) {
        for (auto& [token, entry] : tokens) {
            if (entry.mailAddress == k)
                entry.expiresAt = std::min(entry.expiresAt, past);
        }
    };
    if (access)
        expire(accessTokens);
    if (refresh)
        expire(refreshTokens);
}

long ServiceState::publish(const std::string& mailAddress, const std::string& name,
                           nlohmann::json data) {
    Event event{++lastEventId, key(mailAddress), name, std::move(data)};
    events.push_back(std::move(event));
    while (events.size() > settings.eventHistory)
        events.pop_front();
    changed.notify_all();
    return lastEventId;
}

}  // namespace tavo::refservice
