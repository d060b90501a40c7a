#include "fonts/FontSyncGate.h"

#include <utility>

namespace tavo {

FontSyncGate::Hold::Hold(Hold&& other) noexcept : state_(std::move(other.state_)) {}

FontSyncGate::Hold& FontSyncGate::Hold::operator=(Hold&& other) noexcept {
    if (this != &other) {
        release();
        state_ = std::move(other.state_);
    }
    return *this;
}

void FontSyncGate::Hold::release() {
    if (auto state = std::exchange(state_, nullptr)) {
        state->held = false;
        state->tell(false);
    }
}

void FontSyncGate::State::tell(bool nowHeld) {
    ChangeHandler handler;
    {
        std::lock_guard lock(handlerMutex);
        handler = onChange;
    }
    if (handler)
        handler(nowHeld);
}

FontSyncGate::FontSyncGate() : state_(std::make_shared<State>()) {}

FontSyncGate::Hold FontSyncGate::tryAcquire() {
    if (state_->held.exchange(true))
        return Hold();
    state_->tell(true);
    return Hold(state_);
}

void FontSyncGate::setChangeHandler(ChangeHandler handler) {
    std::lock_guard lock(state_->handlerMutex);
    state_->onChange = std::move(handler);
}

bool FontSyncGate::inFontSynchroizing() const {
    return state_->held;
}

void FontSyncGate::handToChain(Hold hold) {
    std::lock_guard lock(mutex_);
    chainHold_ = std::move(hold);
}

bool FontSyncGate::chainHolds() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(chainHold_);
}

FontSyncGate::Hold FontSyncGate::takeChainHold() {
    std::lock_guard lock(mutex_);
    return std::move(chainHold_);
}

}  // namespace tavo
