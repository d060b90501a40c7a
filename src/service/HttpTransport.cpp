#include "service/HttpTransport.h"

#include <curl/curl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

#include "service/CurlPolicy.h"
#include "service/Utf8.h"

namespace tavo {

namespace {

constexpr const char* kErrorDomain = "NSURLErrorDomain";

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// One handle per thread, so kept-alive connections are reused by every
// request made from that thread.
struct HandleDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

// The exchanges of a thread run on a multi handle of its own, so a stop
// from another thread can wake the wait at once (curl_multi_wakeup). The
// connections the thread keeps alive live in it.
CURLM* threadMulti() {
    thread_local std::unique_ptr<CURLM, MultiDeleter> multi;
    if (!multi) {
        globalInit();
        multi.reset(curl_multi_init());
    }
    return multi.get();
}

// The exchanges waiting now, and the stop each one carries.
struct RunningExchanges {
    std::mutex mutex;
    std::set<std::pair<CURLM*, const TransferStop*>> entries;
};

RunningExchanges& runningExchanges() {
    static auto* running = new RunningExchanges;  // transfers may outlive main
    return *running;
}

CURL* threadHandle() {
    thread_local std::unique_ptr<CURL, HandleDeleter> handle;
    if (!handle) {
        globalInit();
        handle.reset(curl_easy_init());
    } else {
        curl_easy_reset(handle.get());
    }
    return handle.get();
}

struct Transfer {
    const TransferObserver* observer = nullptr;
    const TransferStop* stop = nullptr;
    std::string body;
    const std::function<int()>* openFile = nullptr;  // none: the body stays in memory
    int fd = -1;
    bool requestSent = false;
    bool tooLarge = false;
    bool writeFailed = false;
    HttpUrlResponse response;
    std::int64_t expected = -1;
    std::int64_t written = 0;
};

// What waits for the request to be out: the observer's hook, then the
// body's file. Once, after the exchange's first step or at the first byte
// of the answer, whichever comes first.
void requestWentOut(Transfer& transfer) {
    if (std::exchange(transfer.requestSent, true))
        return;
    if (transfer.observer && transfer.observer->requestSent)
        transfer.observer->requestSent();
    if (transfer.openFile)
        transfer.fd = (*transfer.openFile)();
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    requestWentOut(*transfer);
    const std::string line(data, size * count);
    if (line.rfind("HTTP/", 0) == 0) {
        transfer->response.headers.clear();  // a new answer (after a redirect or 100)
        return size * count;
    }
    const auto colon = line.find(':');
    if (colon != std::string::npos) {
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        value.erase(value.find_last_not_of(" \t\r\n") + 1);
        transfer->response.headers[name] = value;
    }
    return size * count;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    requestWentOut(*transfer);
    const size_t n = size * count;
    if (transfer->openFile) {
        if (transfer->fd < 0) {  // no file to write to
            transfer->writeFailed = true;
            return 0;
        }
        size_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(transfer->fd, data + done, n - done);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                transfer->writeFailed = true;
                return 0;
            }
            done += static_cast<size_t>(w);
        }
    } else {
        if (transfer->body.size() + n > HttpTransport::kMaximumBodySize) {
            transfer->tooLarge = true;
            return 0;
        }
        transfer->body.append(data, n);
    }
    transfer->written += static_cast<std::int64_t>(n);
    if (transfer->observer && transfer->observer->progress)
        transfer->observer->progress(static_cast<std::int64_t>(n), transfer->written, transfer->expected);
    return n;
}

int onProgress(void* user, curl_off_t total, curl_off_t, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(user);
    if (total > 0)
        transfer->expected = total;
    if (transfer->stop && transfer->stop->stopped())
        return 1;
    return transfer->observer && transfer->observer->cancelled && transfer->observer->cancelled() ? 1 : 0;
}

// Runs the transfer of the thread's handle to its end, or until its stop.
CURLcode performStoppably(CURL* curl, Transfer& transfer) {
    const TransferStop* stop = transfer.stop;
    CURLM* multi = threadMulti();
    if (!multi)
        return CURLE_OUT_OF_MEMORY;
    if (curl_multi_add_handle(multi, curl) != CURLM_OK)
        return CURLE_FAILED_INIT;
    auto& running = runningExchanges();
    if (stop) {
        std::lock_guard lock(running.mutex);
        running.entries.emplace(multi, stop);
    }
    CURLcode code = CURLE_OK;
    for (;;) {
        // Stopped before the first step: no connection is made.
        if (stop && stop->stopped()) {
            code = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        int active = 0;
        if (curl_multi_perform(multi, &active) != CURLM_OK) {
            code = CURLE_FAILED_INIT;
            break;
        }
        requestWentOut(transfer);  // a kept-alive connection sends in the first step
        bool done = false;
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued))
            if (message->msg == CURLMSG_DONE && message->easy_handle == curl) {
                code = message->data.result;
                done = true;
            }
        if (done)
            break;
        // libcurl's own timeouts shorten the wait; a stop ends it.
        curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
    if (stop) {
        std::lock_guard lock(running.mutex);
        running.entries.erase({multi, stop});
    }
    curl_multi_remove_handle(multi, curl);
    return code;
}

