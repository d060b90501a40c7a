#include "session/SessionState.h"

#include "foundation/Log.h"

namespace tavo {

SessionState& SessionState::sharedInstance() {
    static SessionState* state = new SessionState;  // alive for the whole process
    return *state;
}

bool SessionState::isWindowAppear(std::uint32_t windowId) const {
    const std::uint32_t status = statusWindowAppear_;
    TAVO_DLOG("statusWindowAppear = %d, windowId = %d", status, windowId);
    return windowId == kWindowAppearAnything ? status != 0 : (status & windowId) != 0;
}

bool SessionState::setWindowAppear(std::uint32_t windowId) {
    const std::uint32_t before = statusWindowAppear_.fetch_or(windowId);
    TAVO_DLOG("statusWindowAppear = %d, windowId = %d, before status = %d", before | windowId,
              windowId, before);
    return (before | windowId) != 0;
}

bool SessionState::unsetWindowAppear(std::uint32_t windowId) {
    const std::uint32_t before = statusWindowAppear_.fetch_and(~windowId);
    TAVO_DLOG("statusWindowAppear = %d, windowId = %d, before status = %d", before & ~windowId,
              windowId, before);
    return (before & ~windowId) != 0;
}

#define TAVO_TIMESTAMP(getter, setter, member)                          \
    std::optional<Clock::SystemTime> SessionState::getter() const {     \
        std::lock_guard lock(mutex_);                                   \
        return member;                                                  \
    }                                                                   \
    void SessionState::setter(std::optional<Clock::SystemTime> value) { \
        std::lock_guard lock(mutex_);                                   \
        member = value;                                                 \
    }

TAVO_TIMESTAMP(lastRetryTimestamp, setLastRetryTimestamp, lastRetryTimestamp_)
TAVO_TIMESTAMP(nextRetryTimestamp, setNextRetryTimestamp, nextRetryTimestamp_)
TAVO_TIMESTAMP(awakenTimestamp, setAwakenTimestamp, awakenTimestamp_)
#undef TAVO_TIMESTAMP

}  // namespace tavo
