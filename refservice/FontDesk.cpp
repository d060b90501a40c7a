#include "refservice/FontDesk.h"

#include <algorithm>
#include <sstream>

#include "refservice/AuthDesk.h"
#include "refservice/Params.h"
#include "refservice/ServiceState.h"

namespace tavo::refservice {

namespace {

constexpr long long kDefaultLimit = 1000;
constexpr long long kMaximumLimit = 10000;

nlohmann::json contractIdsOf(const Account& account, const AccountFont& held,
                             const CatalogueFont& font) {
    if (held.contractIds)
        return *held.contractIds;
    return font.isFreemium ? nlohmann::json::array() : account.contractIds;
}

AccountFont* heldFont(Account& account, const std::string& fontId) {
    auto it = std::find_if(account.fonts.begin(), account.fonts.end(),
                           [&](const AccountFont& held) { return held.fontId == fontId; });
    return it == account.fonts.end() ? nullptr : &*it;
}

}  // namespace

FontDesk::FontDesk(std::shared_ptr<ServiceState> state) : state_(std::move(state)) {}

nlohmann::json FontDesk::listEntry(const Account& account, const AccountFont& held,
                                   const CatalogueFont& font) {
    return {{"userFontId", held.userFontId},
            {"activateFlg", held.activate},
            {"fontId", font.fontId},
            {"displayFontName", font.displayFontName},
            {"fileName", font.fileName},
            {"fileSize", font.fileSize},
            {"version", font.version},
            {"needFontVersionUpdate", held.needFontVersionUpdate},
            {"isAvailableFont", held.available},
            {"isFreemium", font.isFreemium},
            {"contractIds", contractIdsOf(account, held, font)}};
}

nlohmann::json FontDesk::eventData(const Account& account, const AccountFont& held,
                                   const CatalogueFont& font) {
    return {{"fontId", font.fontId},
            {"displayFontName", font.displayFontName},
            {"fileName", font.fileName},
            {"fileSize", font.fileSize},
            {"version", font.version},
            {"isFreemium", font.isFreemium},
            {"contractIds", contractIdsOf(account, held, font)}};
}

Outcome FontDesk::page(const Caller& caller, const std::optional<std::string>& contains,
                       const std::optional<std::string>& limitText,
                       const std::optional<std::string>& offsetText) {
    bool wantAvailable = false;
    bool wantDeleted = false;
    std::stringstream selectors(contains.value_or("availableFonts"));
    for (std::string selector; std::getline(selectors, selector, ',');) {
        if (selector == "availableFonts")
            wantAvailable = true;
        else if (selector == "deletedFonts")
            wantDeleted = true;
        else
            return Outcome::failure(kInvalidArgument, "unknown contains: " + selector);
    }
    const auto limit = limitText ? Params::integer(*limitText) : kDefaultLimit;
    const auto offset = offsetText ? Params::integer(*offsetText) : 0;
    if (!limit || !offset || *limit <= 0 || *limit > kMaximumLimit || *offset < 0)
        return Outcome::failure(kInvalidArgument, "limit and offset must be whole numbers");
    if (!wantAvailable && !wantDeleted)
        return Outcome::failure(kInvalidArgument, "contains is empty");

    std::lock_guard lock(state_->mutex);
    const Account* account = state_->findAccount(caller.mailAddress);
    if (!account)
        return Outcome::failure(kNotAuthorizedAccount, "the account is not authorized");
    nlohmann::json fonts = nlohmann::json::array();
    long long index = 0;
    bool hasNext = false;
    for (const AccountFont& held : account->fonts) {
        if (!(held.available ? wantAvailable : wantDeleted))
            continue;
        const CatalogueFont* font = state_->findFont(held.fontId);
        if (!font)
            continue;
        if (index >= *offset + *limit) {
            hasNext = true;
            break;
        }
        if (index++ >= *offset)
            fonts.push_back(listEntry(*account, held, *font));
    }
    return Outcome::success({{"fonts", std::move(fonts)}, {"hasNext", hasNext}});
}

std::optional<FontDownload> FontDesk::download(const Caller& caller, const std::string& fontId,
                                               Outcome* refusal) {
    std::lock_guard lock(state_->mutex);
    Account* account = state_->findAccount(caller.mailAddress);
    const AccountFont* held = account ? heldFont(*account, fontId) : nullptr;
    const CatalogueFont* font = state_->findFont(fontId);
    if (!held || !held->available || !font) {
        *refusal = Outcome::failure(kInvalidArgument, "no such font: " + fontId);
        return std::nullopt;
    }
    return FontDownload{font->file, font->filePath, font->fileName};
}

Outcome FontDesk::setActive(const std::string& mailAddress, const std::string& fontId,
                            bool active) {
    std::lock_guard lock(state_->mutex);
    Account* account = state_->findAccount(mailAddress);
    const CatalogueFont* font = state_->findFont(fontId);
    if (!account || !font)
        return Outcome::failure(kInvalidArgument, "unknown account or font");
    AccountFont* held = heldFont(*account, fontId);
    if (!held && !active)
        return Outcome::failure(kInvalidArgument, "the account does not hold the font");
    if (!held) {
        account->fonts.push_back(state_->grant(fontId, active));
        held = &account->fonts.back();
    }
    held->activate = active;
    held->available = true;
    const long id = state_->publish(mailAddress, active ? "font-activate" : "font-deactivate",
                                    eventData(*account, *held, *font));
    return Outcome::success({{"eventId", id}});
}

Outcome FontDesk::setWithdrawn(const std::string& mailAddress, const std::string& fontId,
                               bool withdrawn) {
    std::lock_guard lock(state_->mutex);
    Account* account = state_->findAccount(mailAddress);
    AccountFont* held = account ? heldFont(*account, fontId) : nullptr;
    if (!held)
        return Outcome::failure(kInvalidArgument, "the account does not hold the font");
    held->available = !withdrawn;
    if (withdrawn)
        held->activate = false;
    return Outcome::success();
}

Outcome FontDesk::allUninstall(const std::string& mailAddress) {
    std::lock_guard lock(state_->mutex);
    if (!state_->findAccount(mailAddress))
        return Outcome::failure(kInvalidArgument, "unknown account");
    const long id = state_->publish(mailAddress, "font-all-uninstall", nlohmann::json::object());
    return Outcome::success({{"eventId", id}});
}

}  // namespace tavo::refservice
