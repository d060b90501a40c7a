#include "platform/linux/ChildExit.h"

#include <sys/wait.h>

#include <cerrno>

namespace tavo::platform {

int ChildExit::waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

}  // namespace tavo::platform
