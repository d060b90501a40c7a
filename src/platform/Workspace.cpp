#include "platform/Workspace.h"

#include <mutex>

namespace tavo::platform {

namespace {

class EmptyWorkspace : public Workspace {
public:
    std::vector<RunningApplication> runningApplications() override { return {}; }
    bool openURL(const std::string&) override { return false; }
    bool launchApplication(const std::string&, const std::vector<std::string>&) override {
        return false;
    }
};

std::mutex& workspaceMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<Workspace>& workspaceValue() {
    static std::shared_ptr<Workspace> workspace = std::make_shared<EmptyWorkspace>();
    return workspace;
}

}  // namespace

std::shared_ptr<Workspace> Workspace::sharedWorkspace() {
    std::lock_guard lock(workspaceMutex());
    return workspaceValue();
}

void Workspace::setSharedWorkspace(std::shared_ptr<Workspace> workspace) {
    if (!workspace)
        workspace = std::make_shared<EmptyWorkspace>();
    std::lock_guard lock(workspaceMutex());
    workspaceValue() = std::move(workspace);
}

}  // namespace tavo::platform
