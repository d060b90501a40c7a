#pragma once

#include <memory>

namespace tavo::refservice {

class RouteBinder;
class ServiceContext;

// /customer, /notice, every /screens/.../url, and the small pages those
// addresses point at (the service's stand-in for its web site).
class AccountRoutes {
public:
    static void install(RouteBinder& routes, const std::shared_ptr<ServiceContext>& context);
};

}  // namespace tavo::refservice
