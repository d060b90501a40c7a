#pragma once

#include <memory>

namespace httplib {
class Server;
}

namespace tavo::refservice {

class ServiceContext;

// The admin interface's control side: injected faults, open event streams,
// the request log, the event history and the client versions. Loopback
// callers only.
class AdminControlRoutes {
public:
    static void install(httplib::Server& server, const std::shared_ptr<ServiceContext>& context);
};

}  // namespace tavo::refservice
