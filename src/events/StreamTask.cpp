#include "events/StreamTask.h"

#include <curl/curl.h>
#include <pthread.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>

#include "service/CurlPolicy.h"

namespace tavo {

namespace {

constexpr long kMaximumRedirects = 5;
constexpr long kTcpKeepIdleSeconds = 30;
constexpr long kTcpKeepIntervalSeconds = 15;
// The transfer's thread sleeps until data arrives, curl has a timer due, the
// stall deadline passes or cancel() wakes it: an idle stream costs no
// wake-ups. The longest wait is only a bound.
constexpr int kLongestPollMs = 60 * 60 * 1000;

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

long long steadyNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// How long the transfer may wait for the next data before it counts as
// stalled; the longest wait without a stall limit.
int pollMilliseconds(double idleTimeout, long long lastActivity) {
    if (idleTimeout <= 0)
        return kLongestPollMs;
    const long long deadline = lastActivity + static_cast<long long>(idleTimeout * 1e9);
    const long long left = deadline - steadyNanos();
    if (left <= 0)
        return 0;
    return static_cast<int>(std::min<long long>(left / 1000000 + 1, kLongestPollMs));
}

// The platform's error codes for the failures callers and logs tell apart.
long errorCode(CURLcode code) {
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
            return StreamTask::kErrorTimedOut;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return -1003;
        case CURLE_COULDNT_CONNECT:
            return -1004;
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:
            return -1005;
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return -1002;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CONNECT_ERROR:
            return -1200;
        case CURLE_TOO_MANY_REDIRECTS:
            return -1007;
        default:
            return -1000 - static_cast<long>(code);
    }
}

// A header line as curl sends it; a value can never break the line.
std::string headerLine(const std::string& name, const std::string& value) {
    auto clean = [](std::string text) {
        text.erase(std::remove_if(text.begin(), text.end(),
                                  [](char c) { return c == '\r' || c == '\n' || c == '\0'; }),
                   text.end());
        return text;
    };
    const std::string value_ = clean(value);
    // "Name:" alone would remove the header; "Name;" sends it empty.
    return clean(name) + (value_.empty() ? ";" : ": " + value_);
}

}  // namespace

// The handles of one transfer and the answer being read.
struct StreamTask::Curl {
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    char errorText[CURL_ERROR_SIZE] = {};
    HttpUrlResponse head;  // the answer whose header lines are arriving

    ~Curl() {
        if (multi && easy)
            curl_multi_remove_handle(multi, easy);
        if (easy)
            curl_easy_cleanup(easy);
        if (multi)
            curl_multi_cleanup(multi);
        curl_slist_free_all(headers);
    }
};

std::unique_ptr<StreamTask> StreamTask::start(const std::string& url,
                                              const SessionConfiguration& configuration,
                                              Callbacks callbacks) {
    globalInit();
    auto curl = std::make_unique<Curl>();
    curl->multi = curl_multi_init();
    curl->easy = curl_easy_init();
    if (!curl->multi || !curl->easy)
        return nullptr;
    for (const auto& [name, value] : configuration.HTTPAdditionalHeaders)
        curl->headers = curl_slist_append(curl->headers, headerLine(name, value).c_str());

    std::unique_ptr<StreamTask> task(new StreamTask(std::move(curl), std::move(callbacks),
                                                    configuration.timeoutIntervalForIdle));
    CURL* easy = task->curl_->easy;
    auto ms = [](double seconds) { return static_cast<long>(std::max(0.0, seconds) * 1000); };
    applyCurlPolicy(easy, kMaximumRedirects, task->curl_->errorText);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, task->curl_->headers);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    if (configuration.timeoutIntervalForRequest > 0)
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, ms(configuration.timeoutIntervalForRequest));
    if (configuration.timeoutIntervalForConnect > 0)
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                         ms(configuration.timeoutIntervalForConnect));
    // A peer that vanished without closing (a dead network path) is noticed
    // by the operating system's keep-alive probes.
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPIDLE, kTcpKeepIdleSeconds);
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPINTVL, kTcpKeepIntervalSeconds);

    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &StreamTask::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, task.get());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &StreamTask::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, task.get());
    if (curl_multi_add_handle(task->curl_->multi, easy) != CURLM_OK)
        return nullptr;

    task->lastActivity_ = steadyNanos();
    StreamTask* raw = task.get();
    task->thread_ = std::thread([raw] { raw->run(); });
    return task;
}

std::size_t StreamTask::onHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* self = static_cast<StreamTask*>(user);
    const std::size_t n = size * count;
    self->lastActivity_ = steadyNanos();
    self->receiveHeaderLine(std::string(data, n));
    return n;
}