// The platform's error codes for the failures callers and logs tell apart.
long errorCode(CURLcode code) {
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT: return -1001;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY: return -1003;
        case CURLE_COULDNT_CONNECT: return -1004;
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE: return -1005;
        case CURLE_ABORTED_BY_CALLBACK: return -999;
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL: return -1002;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CONNECT_ERROR: return -1200;
        case CURLE_TOO_MANY_REDIRECTS: return -1007;
        default: return -1000 - static_cast<long>(code);
    }
}

Response run(const HttpRequest& request, Transfer& transfer) {
    CURL* curl = threadHandle();
    Response response;
    if (!curl) {
        response.error = Error{-1, kErrorDomain, "the HTTP stack could not start"};
        return response;
    }
    char errorText[CURL_ERROR_SIZE] = {};
    curl_slist* headers = nullptr;
    for (const auto& [name, value] : request.headers)
        headers = curl_slist_append(headers, (name + (value.empty() ? ";" : ": " + value)).c_str());
    headers = curl_slist_append(headers, "Expect:");  // no 100-continue round trip

    applyCurlPolicy(curl, 5L, errorText);
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    // No Accept-Encoding: the answers are small, and compressing them costs
    // the server more than the bytes saved on the way.
    // A stalled exchange ends after the timeout; a long one that keeps
    // moving does not.
    const double timeout = request.timeoutInterval > 0 ? request.timeoutInterval : 60;
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout * 1000));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, std::max(1L, static_cast<long>(timeout + 0.5)));
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    if (request.method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    } else if (request.method != "GET") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        if (request.hasBody) {
            curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
            curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(request.body.size()));
        }
    }

    transfer.stop = request.stop.get();
    const CURLcode code = performStoppably(curl, transfer);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    char* effectiveUrl = nullptr;
    curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effectiveUrl);
    curl_slist_free_all(headers);

    if (status > 0) {
        transfer.response.statusCode = status;
        transfer.response.url = effectiveUrl ? effectiveUrl : request.url;
        response.httpUrlResponse = std::move(transfer.response);
    }
    if (transfer.tooLarge) {
        response.error = Error{-1103, kErrorDomain,
                               "the answer is larger than " +
                                   std::to_string(HttpTransport::kMaximumBodySize) + " bytes"};
    } else if (transfer.writeFailed) {
        response.error = Error{-3000, kErrorDomain, "the downloaded file could not be written"};
    } else if (code != CURLE_OK) {
        const std::string detail = errorText[0] ? errorText : curl_easy_strerror(code);
        response.error = Error{errorCode(code), kErrorDomain,
                               code == CURLE_ABORTED_BY_CALLBACK ? "cancelled" : detail};
    }
    return response;
}

}  // namespace

void TransferStop::stop() {
    stopped_ = true;
    auto& running = runningExchanges();
    std::lock_guard lock(running.mutex);
    for (const auto& [multi, stop] : running.entries)
        if (stop == this)
            curl_multi_wakeup(multi);
}

std::string HttpRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (strcasecmp(key.c_str(), name.c_str()) == 0)
            return value;
    return {};
}

Response HttpTransport::perform(const HttpRequest& request, const TransferObserver& observer) {
    Transfer transfer;
    transfer.observer = &observer;
    Response response = run(request, transfer);
    if (transfer.body.empty() || response.error)
        return response;
    if (isValidUtf8(transfer.body))
        response.body = transfer.body;
    response.contentData = std::move(transfer.body);
    return response;
}

Response HttpTransport::performToFile(const HttpRequest& request,
                                      const std::function<int()>& openFile,
                                      const TransferObserver& observer) {
    Transfer transfer;
    transfer.observer = &observer;
    transfer.openFile = &openFile;
    Response response = run(request, transfer);
    // An answer without a body writes nothing: a missing file is told here.
    if (!response.error && transfer.fd < 0)
        response.error = Error{-3000, kErrorDomain, "no temporary file for the download"};
    return response;
}

}  // namespace tavo
