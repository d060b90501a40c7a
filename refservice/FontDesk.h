#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "refservice/Outcome.h"

namespace tavo::refservice {

class ServiceState;
struct Account;
struct AccountFont;
struct CatalogueFont;
struct Caller;

// A font file ready to be sent.
struct FontDownload {
    std::shared_ptr<const std::string> bytes;  // null: read filePath
    std::string filePath;
    std::string fileName;
};

// The account's fonts: the paged font list, the font files, and the changes
// the web site makes (activate, deactivate, withdraw), each of which sends
// its event to the account's streams.
class FontDesk {
public:
    explicit FontDesk(std::shared_ptr<ServiceState> state);

    // GET /install-fonts: contains, limit and offset as the query gives them.
    Outcome page(const Caller& caller, const std::optional<std::string>& contains,
                 const std::optional<std::string>& limit, const std::optional<std::string>& offset);
    std::optional<FontDownload> download(const Caller& caller, const std::string& fontId,
                                         Outcome* refusal);

    // The web site's actions. An activation grants the font when the account
    // does not hold it yet.
    Outcome setActive(const std::string& mailAddress, const std::string& fontId, bool active);
    Outcome setWithdrawn(const std::string& mailAddress, const std::string& fontId, bool withdrawn);
    Outcome allUninstall(const std::string& mailAddress);

    static nlohmann::json listEntry(const Account& account, const AccountFont& held,
                                    const CatalogueFont& font);
    static nlohmann::json eventData(const Account& account, const AccountFont& held,
                                    const CatalogueFont& font);

private:
    std::shared_ptr<ServiceState> state_;
};

}  // namespace tavo::refservice
