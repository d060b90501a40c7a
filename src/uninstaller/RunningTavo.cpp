#include "uninstaller/RunningTavo.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>

#include "foundation/Clock.h"
#include "foundation/Const.h"
#include "platform/linux/ProcWorkspace.h"

namespace tavo::uninstaller {

namespace {
using namespace std::chrono_literals;
}  // namespace

bool RunningTavo::isTavoExecutable(const std::string& path) {
    const std::string tail = std::string("/") + kClientAppName + "." + kAppFileType +
                             "/Contents/MacOS/" + kClientAppName;
    return path.size() > tail.size() && path.ends_with(tail);
}

std::vector<int> RunningTavo::processIds() {
    std::vector<int> pids;
    for (const auto& app : platform::ProcWorkspace().runningApplicationsOfEveryUser())
        if (isTavoExecutable(app.executablePath) && app.processIdentifier != ::getpid())
            pids.push_back(app.processIdentifier);
    return pids;
}

bool RunningTavo::stop(const std::function<std::vector<int>()>& list,
                       const std::function<void()>& forced) {
    auto running = list();
    if (running.empty())
        return true;
    for (const int pid : running)
        ::kill(pid, SIGTERM);
    // A TAVO ends in order within a second of SIGTERM.
    for (int i = 0; i < 10 && !running.empty(); ++i) {
        Clock::current().sleepFor(100ms);
        running = list();
    }
    if (running.empty())
        return true;
    if (forced)
        forced();
    for (const int pid : running)
        ::kill(pid, SIGKILL);
    Clock::current().sleepFor(200ms);
    return list().empty();
}

}  // namespace tavo::uninstaller
