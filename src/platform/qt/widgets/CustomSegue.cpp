#include "platform/qt/widgets/CustomSegue.h"

#include "foundation/Log.h"
#include "platform/qt/widgets/BaseViewController.h"
#include "platform/qt/widgets/FlowWindow.h"

namespace tavo::widgets {

CustomSegue::CustomSegue(std::string identifier, BaseViewController* source,
                         BaseViewController* destination)
    : identifier_(std::move(identifier)), source_(source), destination_(destination) {}

void CustomSegue::perform() {
    const std::string sourceId = source_ ? source_->storyboardIdentifier() : std::string();
    if (!destination_) {
        DLog(
            "The segue performed: %@:%ld: The source storyboardID: %@: The destination "
            "storyboard ID: unknown",
            __PRETTY_FUNCTION__, static_cast<long>(__LINE__), sourceId);
        return;
    }
    TAVO_DLOG("svc: [%@]: dvc: [%@]", sourceId, destination_->storyboardIdentifier());
    auto* window = source_ ? qobject_cast<FlowWindow*>(source_->window()) : nullptr;
    if (!window) {
        WLog("The segue %@ has no window to perform in", identifier_);
        delete destination_;
        return;
    }
    window->setContentViewController(destination_);
}

}  // namespace tavo::widgets
