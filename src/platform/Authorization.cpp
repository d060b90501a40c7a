#include "platform/Authorization.h"

#include <mutex>

namespace tavo::platform {

namespace {

// Until a program sets its authorization service, every request is refused.
class RefusingAuthorization : public Authorization {
public:
    bool executeWithPrivileges(const std::string&, const std::vector<std::string>&) override {
        return false;
    }
};

std::mutex& authorizationMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<Authorization>& authorizationValue() {
    static std::shared_ptr<Authorization> authorization = std::make_shared<RefusingAuthorization>();
    return authorization;
}

}  // namespace

std::shared_ptr<Authorization> Authorization::defaultAuthorization() {
    std::lock_guard lock(authorizationMutex());
    return authorizationValue();
}

void Authorization::setDefaultAuthorization(std::shared_ptr<Authorization> authorization) {
    if (!authorization)
        authorization = std::make_shared<RefusingAuthorization>();
    std::lock_guard lock(authorizationMutex());
    authorizationValue() = std::move(authorization);
}

}  // namespace tavo::platform
