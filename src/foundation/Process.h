#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tavo {

struct ProcessResult {
    bool started = false;
    int exitStatus = -1;  // the exit code, or 128 + signal number
    std::string standardOutput;
    std::string standardError;
};

// Runs a program without a shell and waits for it. Both output streams are
// read while it runs, so a large output never blocks it.
class Process {
public:
    // argv[0] is program; a program without a slash is looked up in PATH.
    static ProcessResult run(const std::string& program, const std::vector<std::string>& args,
                             bool captureOutput = true);

    // Starts a program detached from this one (its own session); true when it started.
    static bool spawnDetached(const std::string& program, const std::vector<std::string>& args);

    // A text quoted for /bin/sh, so a path with spaces or quotes stays one word.
    static std::string shellQuote(const std::string& text);
};

}  // namespace tavo
