#include "refservice/ServiceContext.h"

namespace tavo::refservice {

ServiceContext::ServiceContext(std::shared_ptr<ServiceState> sharedState, std::string dataDir)
    : state(std::move(sharedState)), auth(state), fonts(state), files(std::move(dataDir)) {}

bool ServiceContext::pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(state->mutex);
    return !state->changed.wait_for(lock, duration, [this] { return state->stopping; });
}

bool ServiceContext::stopping() {
    std::lock_guard lock(state->mutex);
    return state->stopping;
}

}  // namespace tavo::refservice
