#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tavo::test {

// The real TAVO program, started as a child inside a sandbox root with an
// environment of its own (home, XDG folders, fontconfig and the time scale
// all point into the sandbox).
class ResidentProcess {
public:
    ResidentProcess(std::string sandboxRoot, std::string home);
    ~ResidentProcess();  // stops the program if it still runs
    ResidentProcess(const ResidentProcess&) = delete;
    ResidentProcess& operator=(const ResidentProcess&) = delete;

    // Every timer and pause of the program takes this share of its length.
    void setTimeScale(double factor) { timeScale_ = factor; }
    // Another program of the bundle in the same environment (tavoctl).
    void setExecutable(std::string path) { executable_ = std::move(path); }
    // A file the program reads as its standard input (/dev/null otherwise).
    void setInput(std::string path) { input_ = std::move(path); }
    bool start(const std::vector<std::string>& arguments = {"--headless"});
    // SIGTERM, then waits for the end (SIGKILL after the timeout). The exit
    // status, or 128 + signal.
    int stop(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Waits for the program to end by itself; none when it still runs.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // What the program wrote to its standard output and error.
    std::string output() const;

    static std::string executablePath();
    static std::string tavoctlPath();

private:
    std::vector<std::string> environment() const;

    std::string root_;
    std::string home_;
    std::string outputPath_;
    double timeScale_ = 0.001;
    std::string executable_;
    std::string input_;
    pid_t pid_ = -1;
};

}  // namespace tavo::test
