#include "platform/linux/HeadlessStatusItem.h"

#include "foundation/Log.h"

namespace tavo::platform {

void HeadlessStatusItem::setDelegate(Delegate delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

void HeadlessStatusItem::setTitle(const std::string& title) {
    ILog("Status item (headless): title [%@]", title);
}

void HeadlessStatusItem::setImage(const std::string& imageName) {
    {
        std::lock_guard lock(mutex_);
        if (image_ == imageName)
            return;
        image_ = imageName;
    }
    ILog("Status item (headless): icon [%@]", imageName);
}

std::string HeadlessStatusItem::image() const {
    std::lock_guard lock(mutex_);
    return image_;
}

void HeadlessStatusItem::setEnabled(bool enabled) {
    TAVO_DLOG("Status item (headless): %@", enabled ? "enabled" : "disabled");
}

void HeadlessStatusItem::setItemTitle(int tag, const std::string& title) {
    {
        std::lock_guard lock(mutex_);
        auto& current = titles_[tag];
        if (current == title)
            return;
        current = title;
    }
    ILog("Status item (headless): entry %d [%@]", tag, title);
}

void HeadlessStatusItem::setItemHidden(int tag, bool hidden) {
    TAVO_DLOG("Status item (headless): entry %d %@", tag, hidden ? "hidden" : "shown");
}

}  // namespace tavo::platform
