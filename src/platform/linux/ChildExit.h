#pragma once

#include <sys/types.h>

namespace tavo::platform {

// Waiting for a child process of ours to end.
class ChildExit {
public:
    // Reaps pid (retrying when a signal interrupts the wait): its exit
    // status, 128 + the signal that ended it, or -1 when it cannot be waited for.
    static int waitFor(pid_t pid);
};

}  // namespace tavo::platform
