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
#include "service/ServiceFixture.h"
#include "session/SessionState.h"
#include "update/ProgramController.h"

namespace tavo::test {

// What the resident application's controllers work with: fakes of the
// desktop, a client and session state of their own against the reference
// service, the serial queue, a frozen clock and a log of the test's own.
class ResidentFixture : public ServiceFixture {
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
    }

    void TearDown() override {
        if (program) {
            client.isLoginStatus = false;  // no new stream attempt from here on
            settle();
            program->finish();
            settle();
        }
        controller.reset();
        program.reset();
        Clock::setCurrent(nullptr);
        platform::UserNotificationCenter::setDefaultCenter(nullptr);
        log.reset();
        platform::Bundle::setMainBundlePath({});
        ServiceFixture::TearDown();
    }

    // Lets queued work of the serial queue and the main queue run. The
    // application may have put a serial queue of its own in the client's
    // hands: that is the one whose work must have run.
    void settle() {
        for (int i = 0; i < 3; ++i) {
            const auto serial = client.serialDispatchQueue();
            (serial ? serial : queue)->sync([] {});
            MainQueue::main().drain();
        }
    }

    // A signed-in user configuration for the client's device and tokens.
    void storeClientSignIn() {
        storeSignIn(client.deviceId().value_or(""), client.refreshToken().value_or(""),
                    "device-key");
        client.setDeviceKey(std::string("device-key"));
    }

    // Requests of the service at path since the last signIn().
    std::size_t requestCount(const std::string& path) const { return requests(path).size(); }

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
};

}  // namespace tavo::test
