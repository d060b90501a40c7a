#pragma once

#include <string>

namespace tavo::widgets {

class BaseViewController;

// The hand-over from one page to the next in the same window: the
// destination replaces the source as the content of the source's window.
class CustomSegue {
public:
    // Without a destination (an identifier no page answers to), perform()
    // only logs; a destination that cannot be shown is deleted.
    CustomSegue(std::string identifier, BaseViewController* source,
                BaseViewController* destination);

    const std::string& identifier() const { return identifier_; }
    void perform();

private:
    std::string identifier_;
    BaseViewController* source_;
    BaseViewController* destination_;
};

}  // namespace tavo::widgets
