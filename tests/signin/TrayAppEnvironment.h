#pragma once

#include <memory>
#include <utility>

#include "fonts/FontManagementController.h"
#include "resident/AppDelegate.h"
#include "service/ApiClient.h"
#include "session/SessionState.h"

namespace tavo::test {

// The resident application's environment for the tray tests: the real tray
// item and sign-in windows, a font controller on the given font manager.
inline AppEnvironment trayAppEnvironment(ApiClient& client, SessionState& sessionState,
                                         std::shared_ptr<ProgramController> program,
                                         std::shared_ptr<platform::Workspace> workspace,
                                         std::shared_ptr<platform::FontManager> fontManager,
                                         std::shared_ptr<platform::StatusItem> tray,
                                         std::shared_ptr<platform::Windows> windows) {
    AppEnvironment env;
    env.apiClient = &client;
    env.sessionState = &sessionState;
    env.programController = std::move(program);
    env.fontController = FontManagementController::create(client, fontManager);
    env.workspace = std::move(workspace);
    env.fontManager = std::move(fontManager);
    env.statusItem = std::move(tray);
    env.windows = std::move(windows);
    return env;
}

}  // namespace tavo::test
