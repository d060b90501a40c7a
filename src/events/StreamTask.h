#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "events/SessionConfiguration.h"
#include "foundation/Error.h"
#include "service/Response.h"

namespace tavo {

// One streaming GET on a thread of its own: the answer's head, then its body
// chunk by chunk as it arrives, then the end. The callbacks run on the
// transfer thread and must not block; cancel() ends the transfer promptly
// from any thread. Destroying the task cancels it and waits for its thread.
class StreamTask {
public:
    // Task states, as the platform numbers them.
    enum State : long { kRunning = 0, kSuspended = 1, kCanceling = 2, kCompleted = 3 };

    struct Callbacks {
        std::function<void(const HttpUrlResponse&)> response;  // the final answer's head
        std::function<void(std::string)> data;
        std::function<void(const std::optional<Error>&)> complete;  // none: a clean end
    };

    // Starts the transfer; none when the HTTP stack cannot be set up.
    static std::unique_ptr<StreamTask> start(const std::string& url,
                                             const SessionConfiguration& configuration,
                                             Callbacks callbacks);
    ~StreamTask();
    StreamTask(const StreamTask&) = delete;
    StreamTask& operator=(const StreamTask&) = delete;

    void cancel();
    State state() const { return state_.load(); }

    // The platform's error codes of the stream's failures.
    static constexpr long kErrorCancelled = -999;
    static constexpr long kErrorTimedOut = -1001;
    static constexpr const char* kErrorDomain = "NSURLErrorDomain";

private:
    struct Curl;

    StreamTask(std::unique_ptr<Curl> curl, Callbacks callbacks, double idleTimeout);
    void run();
    // libcurl's callbacks: a header line, a piece of the body.
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user);
    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user);
    void receiveHeaderLine(std::string line);
    bool stalled() const;

    std::unique_ptr<Curl> curl_;
    Callbacks callbacks_;
    double idleTimeout_;
    std::atomic<State> state_{kRunning};
    std::atomic<bool> cancelled_{false};
    std::atomic<long long> lastActivity_{0};  // steady clock, nanoseconds
    std::mutex wakeMutex_;                    // guards the wake-up of the transfer's wait
    bool stopped_ = false;                    // the transfer loop has ended
    std::thread thread_;
};

}  // namespace tavo
