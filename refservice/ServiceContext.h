#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "refservice/AuthDesk.h"
#include "refservice/FaultInjector.h"
#include "refservice/FontDesk.h"
#include "refservice/FontFiles.h"
#include "refservice/RequestLog.h"
#include "refservice/ServiceState.h"

namespace tavo::refservice {

// What the routes of both listeners share; handlers hold it by shared
// ownership.
class ServiceContext {
public:
    ServiceContext(std::shared_ptr<ServiceState> state, std::string dataDir);

    std::shared_ptr<ServiceState> state;
    AuthDesk auth;
    FontDesk fonts;
    FontFiles files;
    FaultInjector faults;
    RequestLog requests;

    // Base address of the delivery API listener ("http://127.0.0.1:8930"),
    // known once it is bound; pages and archives are addressed from it.
    std::string apiBaseUrl;
    std::chrono::milliseconds keepAliveInterval{15000};
    std::atomic<int> openStreams{0};

    // Waits for the duration, or less when the service stops; false then.
    bool pause(std::chrono::milliseconds duration);
    bool stopping();
};

}  // namespace tavo::refservice
