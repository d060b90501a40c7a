#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "refservice/ServiceModels.h"

namespace tavo::refservice {

// Everything the service knows: accounts, devices, tokens, the catalogue,
// the event history and the offered versions. One mutex guards all of it;
// the helper operations below expect the caller to hold it.
class ServiceState {
public:
    ServiceState();

    std::mutex mutex;
    // Signalled when an event is published, streams are dropped or the
    // service stops; event streams wait on it.
    std::condition_variable changed;

    Settings settings;
    std::map<std::string, Account> accounts;  // key: lower-case mail address
    std::map<std::string, Device> devices;    // key: deviceId
    std::map<std::string, Token> accessTokens;
    std::map<std::string, Token> refreshTokens;
    std::map<std::string, PendingTwoFactor> pendingTwoFactor;  // key: deviceId
    ClientAppsInfo clientApps;
    std::deque<Event> events;
    long lastEventId = 0;
    long streamGeneration = 0;      // raised to drop every open stream
    std::string streamDropAccount;  // empty: the drop concerns every account
    bool streamDropClean = false;
    bool stopping = false;

    static std::string key(const std::string& mailAddress);
    Account* findAccount(const std::string& mailAddress);
    Account& putAccount(Account account);

    const CatalogueFont* findFont(const std::string& fontId) const;
    void putFont(CatalogueFont font);  // adds, or replaces the font with that id
    const std::vector<CatalogueFont>& catalogue() const { return catalogue_; }

    std::string newIdentifier(const std::string& prefix, std::size_t hexDigits);
    // A font newly granted to an account, with a fresh userFontId.
    AccountFont grant(const std::string& fontId, bool activate);
    std::string issueAccessToken(const std::string& mailAddress, const std::string& deviceId);
    std::string issueRefreshToken(const std::string& mailAddress, const std::string& deviceId);
    // Every token of one account on one device becomes unknown.
    void revokeTokens(const std::string& mailAddress, const std::string& deviceId);
    // Every access and/or refresh token of the account expires now.
    void expireTokens(const std::string& mailAddress, bool access, bool refresh);

    // Appends an event for the account and wakes the streams; returns its id.
    long publish(const std::string& mailAddress, const std::string& name, nlohmann::json data);

private:
    std::vector<CatalogueFont> catalogue_;
    std::map<std::string, std::size_t> fontIndex_;
    std::mt19937_64 random_;
};

}  // namespace tavo::refservice
