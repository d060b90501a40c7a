#pragma once

#include <atomic>
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

    // The chain keeps the hold until takeChainHold().
    void handToChain(Hold hold);
    bool chainHolds() const;
    // The chain's hold (empty when it has none), to release or keep.
    Hold takeChainHold();

private:
    struct State {
        std::atomic<bool> held{false};
    };
    std::shared_ptr<State> state_;
    mutable std::mutex mutex_;
    Hold chainHold_;
};

}  // namespace tavo
