#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>

#include "foundation/Clock.h"

namespace tavo {

// Ids of the windows that mark themselves open in the window flags.
inline constexpr std::uint32_t kWindowAppearAnything = 0;
inline constexpr std::uint32_t kWindowAppearLogin = 1;
inline constexpr std::uint32_t kWindowAppearTwoAuthorization = 2;
inline constexpr std::uint32_t kWindowAppearThirdUnitNgDialog = 4;
inline constexpr std::uint32_t kWindowAppearLoginCompletion = 8;
inline constexpr std::uint32_t kWindowAppearForceUpdate = 32;

// What the application knows about its own session beside the client's
// credentials: which of its windows are open, whether the first online
// processing has run, and the moments the event stream was last tried, is
// next tried and the host last woke. The program has one, reached through
// sharedInstance() and handed to those who need it; tests make their own.
// Every member may be read and written from any thread.
class SessionState {
public:
    static SessionState& sharedInstance();
    SessionState() = default;
    SessionState(const SessionState&) = delete;
    SessionState& operator=(const SessionState&) = delete;

    // ---- window flags: each sign-in or update window opens once
    // With kWindowAppearAnything: whether any window is open.
    bool isWindowAppear(std::uint32_t windowId) const;
    // Both return whether any window is open afterwards.
    bool setWindowAppear(std::uint32_t windowId);
    bool unsetWindowAppear(std::uint32_t windowId);

    // ---- the application's flags
    // Set once per process, when the first online processing runs.
    std::atomic<bool> isOnlineFirstProcessingExecuted{false};

    // The last (re)connection attempt of the event stream.
    std::optional<Clock::SystemTime> lastRetryTimestamp() const;
    void setLastRetryTimestamp(std::optional<Clock::SystemTime> value);
    // When the stream's scheduled reconnection is due; none when none is.
    std::optional<Clock::SystemTime> nextRetryTimestamp() const;
    void setNextRetryTimestamp(std::optional<Clock::SystemTime> value);
    // When the host last woke from sleep.
    std::optional<Clock::SystemTime> awakenTimestamp() const;
    void setAwakenTimestamp(std::optional<Clock::SystemTime> value);

private:
    mutable std::mutex mutex_;
    std::optional<Clock::SystemTime> lastRetryTimestamp_;
    std::optional<Clock::SystemTime> nextRetryTimestamp_;
    std::optional<Clock::SystemTime> awakenTimestamp_;
    std::atomic<std::uint32_t> statusWindowAppear_{0};
};

}  // namespace tavo
