#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace tavo {

// Lets one synchronization run at a time, from the moment a starter decides
// to run one until the run and the downloads it left are over.
//
// A starter takes the gate with tryAcquire() and hands the hold to the run;
// a hold releases the gate when it goes out of scope, so a run that ends in
// any way (completed, refused, broken list, stopped) frees it. A run that
// leaves fonts "downloading" hands its hold to the download chain
// (handToChain), which gives it back when no record is "downloading" any
// more (the finish check) or when it stops for good (gave up, cancelled).
//
// Any thread may use it; a hold may move between threads.
class FontSyncGate {
    struct State;

public:
    class Hold {
    public:
        Hold() = default;  // holds nothing
        Hold(Hold&& other) noexcept;
        Hold& operator=(Hold&& other) noexcept;
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        ~Hold() { release(); }

        explicit operator bool() const { return state_ != nullptr; }
        // Releases the gate now (nothing when it holds nothing).
        void release();

    private:
        friend class FontSyncGate;
        explicit Hold(std::shared_ptr<State> state) : state_(std::move(state)) {}
        std::shared_ptr<State> state_;
    };

    FontSyncGate();

    // The gate when it is free; an empty hold when a run is queued, running
    // or its downloads are pending.
    Hold tryAcquire();
    // A synchronization is queued or running, or its downloads are not finished.
    bool inFontSynchroizing() const;

    // Called with true when the gate is taken and false when it is free
    // again, on the thread that took or freed it; it must not block. An empty
    // handler stops the calls.
    using ChangeHandler = std::function<void(bool held)>;
    void setChangeHandler(ChangeHandler handler);

    // The chain keeps the hold until takeChainHold().
    void handToChain(Hold hold);
    bool chainHolds() const;
    // The chain's hold (empty when it has none), to release or keep.
    Hold takeChainHold();

private:
    struct State {
        std::atomic<bool> held{false};
        std::mutex handlerMutex;
        ChangeHandler onChange;
        void tell(bool nowHeld);
    };
    std::shared_ptr<State> state_;
    mutable std::mutex mutex_;
    Hold chainHold_;
};

}  // namespace tavo
