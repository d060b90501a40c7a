#pragma once

#include <memory>

namespace tavo::refservice {

class RouteBinder;
class ServiceContext;

// /deviceId, /login, /auth2fact, /token, /refresh-token, /logout, /devices,
// /device/out-of-use and /device/in-use.
class AuthRoutes {
public:
    static void install(RouteBinder& routes, const std::shared_ptr<ServiceContext>& context);
};

}  // namespace tavo::refservice
