#pragma once

#include <string>

namespace tavo {

class ApiClient;

// The account line of the status menu: the user's name and mail address as
// stored in the user configuration, kept up to date with the service's
// customer record. Stateless besides the client; any thread.
class CustomerItem {
public:
    explicit CustomerItem(ApiClient& client) : client_(client) {}

    // From the user configuration.
    std::string updateCustomerItem() const;
    // Brings the stored name and mail address up to date with the server's;
    // true when one changed. Blocking.
    bool getCustomerItemByServer();
    // The account line, fetched again from the server when online. Blocking.
    std::string setCustomerItemMenu();

private:
    ApiClient& client_;
};

}  // namespace tavo
