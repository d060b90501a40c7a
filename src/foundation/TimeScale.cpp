#include "foundation/TimeScale.h"

#include <cstdlib>
#include <memory>

#include "foundation/Clock.h"
#include "foundation/Log.h"
#include "platform/Layout.h"

namespace tavo {

void TimeScale::installFromEnvironment() {
    const char* text = std::getenv(kVariable);
    if (!text || !*text)
        return;
    if (platform::sandboxRoot().empty()) {
        WLog("%@ is honoured only inside a sandbox root; ignored", kVariable);
        return;
    }
    char* end = nullptr;
    const double factor = std::strtod(text, &end);
    if (end == text || *end || !(factor > 0.0) || factor > 1.0) {
        WLog("%@=%@ is not a factor between 0 and 1; ignored", kVariable, text);
        return;
    }
    Clock::setCurrent(std::make_shared<ScaledClock>(factor));
    ILog("Timers and pauses take %@ of their length", text);
}

}  // namespace tavo
