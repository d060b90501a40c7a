#pragma once

#include <memory>

#include "ResidentFixture.h"
#include "resident/StatusMenuController.h"
#include "resident/StatusProgress.h"

namespace tavo::test {

// The tray's two controllers on the recording status item, with what the
// menu asks of the others recorded.
class StatusMenuFixture : public ResidentFixture {
protected:
    void SetUp() override {
        ResidentFixture::SetUp();
        if (HasFatalFailure())
            return;
        progress = std::make_shared<StatusProgress>(client, controller->chainState(), statusItem);
        menu = std::make_shared<StatusMenuController>(StatusMenuController::Context{
            client, sessionState, program, statusItem, windows, workspace, progress});
        menu->setLinks({
            [this](const char* skip, const char* start, const char* run) {
                calls.add(std::string("startSynchronization ") + skip + " | " + start + " | " +
                          run);
                return true;
            },
            calls.recorder<bool>("performLogout"),
            calls.recorder<>("settingScheduleCheckUserRereshToken"),
            [this] { return synchronizing; },
        });
    }

    void TearDown() override {
        settle();
        menu.reset();
        progress.reset();
        ResidentFixture::TearDown();
    }

    std::string statusLine() { return statusItem->itemTitles[1]; }

    CallLog calls;
    bool synchronizing = false;  // what the menu hears of a running synchronization
    std::shared_ptr<StatusProgress> progress;
    std::shared_ptr<StatusMenuController> menu;
};

}  // namespace tavo::test
