#pragma once

#include <memory>

#include "ResidentFixture.h"
#include "resident/AppDelegate.h"

namespace tavo::test {

// The whole resident application, wired to the fixture's fakes.
class AppDelegateFixture : public ResidentFixture {
protected:
    void SetUp() override {
        ResidentFixture::SetUp();
        if (HasFatalFailure())
            return;
        delegate = std::make_shared<AppDelegate>(environment());
    }

    void TearDown() override {
        if (delegate) {
            settle();
            delegate->applicationWillTerminate();
            settle();
            delegate.reset();
        }
        ResidentFixture::TearDown();
    }

    AppEnvironment environment() {
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
        return env;
    }

    std::shared_ptr<AppDelegate> delegate;
    int terminations = 0;
};

}  // namespace tavo::test
