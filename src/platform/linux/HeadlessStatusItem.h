#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/StatusItem.h"

namespace tavo::platform {

// The status item of a program without a display: it keeps its state and
// writes every visible change to the log, so a headless run can be followed.
class HeadlessStatusItem : public StatusItem {
public:
    void setDelegate(Delegate delegate) override;
    void setTitle(const std::string& title) override;
    void setImage(const std::string& imageName) override;
    std::string image() const override;
    void setEnabled(bool enabled) override;
    void setItemTitle(int tag, const std::string& title) override;
    void setItemHidden(int tag, bool hidden) override;

private:
    mutable std::mutex mutex_;
    Delegate delegate_;
    std::string image_;
    std::map<int, std::string> titles_;
};

}  // namespace tavo::platform
