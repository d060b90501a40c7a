#pragma once

#include <gtest/gtest.h>

#include <string>

namespace tavo::test {

// A fresh sandbox root (a temporary folder) made the process's sandbox root
// for the lifetime of the object, with the current user's home folder in it.
class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::string& root() const { return root_; }
    // The current user's home folder inside the sandbox.
    std::string home() const;
    // root + path ("/etc/group" -> "<root>/etc/group").
    std::string path(const std::string& absolute) const;

    // Writes a file, creating its folders.
    static void writeFile(const std::string& path, const std::string& content);
    static std::string readFile(const std::string& path);
    static bool exists(const std::string& path);

private:
    std::string previous_;
    std::string root_;
};

// A test whose every case gets its own sandbox root.
class SandboxTest : public ::testing::Test {
protected:
    Sandbox sandbox;
};

// Points the program's log at a file for the lifetime of the object and
// back at nothing afterwards, so no later line lands in a removed sandbox.
class LogCapture {
public:
    explicit LogCapture(std::string path, const std::string& appName = "TAVO");
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::string& path() const { return path_; }
    // Everything written so far (waits for queued lines).
    std::string text() const;

private:
    std::string path_;
};

// The folder that holds the built bundles (TAVO.app, ...).
std::string bundlesDirectory();

}  // namespace tavo::test