void StreamTask::receiveHeaderLine(std::string line) {
    HttpUrlResponse& head = curl_->head;
    if (line.rfind("HTTP/", 0) == 0) {
        head = HttpUrlResponse{};
        const auto space = line.find(' ');
        if (space != std::string::npos)
            head.statusCode = std::strtol(line.c_str() + space + 1, nullptr, 10);
        return;
    }
    line.erase(line.find_last_not_of("\r\n") + 1);
    if (line.empty()) {
        // The head is complete. Interim answers and redirects that are
        // followed are not the answer.
        const bool interim = head.statusCode >= 100 && head.statusCode < 200;
        const bool redirect =
            head.statusCode >= 300 && head.statusCode < 400 && !head.header("location").empty();
        if (!interim && !redirect && !cancelled_ && callbacks_.response) {
            char* effective = nullptr;
            curl_easy_getinfo(curl_->easy, CURLINFO_EFFECTIVE_URL, &effective);
            head.url = effective ? effective : "";
            callbacks_.response(head);
        }
        return;
    }
    const auto colon = line.find(':');
    if (colon == std::string::npos)
        return;
    std::string name = line.substr(0, colon);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    value.erase(value.find_last_not_of(" \t") + 1);
    head.headers[name] = value;
}

std::size_t StreamTask::onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* self = static_cast<StreamTask*>(user);
    if (self->cancelled_)
        return 0;  // ends the transfer: nothing more is delivered after a cancel
    const std::size_t n = size * count;
    self->lastActivity_ = steadyNanos();
    if (self->callbacks_.data)
        self->callbacks_.data(std::string(data, n));
    return n;
}

StreamTask::StreamTask(std::unique_ptr<Curl> curl, Callbacks callbacks, double idleTimeout)
    : curl_(std::move(curl)), callbacks_(std::move(callbacks)), idleTimeout_(idleTimeout) {}

StreamTask::~StreamTask() {
    cancel();
    if (!thread_.joinable())
        return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        // Destroyed by a callback of its own transfer: the handles are still
        // in use further up this thread's stack, so they are left alone.
        thread_.detach();
        (void)curl_.release();
        return;
    }
    thread_.join();
}

void StreamTask::cancel() {
    cancelled_ = true;
    State running = kRunning;
    state_.compare_exchange_strong(running, kCanceling);
    std::lock_guard lock(wakeMutex_);
    if (!stopped_)
        curl_multi_wakeup(curl_->multi);
}

bool StreamTask::stalled() const {
    if (idleTimeout_ <= 0)
        return false;
    const double idle = static_cast<double>(steadyNanos() - lastActivity_.load()) / 1e9;
    return idle > idleTimeout_;
}

void StreamTask::run() {
    pthread_setname_np(pthread_self(), "eventStream");
    CURLMcode multiCode = CURLM_OK;
    bool idle = false;
    int running = 1;
    while (!cancelled_) {
        multiCode = curl_multi_perform(curl_->multi, &running);
        if (multiCode != CURLM_OK || running == 0)
            break;
        if ((idle = stalled()))
            break;
        multiCode = curl_multi_poll(curl_->multi, nullptr, 0,
                                    pollMilliseconds(idleTimeout_, lastActivity_), nullptr);
        if (multiCode != CURLM_OK)
            break;
    }

    std::optional<Error> error;
    if (cancelled_) {
        error = Error{kErrorCancelled, kErrorDomain, "cancelled"};
    } else if (idle) {
        error = Error{kErrorTimedOut, kErrorDomain,
                      "The request timed out (nothing received for " +
                          std::to_string(static_cast<long>(idleTimeout_)) + " seconds)."};
    } else if (multiCode != CURLM_OK) {
        error = Error{-1, kErrorDomain, curl_multi_strerror(multiCode)};
    } else {
        int left = 0;
        CURLcode code = CURLE_OK;
        while (CURLMsg* message = curl_multi_info_read(curl_->multi, &left)) {
            if (message->msg == CURLMSG_DONE)
                code = message->data.result;
        }
        if (code != CURLE_OK) {
            const std::string detail =
                curl_->errorText[0] ? curl_->errorText : curl_easy_strerror(code);
            error = Error{errorCode(code), kErrorDomain, detail};
        }
    }
    {
        std::lock_guard lock(wakeMutex_);
        stopped_ = true;
    }
    curl_.reset();  // closes the connection now, not when the task goes away
    state_ = kCompleted;
    if (callbacks_.complete)
        callbacks_.complete(error);
}

}  // namespace tavo
