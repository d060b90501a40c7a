#include "events/ServerSentEvent.h"

#include <uuid/uuid.h>

#include <vector>

#include "events/SSEConstants.h"
#include "foundation/Log.h"

namespace tavo {

namespace {

constexpr const char* kCoderURL = "URL";
constexpr long kHttpStatusOK = 200;

ServerSentEvent::ListenerId freshListenerId() {
    uuid_t uuid;
    uuid_generate_random(uuid);
    char text[37] = {};
    uuid_unparse_upper(uuid, text);
    return std::hash<std::string>{}(text);
}

}  // namespace

std::shared_ptr<ServerSentEvent> ServerSentEvent::initWithURL(const std::string& url) {
    return initWithURL(url, SessionConfiguration::defaultSessionConfiguration());
}

std::shared_ptr<ServerSentEvent> ServerSentEvent::initWithURL(
    const std::string& url, SessionConfiguration sessionConfiguration) {
    return std::shared_ptr<ServerSentEvent>(
        new ServerSentEvent(url, std::move(sessionConfiguration)));
}

ServerSentEvent::ServerSentEvent(std::string url, SessionConfiguration configuration)
    : url_(std::move(url)),
      configuration_(std::move(configuration)),
      operationQueue_(std::make_shared<SerialQueue>(kSSEOperationQueueName)) {}

ServerSentEvent::~ServerSentEvent() = default;

// ---- control

void ServerSentEvent::open() {
    std::unique_ptr<StreamTask> previous;
    TaskId task = 0;
    {
        std::lock_guard lock(mutex_);
        state_ = kConnecting;
        previous = std::move(task_);
        task = ++taskId_;
        response_.reset();
    }
    TAVO_DLOG("perform URLSessionTask");
    previous.reset();  // a restart ends the earlier transfer first
    clearBufferLater();
    auto started = StreamTask::start(url_, configuration_, callbacksForTask(task));
    std::lock_guard lock(mutex_);
    if (!started) {
        // Reported like any other failure, so the owner retries.
        operationQueue_->async([weak = weak_from_this(), task] {
            if (auto self = weak.lock())
                self->URLSession(
                    task, Error{-1, StreamTask::kErrorDomain, "the HTTP stack could not start"});
        });
    } else if (taskId_ == task) {
        task_ = std::move(started);
    }
}

void ServerSentEvent::close() {
    {
        std::lock_guard lock(mutex_);
        if (state_ == kClosed || state_ == kFailed || state_ == kClosing)
            return;  // already ended, or ending
        state_ = kClosing;
        if (task_ && task_->state() != StreamTask::kCompleted) {
            task_->cancel();
        } else {
            // Nothing is running that could report its end: report it here.
            operationQueue_->async([weak = weak_from_this(), task = taskId_] {
                if (auto self = weak.lock())
                    self->URLSession(task, Error{StreamTask::kErrorCancelled,
                                                 StreamTask::kErrorDomain, "cancelled"});
            });
        }
    }
    TAVO_DLOG("Closing and issues invalidateAndCancel");
    clearBufferLater();
}

StreamTask::Callbacks ServerSentEvent::callbacksForTask(TaskId task) {
    std::weak_ptr<ServerSentEvent> weak = weak_from_this();
    std::shared_ptr<SerialQueue> queue = operationQueue_;
    StreamTask::Callbacks callbacks;
    callbacks.response = [weak, queue, task](const HttpUrlResponse& response) {
        queue->async([weak, task, response] {
            if (auto self = weak.lock())
                self->URLSession(task, response);
        });
    };
    callbacks.data = [weak, queue, task](std::string data) {
        queue->async([weak, task, data = std::move(data)] {
            if (auto self = weak.lock())
                self->URLSession(task, data);
        });
    };
    callbacks.complete = [weak, queue, task](const std::optional<Error>& error) {
        queue->async([weak, task, error] {
            if (auto self = weak.lock())
                self->URLSession(task, error);
        });
    };
    return callbacks;
}

void ServerSentEvent::clearBufferLater() {
    operationQueue_->async([weak = weak_from_this()] {
        if (auto self = weak.lock())
            self->parser_.clear();
    });
}

// ---- session delegate operations

void ServerSentEvent::URLSession(TaskId task, const HttpUrlResponse& response) {
    bool opened = false;
    State state = kConnecting;
    {
        std::lock_guard lock(mutex_);
        if (task != taskId_)
            return;
        response_ = response;
        state = state_;
        if (state_ == kConnecting && response.statusCode == kHttpStatusOK) {
            state_ = kOpen;
            opened = true;
        }
    }
    TAVO_DLOG("received response: http status: %ld: MIMEType: [%@]", response.statusCode,
              response.mimeType());
    if (opened) {
        TAVO_DLOG("transition to opened");
        if (auto target = delegate())
            target->serverSentEventDidOpen(shared_from_this());
    } else if (state != kConnecting) {
        TAVO_DLOG("nothing without connecting");
    } else {
        // Anything but 200 is not an event stream; the end of the answer
        // reports the failure.
        TAVO_DLOG("no transition to opened with http status: %ld", response.statusCode);
    }
}

void ServerSentEvent::URLSession(TaskId task, const std::string& data) {
    bool parse = false;
    {
        std::lock_guard lock(mutex_);
        if (task != taskId_)
            return;
        parse = state_ == kOpen && response_ && response_->statusCode == kHttpStatusOK;
    }
    if (!parse) {
        // The body of a refused answer, or data after our close: logged, not
        // taken for events.
        TAVO_DLOG("received raw data: [%@]", Utf8Decoder().decode(data));
        return;
    }
    std::string text;
    const auto blocks = parser_.parse(data, &text);
    TAVO_DLOG("received raw data: [%@]", text);
    for (const auto& event : blocks) {
        TAVO_DLOG(": error.code=%ld: event=%d", 0L, event ? 1 : 0);
        if (event)
            dispatch(*event);
    }
}

void ServerSentEvent::URLSession(TaskId task, const std::optional<Error>& error) {
    bool closed = false;
    std::shared_ptr<ServerSentEventDelegate> target;
    {
        std::lock_guard lock(mutex_);
        if (task != taskId_ || state_ == kClosed || state_ == kFailed)
            return;
        // A transfer that ends after our close is closed, however it ended.
        closed = state_ == kClosing;
        state_ = closed ? kClosed : kFailed;
        target = delegate_.lock();  // the delegate of the moment the stream ended
    }
    TAVO_DLOG("perfrom didCompleteWithError with %@: Description(sse): [%@]",
              closed ? "closing" : "failure", error ? error->text() : std::string("unknown"));
    if (closed) {
        TAVO_DLOG("transition to closed");
        if (target)
            target->serverSentEventDidClose(shared_from_this());
    } else {
        TAVO_DLOG("transition to failed");
        if (target)
            target->serverSentEvent(shared_from_this(), error);
    }
}

void ServerSentEvent::dispatch(const SSEEvents& event) {
    std::vector<EventHandler> handlers;
    if (event.event()) {
        std::lock_guard lock(mutex_);
        const auto it = listenersKeyedByEvent_.find(*event.event());
        if (it != listenersKeyedByEvent_.end()) {
            for (const auto& [identifier, handler] : it->second)
                handlers.push_back(handler);
        }
    }
    for (const auto& handler : handlers)
        handler(event);
    if (auto target = delegate())
        target->serverSentEvent(shared_from_this(), event);
}

// ---- listeners and properties

ServerSentEvent::ListenerId ServerSentEvent::addListenerForEvent(const std::string& event,
                                                                 EventHandler handler) {
    const ListenerId identifier = freshListenerId();
    std::lock_guard lock(mutex_);
    listenersKeyedByEvent_[event][identifier] = std::move(handler);
    return identifier;
}

void ServerSentEvent::removeEventListenerWithIdentifier(ListenerId identifier) {
    std::lock_guard lock(mutex_);
    for (auto& [event, handlers] : listenersKeyedByEvent_)
        handlers.erase(identifier);
}

void ServerSentEvent::removeAllListenersForEvent(const std::string& event) {
    std::lock_guard lock(mutex_);
    listenersKeyedByEvent_.erase(event);
}

unsigned ServerSentEvent::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

std::shared_ptr<ServerSentEventDelegate> ServerSentEvent::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void ServerSentEvent::setDelegate(std::weak_ptr<ServerSentEventDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::optional<StreamTask::State> ServerSentEvent::taskState() const {
    std::lock_guard lock(mutex_);
    if (!task_)
        return std::nullopt;
    return task_->state();
}

std::optional<HttpUrlResponse> ServerSentEvent::httpUrlResponse() const {
    std::lock_guard lock(mutex_);
    return response_;
}

std::shared_ptr<ServerSentEvent> ServerSentEvent::copy() const {
    return initWithURL(url_, configuration_);
}

void ServerSentEvent::encodeWithCoder(PlistDict& coder) const {
    coder[kCoderURL] = url_;
}

std::shared_ptr<ServerSentEvent> ServerSentEvent::initWithCoder(const PlistDict& coder) {
    const auto* url = plistGet<std::string>(coder, kCoderURL);
    return url ? initWithURL(*url) : nullptr;
}

}  // namespace tavo
