#pragma once

#include <memory>
#include <string>

#include "ResidentFakes.h"
#include "fonts/FontManagementController.h"
#include "foundation/Config.h"
#include "foundation/CryptorUtil.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "foundation/SerialQueue.h"
#include "platform/Bundle.h"
#include "resident/AppDelegate.h"
#include "service/ServiceFixture.h"
#include "session/SessionState.h"
#include "update/ProgramController.h"

namespace tavo::test {

// A delegate wired to fakes of the desktop, a client of its own against the
// reference service, a frozen clock and a log of the test's own.
class AppDelegateFixture : public ServiceFixture {
protected:
    void SetUp() override {
        ServiceFixture::SetUp();
        if (HasFatalFailure())
            return;
        log = std::make_unique<LogCapture>(sandbox.path("/resident.log"));
        // The program's bundle: its identifier, version and English texts.
        platform::Bundle::setMainBundlePath(bundlesDirectory() + "/TAVO.app");
        Clock::setCurrent(clock);
        platform::UserNotificationCenter::setDefaultCenter(userNotifications);
        queue = std::make_shared<SerialQueue>("TAVO.SerialDispatchQueue");
        client.setSerialDispatchQueue(queue);
        controller = FontManagementController::create(client, fontManager);
        program = std::make_shared<ProgramController>(client, sessionState);
        AppEnvironment env;
        env.apiClient = &client;
        env.sessionState = &sessionState;
        env.programController = program;
        env.fontController = controller;
        env.workspace = workspace;
        env.powerEvents = powerEvents;
        env.fontManager = fontManager;
        env.statusItem = statusItem;
        env.windows = windows;
        env.terminate = [this] { ++terminations; };
        delegate = std::make_shared<AppDelegate>(std::move(env));
    }

    void TearDown() override {
        if (delegate) {
            settle();
            delegate->applicationWillTerminate();
            settle();
            delegate.reset();
        }
        controller.reset();
        program.reset();
        Clock::setCurrent(nullptr);
        platform::UserNotificationCenter::setDefaultCenter(nullptr);
        log.reset();
        platform::Bundle::setMainBundlePath({});
        ServiceFixture::TearDown();
    }

    // Lets queued work of the serial queue and the main queue run.
    void settle() {
        for (int i = 0; i < 3; ++i) {
            queue->sync([] {});
            MainQueue::main().drain();
        }
    }

    // A signed-in user configuration for the client's device and tokens.
    void storeClientSignIn() {
        storeSignIn(client.deviceId().value_or(""), client.refreshToken().value_or(""),
                    "device-key");
        client.setDeviceKey(std::string("device-key"));
    }

    std::string logText() { return log->text(); }
    std::size_t logCount(const std::string& line) {
        const std::string text = logText();
        std::size_t n = 0;
        for (auto at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
            ++n;
        return n;
    }

    SessionState sessionState;  // before what uses it, so it outlives them
    std::shared_ptr<FrozenClock> clock = std::make_shared<FrozenClock>();
    std::shared_ptr<RecordingUserNotifications> userNotifications =
        std::make_shared<RecordingUserNotifications>();
    std::shared_ptr<ObservedFontManager> fontManager = std::make_shared<ObservedFontManager>();
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    std::shared_ptr<FakePowerEvents> powerEvents = std::make_shared<FakePowerEvents>();
    std::shared_ptr<RecordingStatusItem> statusItem = std::make_shared<RecordingStatusItem>();
    std::shared_ptr<RecordingWindows> windows = std::make_shared<RecordingWindows>();
    std::unique_ptr<LogCapture> log;
    std::shared_ptr<SerialQueue> queue;
    std::shared_ptr<FontManagementController> controller;
    std::shared_ptr<ProgramController> program;
    std::shared_ptr<AppDelegate> delegate;
    int terminations = 0;
};

}  // namespace tavo::test
