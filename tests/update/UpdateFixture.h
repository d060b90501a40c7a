#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "StreamServiceFixture.h"
#include "foundation/NotificationCenter.h"
#include "platform/StatusItem.h"
#include "platform/Workspace.h"
#include "session/SessionState.h"
#include "update/ProgramController.h"

namespace tavo::test {

// Launches are recorded, nothing is started.
class LaunchRecorder : public platform::Workspace {
public:
    struct Launch {
        std::string bundlePath;
        std::vector<std::string> arguments;
    };
    std::vector<platform::RunningApplication> runningApplications() override { return {}; }
    bool openURL(const std::string&) override { return false; }
    bool launchApplication(const std::string& bundlePath,
                           const std::vector<std::string>& arguments) override;
    std::vector<Launch> launches();
    bool launches_ = true;

private:
    std::mutex mutex_;
    std::vector<Launch> recorded_;
};

class QuestionWindows : public platform::Windows {
public:
    void showSignInWindow() override {}
    void runModalAlert(const std::string& message, const std::string&) override {
        alerts.push_back(message);
    }
    int runModalConfirm(const std::string&, const std::string&) override {
        return platform::kDialogResultCode + 1;
    }
    int runModalSelect(const std::string& message, const std::string&, const std::string&,
                       const std::string&) override {
        questions.push_back(message);
        return answer;
    }
    std::vector<std::string> alerts;
    std::vector<std::string> questions;
    int answer = platform::kDialogResultCode;
};

// A signed-in client against the reference service, a controller whose
// launches, alerts and termination are recorded, the installed layout of
// version 2.1.0 in the sandbox root, and the "pcUpdateProgress" notes.
class UpdateFixture : public StreamServiceFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // The service offers version: the archive file given, or one the
    // service makes; signature: what the service serves as its signature.
    void offer(const std::string& version, bool forced = false,
               const std::string& signature = "valid", const std::string& archiveFile = {});
    // Runs the check; waits for a started download to end. Its result.
    bool checkAndDownload();
    // Makes <root>/opt/Oskavelle/TAVO-Ver<version>/TAVO.app.
    std::string installVersion(const std::string& version);
    // Puts a signed archive of version into the update folder and records
    // it as downloaded, as a finished download does.
    void placeDownloaded(const std::string& version, bool forced = false);
    void makeAdministrator(bool admin);
    std::string root() const;
    std::string updateFolder() const;
    std::string configText(const std::string& key) const;
    std::size_t progressCount(const std::string& key);
    std::vector<int> progressValues();
    // Runs the update and the main queue until it ends in success (the
    // program is told to end) or in "copyErrorOccurred".
    bool applyUpdate();

    std::shared_ptr<SerialQueue> queue = std::make_shared<SerialQueue>("TAVO.SerialDispatchQueue");
    SessionState sessionState;
    std::shared_ptr<ProgramController> controller;
    std::shared_ptr<LaunchRecorder> workspace = std::make_shared<LaunchRecorder>();
    std::shared_ptr<QuestionWindows> windows = std::make_shared<QuestionWindows>();
    std::atomic<int> terminations{0};
    std::atomic<int> presented{0};

    std::unique_ptr<LogCapture> log;  // printed when a case fails

private:
    NotificationCenter::Token observer_{};
    std::mutex notesMutex_;
    std::vector<UserInfo> notes_;
};

}  // namespace tavo::test
