#pragma once

#include <memory>

#include "platform/qt/widgets/FlowWindow.h"

namespace tavo {

class ProgramController;
class SessionState;

// The modal window of a forced update. It has no close, minimise or zoom
// buttons, and neither Esc, Ctrl+W nor the window manager closes it: only
// its OK button does.
class ForceUpdateWindow : public widgets::FlowWindow {
    Q_OBJECT

public:
    static constexpr const char* kPageIdentifier = "forceupdate";

    // Shows the window, unless one is shown already; it deletes itself
    // once closed. Main thread.
    static ForceUpdateWindow* present(std::shared_ptr<ProgramController> controller,
                                      SessionState& sessionState);

    explicit ForceUpdateWindow(QWidget* parent = nullptr);
    // The next close goes through (the OK button's).
    void allowClose() { closeAllowed_ = true; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool closeAllowed_ = false;
};

}  // namespace tavo
