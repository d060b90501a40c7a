// The account line of the status menu: the user's name and mail address,
// kept up to date with the service's customer record.
#include "resident/CustomerItem.h"

#include "foundation/Config.h"
#include "foundation/CryptorUtil.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "service/ApiClient.h"
#include "service/CustomerApi.h"
#include "service/OVError.h"

namespace tavo {

namespace {

// The localization says in which order a person's names are written.
constexpr const char* kNameOrderKey = "Name order";
constexpr const char* kGivenNameFirst = "given family";

struct CustomerField {
    const char* key;
    const char* changeLine;
    const std::optional<std::string>& serverValue;
};

}  // namespace

std::string CustomerItem::updateCustomerItem() const {
    ILog("Start AppDelegate update customer item");
    const auto config = Config::userConfig();
    const auto value = [&](const char* key) {
        return config ? Config::decryptedValue(*config, key).value_or("") : std::string();
    };
    // The family name first, unless the language puts the given name first.
    const bool givenFirst = localized(kNameOrderKey) == kGivenNameFirst;
    const std::string first = value(givenFirst ? kConfigFirstName : kConfigLastName);
    const std::string second = value(givenFirst ? kConfigLastName : kConfigFirstName);
    const std::string text = first + " " + second + "\n" + value(kConfigMailAddress);
    TAVO_DLOG("mutableAttString with account informatinon [%@]", text);
    ILog("End AppDelegate update customer item");
    return text;
}

bool CustomerItem::getCustomerItemByServer() {
    ILog("Start AppDelegate get customer item from server");
    CustomerApi api(client_);
    std::optional<Error> error;
    const auto result = api.getCustomerWithError(&error);
    bool changed = false;
    if (OVError::checkApiError(error, result.code, result.message) && result.data) {
        const auto& customer = *result.data;
        const CustomerField fields[] = {
            {kConfigMailAddress, "Update mail address of customer", customer.mailAddress},
            {kConfigLastName, "Update mail last name of customer", customer.lastName},
            {kConfigFirstName, "Update mail first name of customer", customer.firstName},
        };
        for (const auto& field : fields) {
            if (!field.serverValue)
                continue;
            const auto config = Config::userConfig();
            const auto stored =
                config ? Config::decryptedValue(*config, field.key) : std::optional<std::string>();
            if (stored && *stored == *field.serverValue)
                continue;
            ILog("%@", field.changeLine);
            const auto encrypted = CryptorUtil::encryptString(*field.serverValue);
            if (!encrypted)
                continue;
            const bool written = Config::updateUserConfig(
                [&](PlistDict& dict) { dict[field.key] = PlistValue(*encrypted); });
            changed = changed || written;
        }
    }
    ILog("End AppDelegate get customer item from server");
    return changed;
}

std::string CustomerItem::setCustomerItemMenu() {
    const std::string text = updateCustomerItem();
    if (client_.isOnlineStatus() && getCustomerItemByServer())
        return updateCustomerItem();
    return text;
}

}  // namespace tavo
