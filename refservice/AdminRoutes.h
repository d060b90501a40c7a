#pragma once

#include <memory>

namespace httplib {
class Server;
}

namespace tavo::refservice {

class ServiceContext;

// The admin interface's account side, playing the service's web site:
// activate, deactivate, withdraw and add fonts; add or change accounts;
// expire tokens and two-factor codes; remove devices. Loopback callers only.
class AdminRoutes {
public:
    static void install(httplib::Server& server, const std::shared_ptr<ServiceContext>& context);
};

}  // namespace tavo::refservice
