#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tavo::uninstaller {

// The running TAVO programs that the installer and the uninstaller stop:
// processes of every user whose executable (as the kernel names it, not
// their command line) is the resident application of a TAVO bundle. A
// program that merely has "/TAVO.app/" in its arguments, and tavoctl or
// the update helper beside TAVO in the bundle, are not among them.
class RunningTavo {
public:
    // Whether path is <...>/TAVO.app/Contents/MacOS/TAVO.
    static bool isTavoExecutable(const std::string& path);
    // Their process ids, this process left out (inside a sandbox root only
    // those of the same root).
    static std::vector<int> processIds();
    // SIGTERM to each listed, a second's grace (on the clock), then SIGKILL
    // to those still listed; true once list() names none. forced: told when
    // the grace was not enough.
    static bool stop(const std::function<std::vector<int>()>& list,
                     const std::function<void()>& forced = {});
};

}  // namespace tavo::uninstaller
