#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "events/SSEEvents.h"
#include "events/SSEParser.h"
#include "events/ServerSentEventDelegate.h"
#include "events/SessionConfiguration.h"
#include "events/StreamTask.h"
#include "foundation/PlistValue.h"
#include "foundation/SerialQueue.h"
#include "service/Response.h"

namespace tavo {

// One attempt at the long-lived GET of the notification stream. The
// transfer runs on a thread of its own; its answer, its data and its end
// are handled on the stream's serial operation queue, where the parser, the
// listeners and the delegate run. Always owned through a shared_ptr.
class ServerSentEvent : public std::enable_shared_from_this<ServerSentEvent> {
public:
    enum State : unsigned { kConnecting = 0, kOpen = 1, kClosed = 2, kClosing = 3, kFailed = 4 };
    using EventHandler = std::function<void(const SSEEvents&)>;
    using ListenerId = std::size_t;
    using TaskId = std::uint64_t;

    // A stream in state connecting, not started yet.
    static std::shared_ptr<ServerSentEvent> initWithURL(const std::string& url);
    static std::shared_ptr<ServerSentEvent> initWithURL(const std::string& url,
                                                        SessionConfiguration sessionConfiguration);
    ~ServerSentEvent();
    ServerSentEvent(const ServerSentEvent&) = delete;
    ServerSentEvent& operator=(const ServerSentEvent&) = delete;

    // Starts (or restarts) the GET; the task exists and runs when this returns.
    void open();
    // Stops it: the stream ends in serverSentEventDidClose unless it has
    // already ended.
    void close();

    ListenerId addListenerForEvent(const std::string& event, EventHandler handler);
    void removeEventListenerWithIdentifier(ListenerId identifier);
    void removeAllListenersForEvent(const std::string& event);

    unsigned state() const;
    bool isConnecting() const { return state() == kConnecting; }
    bool isOpen() const { return state() == kOpen; }
    bool isClosed() const { return state() == kClosed; }
    bool isClosing() const { return state() == kClosing; }
    bool isFailed() const { return state() == kFailed; }

    const std::string& URL() const { return url_; }
    const SessionConfiguration& sessionConfiguration() const { return configuration_; }
    const std::shared_ptr<SerialQueue>& operationQueue() const { return operationQueue_; }
    std::shared_ptr<ServerSentEventDelegate> delegate() const;
    void setDelegate(std::weak_ptr<ServerSentEventDelegate> delegate);

    // The current task's state; none before open().
    std::optional<StreamTask::State> taskState() const;
    bool isTaskRunning() const { return taskState() == StreamTask::kRunning; }
    // The answer's head; none until (or unless) one arrived.
    std::optional<HttpUrlResponse> httpUrlResponse() const;

    // Session delegate operations, on the operation queue, for a task of
    // this stream: the answer's head (didReceiveResponse), a chunk of its
    // body (didReceiveData), its end (didCompleteWithError).
    void URLSession(TaskId task, const HttpUrlResponse& response);
    void URLSession(TaskId task, const std::string& data);
    void URLSession(TaskId task, const std::optional<Error>& error);

    // A new stream for the same address and configuration.
    std::shared_ptr<ServerSentEvent> copy() const;
    // Archiving keeps the address only (key "URL").
    void encodeWithCoder(PlistDict& coder) const;
    static std::shared_ptr<ServerSentEvent> initWithCoder(const PlistDict& coder);

private:
    ServerSentEvent(std::string url, SessionConfiguration configuration);
    StreamTask::Callbacks callbacksForTask(TaskId task);
    void clearBufferLater();
    void dispatch(const SSEEvents& event);

    const std::string url_;
    const SessionConfiguration configuration_;
    const std::shared_ptr<SerialQueue> operationQueue_;

    mutable std::mutex mutex_;
    State state_ = kConnecting;
    std::unique_ptr<StreamTask> task_;
    TaskId taskId_ = 0;
    std::optional<HttpUrlResponse> response_;
    std::weak_ptr<ServerSentEventDelegate> delegate_;
    std::map<std::string, std::map<ListenerId, EventHandler>> listenersKeyedByEvent_;

    SSEParser parser_;  // the operation queue only
};

}  // namespace tavo
