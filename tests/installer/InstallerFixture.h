#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "installer/Installation.h"
#include "platform/Layout.h"
#include "support/Sandbox.h"

namespace tavo::test {

// A small installer bundle of version 2.1.0 in the sandbox (the real
// resources of this build's TAVO-Installer.app, small stand-ins for the
// carried bundles), and the layout it installs into.
class InstallerFixture : public SandboxTest {
protected:
    static constexpr const char* kVersion = "2.1.0";

    void SetUp() override;

    // Makes <root>/TAVO-Ver<version> with the two bundles (or only TAVO.app).
    std::string installVersion(const std::string& version, bool withUninstaller = true,
                               const std::string& marker = "old");
    std::shared_ptr<installer::Installation> make(std::vector<double>* progress = nullptr);
    // Runs the procedure on the main queue to its end.
    std::optional<installer::Installation::Outcome> run(installer::Installation& installation);
    std::string versionDir(const std::string& version) const;
    std::string link() const;
    std::string polkitFile() const;
    static bool present(const std::string& path);

    platform::Layout layout;
    std::string me;
    std::string bundle;  // the installer bundle
    std::vector<std::string> launched;
    std::vector<int> running;  // what the procedure sees running
    std::function<void(installer::Installation&, double)> onProgress;
};

// A copy of program started as path (so its executable is path) with
// arguments, inside the current sandbox root; killed and reaped by the
// destructor.
class SleepingProgram {
public:
    SleepingProgram(const std::string& path, const std::string& program = "/bin/sleep",
                    const std::vector<std::string>& arguments = {"30"});
    ~SleepingProgram();
    bool alive();
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
};

}  // namespace tavo::test
