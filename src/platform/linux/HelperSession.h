#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/Authorization.h"

namespace tavo::platform {

// The running privileged helper, talked to over two pipes. A command goes
// out as its fields (tool first), each ended by a NUL, and an empty field
// after the last; the helper answers each with one line: the exit status,
// or -1 for a command it refused. Its first line, "ready", says it runs
// with the rights it was started for.
class HelperSession : public PrivilegedSession {
public:
    // Starts argv[0] with the rest of argv as its arguments and waits for
    // the helper's first line. program: the elevator, or the helper itself.
    // A helper that ends before it is ready gives NotCreated, or Refused
    // when the exit status is one of refusedStatuses.
    // sandboxRoot: the helper's TAVO_ROOT (none when empty).
    static AuthorizationResult start(const std::vector<std::string>& argv,
                                     const std::vector<int>& refusedStatuses,
                                     const std::string& sandboxRoot = {});
    ~HelperSession() override;

    int run(const std::string& tool, const std::vector<std::string>& args) override;

private:
    HelperSession(pid_t pid, int toHelper, int fromHelper);
    bool readLine(std::string* line);
    int finish();  // closes the pipes and reaps the helper: its exit status

    pid_t pid_;
    int toHelper_;
    int fromHelper_;
    std::string buffered_;
};

}  // namespace tavo::platform
