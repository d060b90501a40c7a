// The asynchronous exchanges and the file downloads of ApiClient.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <map>
#include <utility>

#include "foundation/ConcurrentQueue.h"
#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "foundation/Log.h"
#include "service/ApiClient.h"

namespace tavo {

namespace {

// The threads on which transfers run and their handlers are called.
ConcurrentQueue& transferQueue() {
    static auto* queue = new ConcurrentQueue(6);  // never destroyed: transfers may outlive main
    return *queue;
}

Response failure(long code, const std::string& description) {
    Response response;
    response.error = Error{code, "NSURLErrorDomain", description};
    return response;
}

Response unsupported(const std::string& method) {
    return failure(-1002, "unsupported method " + method);
}

}  // namespace

// One download as its transfer thread runs it.
struct ApiClient::DownloadJob {
    std::optional<HttpRequest> request;
    std::shared_ptr<DownloadDelegate> delegate;
    std::shared_ptr<DownloadTask> task;
    // For a download queued behind another: whether that one's answer lets
    // it start.
    std::function<bool(const HttpUrlResponse&)> accepts;
};

// The downloads in flight: each one's file, created locked (flock) so that
// the clean-up of another program's start leaves it alone while this
// process lives, and removed when the download is over.
struct ApiClient::Downloads {
    std::mutex mutex;
    std::condition_variable idle;
    std::map<std::string, int> files;  // path -> the descriptor holding its lock
    int inFlight = 0;
    // The transfers under way, each with the download queued behind it.
    std::map<const DownloadTask*, std::optional<DownloadJob>> queuedBehind;

    std::string createdFolder;  // the download folder as last made sure of

    // A fresh, locked file in the download folder, and its descriptor; none
    // on failure.
    std::optional<std::pair<std::string, int>> createFile() {
        const auto folder = ApiClient::downloadFolder();
        if (!folder) {
            ELog("Cannot create the download folder: %@: %@", "(no user area)", Error{});
            return std::nullopt;
        }
        std::string path = *folder + "/tavo-download-XXXXXX";
        int fd = -1;
        {
            std::lock_guard lock(mutex);
            if (createdFolder == *folder)
                fd = ::mkostemp(path.data(), O_CLOEXEC);
        }
        // The folder is made sure of once, and again when it went away.
        if (fd < 0) {
            Error error;
            if (!FileUtil::createDirectories(*folder, &error)) {
                ELog("Cannot create the download folder: %@: %@", *folder, error);
                return std::nullopt;
            }
            path = *folder + "/tavo-download-XXXXXX";
            fd = ::mkostemp(path.data(), O_CLOEXEC);
            if (fd < 0)
                return std::nullopt;
        }
        ::flock(fd, LOCK_EX | LOCK_NB);
        std::lock_guard lock(mutex);
        createdFolder = *folder;
        files[path] = fd;
        return std::make_pair(path, fd);
    }

    void removeFile(const std::string& path) {
        std::lock_guard lock(mutex);
        removeLocked(path);
    }

    void removeLocked(const std::string& path) {
        const auto it = files.find(path);
        if (it == files.end())
            return;
        ::unlink(path.c_str());  // unless the delegate took the file away
        ::close(it->second);
        files.erase(it);
    }

    void begin() {
        std::lock_guard lock(mutex);
        ++inFlight;
    }

    void end() {
        std::lock_guard lock(mutex);
        --inFlight;
        idle.notify_all();
    }

    // A transfer about to run: a download may be queued behind it until it is over.
    void openQueue(const DownloadTask& task) {
        std::lock_guard lock(mutex);
        queuedBehind[&task];
    }

    // False when ahead's transfer is over or has one queued behind it already.
    bool queueBehind(const DownloadTask& ahead, DownloadJob& job) {
        {
            std::lock_guard lock(mutex);
            const auto it = queuedBehind.find(&ahead);
            if (it == queuedBehind.end() || it->second)
                return false;
            it->second = std::move(job);
            ++inFlight;  // until it ends, or is dropped
        }
        settled.notify_all();
        return true;
    }

    // Once a transfer is over nothing more is queued behind it. While the
    // delegate still handles the end of the transfer before (handled not
    // yet set), it may yet queue one: that is waited for, as starting the
    // chain again would wait for the same handling and then cost more.
    std::optional<DownloadJob> takeQueuedBehind(const DownloadTask& task,
                                                const std::shared_ptr<bool>& previousHandled,
                                                const TransferStop* stop) {
        std::unique_lock lock(mutex);
        const auto it = queuedBehind.find(&task);
        if (it == queuedBehind.end())
            return std::nullopt;
        if (!it->second && previousHandled)
            settled.wait_for(lock, kSettleWait, [&] {
                return it->second || *previousHandled || (stop && stop->stopped());
            });
        auto job = std::move(it->second);
        queuedBehind.erase(it);
        return job;
    }

    // The delegate has handled an end: whatever it queues next is queued.
    void markHandled(bool& handled) {
        {
            std::lock_guard lock(mutex);
            handled = true;
        }
        settled.notify_all();
    }

    // A stop ends the waits for what the delegates queue.
    void wakeWaiters() {
        // Under the mutex: a waiter either sees the stop or is asleep already.
        { std::lock_guard lock(mutex); }
        settled.notify_all();
    }

private:
    // A delegate queue held up this long by other work is not waited for.
    static constexpr auto kSettleWait = std::chrono::seconds(1);
    std::condition_variable settled;  // queued behind, an end handled, or a stop
};

std::shared_ptr<ApiClient::Downloads> ApiClient::downloads() {
    std::lock_guard lock(mutex_);
    if (!downloads_)
        downloads_ = std::make_shared<Downloads>();
    return downloads_;
}

std::optional<std::string> ApiClient::downloadFolder() {
    const auto base = Const::applicationDownloadFontTempolaryDirectoryPath();
    if (!base)
        return std::nullopt;
    return *base + "/Font";
}

void ApiClient::stopTransfers() {
    transferStop_->stop();
    downloads()->wakeWaiters();
}

bool ApiClient::waitForDownloads(Clock::Duration timeout) {
    auto state = downloads();
    std::unique_lock lock(state->mutex);
    const bool ended = state->idle.wait_for(lock, timeout, [&] { return state->inFlight == 0; });
    // What is still running writes on into a file without a name.
    while (!state->files.empty())
        state->removeLocked(state->files.begin()->first);
    return ended;
}

namespace {

using CreateFile = std::function<std::optional<std::pair<std::string, int>>()>;

// Downloads into a fresh file of the download folder, whose path goes to
// file and whose size to size. The file is made while the request is on its
// way.
Response downloadToFile(const std::optional<HttpRequest>& request, const std::string& method,
                        const CreateFile& createFile, std::optional<std::string>& file,
                        std::int64_t& size, const TransferObserver& observer = {}) {
    if (!request)
        return unsupported(method);
    if (request->stop && request->stop->stopped())
        return failure(kURLErrorCancelled, "cancelled");
    int fd = -1;
    const std::function<int()> openFile = [&] {
        if (const auto created = createFile()) {
            file = created->first;
            fd = created->second;
        }
        return fd;
    };
    Response response = HttpTransport::performToFile(*request, openFile, observer);
    struct stat st {};
    size = fd >= 0 && ::fstat(fd, &st) == 0 ? st.st_size : 0;
    return response;
}

}  // namespace

namespace {

// Where a delegate hears of its download.
std::shared_ptr<SerialQueue> reportQueue(const DownloadDelegate& delegate) {
    // One delegate queue for every download whose delegate names none (a
    // thread per download would cost more than a small file's transfer);
    // never destroyed, as transfers may outlive main.
    static auto* sharedQueue = new std::shared_ptr<SerialQueue>(
        std::make_shared<SerialQueue>("TAVO.downloadDelegateQueue"));
    auto queue = delegate.delegateQueue();
    return queue ? queue : *sharedQueue;
}

// Progress is handed over coalesced: at most one report waits on the
// delegate queue, and it carries the latest figures.
TransferObserver observerFor(const std::shared_ptr<DownloadDelegate>& delegate,
                             const std::shared_ptr<SerialQueue>& queue,
                             const std::shared_ptr<DownloadTask>& task) {
    struct Progress {
        std::atomic<bool> queued{false};
        std::atomic<std::int64_t> written{0}, total{0}, expected{0};
    };
    TransferObserver observer;
    if (delegate->wantsProgress()) {
        auto progress = std::make_shared<Progress>();
        observer.progress = [delegate, queue, progress](std::int64_t n, std::int64_t total,
                                                        std::int64_t expected) {
            progress->written = n;
            progress->total = total;
            progress->expected = expected;
            if (progress->queued.exchange(true))
                return;
            queue->async([delegate, progress] {
                progress->queued = false;
                delegate->didWriteData(progress->written, progress->total, progress->expected);
            });
        };
    }
    observer.cancelled = [task] { return task->isCancelled(); };
    return observer;
}

}  // namespace

// Runs one download into a file of the download folder and reports to the
// delegate on the queue it names, or on the downloads' shared delegate queue.
std::shared_ptr<DownloadTask> ApiClient::startDownload(const std::optional<HttpRequest>& request,
                                                       std::shared_ptr<DownloadDelegate> delegate) {
    auto task = std::make_shared<DownloadTask>();
    auto state = downloads();
    state->begin();
    state->openQueue(*task);
    transferQueue().async([job = DownloadJob{request, std::move(delegate), task, {}}, state] {
        runDownloads(job, state);
    });
    return task;
}

std::shared_ptr<DownloadTask> ApiClient::asyncDownloadAtPathAfter(
    const DownloadTask& ahead, const std::string& path, const std::string& method,
    const std::optional<ApiParams>& param, const std::optional<ApiHeaders>& header,
    std::shared_ptr<DownloadDelegate> delegate,
    std::function<bool(const HttpUrlResponse&)> accepts) {
    auto task = std::make_shared<DownloadTask>();
    task->started_ = false;
    DownloadJob job{buildRequestAtPath(path, method, param, header), std::move(delegate), task,
                    std::move(accepts)};
    return downloads()->queueBehind(ahead, job) ? task : nullptr;
}

// Runs a download, then the download queued behind it while the answer
// lets it, on this thread and its connection: the delegate queue's hop
// to start the next one is saved.
void ApiClient::runDownloads(DownloadJob job, const std::shared_ptr<Downloads>& state) {
    // The end of the transfer before, handed over once the next request is
    // out: the delegate queue's work then runs beside the server's, instead
    // of ahead of it.
    std::function<void()> reportPrevious;
    std::shared_ptr<bool> previousHandled;  // guarded by the state's mutex
    const auto report = [&reportPrevious] {
        if (auto previous = std::exchange(reportPrevious, nullptr))
            previous();
    };
    for (;;) {
        const auto queue = reportQueue(*job.delegate);
        std::optional<std::string> file;
        std::int64_t size = 0;
        TransferObserver observer = observerFor(job.delegate, queue, job.task);
        observer.requestSent = report;
        Response response = downloadToFile(
            job.request, "", [state] { return state->createFile(); }, file, size, observer);
        report();  // unless the request never went out
        // An answer without a body leaves no file to hand over.
        if (!response.error && file && size == 0)
            response.error =
                Error{kURLErrorFileDoesNotExist, "NSURLErrorDomain", "the answer has no body"};
        // A stopped download leaves nothing behind, whoever handles its end.
        if (response.error && file)
            state->removeFile(*file);
        // Settled before the end is reported: the delegate's queue then knows
        // whether the download queued behind this one runs.
        // After a failure nothing queued runs: no wait for the delegate.
        const auto handled = std::exchange(previousHandled, nullptr);
        auto next = state->takeQueuedBehind(*job.task, response.error ? nullptr : handled,
                                            job.request ? job.request->stop.get() : nullptr);
        const bool proceed = next && !response.error && response.httpUrlResponse &&
                             next->accepts(*response.httpUrlResponse);
        if (proceed) {
            state->openQueue(*next->task);
            next->task->started_ = true;
        }
        // The end of the transfer in one item of the delegate queue: the file,
        // its removal, the completion.
        auto ended = [delegate = job.delegate, state, response = std::move(response),
                      file = std::move(file)] {
            if (!response.error && response.httpUrlResponse)
                delegate->didFinishDownloadingToURL(*file, *response.httpUrlResponse);
            if (file)
                state->removeFile(*file);
            delegate->didCompleteWithError(response.error, response.httpUrlResponse);
            state->end();
        };
        if (!proceed) {
            queue->async(std::move(ended));
            if (next)
                state->end();  // the one queued behind never runs
            return;
        }
        previousHandled = std::make_shared<bool>(false);
        reportPrevious = [queue, state, handled = previousHandled,
                          ended = std::move(ended)]() mutable {
            queue->async([state, handled = std::move(handled), ended = std::move(ended)] {
                ended();
                state->markHandled(*handled);
            });
        };
        job = std::move(*next);
    }
}

void ApiClient::asyncRequestAtPath(const std::string& path, const std::string& method,
                                   const std::optional<ApiParams>& param,
                                   const std::optional<ApiHeaders>& header,
                                   std::function<void(const Response&)> completionHandler) {
    auto request = buildRequestAtPath(path, method, param, header);
    transferQueue().async(
        [request = std::move(request), method, handler = std::move(completionHandler)] {
            Response response = request ? HttpTransport::perform(*request) : unsupported(method);
            response.contentData.reset();
            if (handler)
                handler(response);
        });
}

Response ApiClient::downloadAtPath(const std::string& path, const std::string& method,
                                   const std::optional<ApiParams>& param,
                                   const std::optional<ApiHeaders>& header) {
    const auto request = buildRequestAtPath(path, method, param, header);
    if (!request)
        return unsupported(method);
    Response response = HttpTransport::perform(*request);
    Response download;  // the bytes, not the text
    download.httpUrlResponse = std::move(response.httpUrlResponse);
    download.error = std::move(response.error);
    download.contentData = std::move(response.contentData);
    return download;
}

void ApiClient::asyncDownloadAtPath(const std::string& path, const std::string& method,
                                    const std::optional<ApiParams>& param,
                                    const std::optional<ApiHeaders>& header,
                                    DownloadCompletionHandler completionHandler) {
    auto request = buildRequestAtPath(path, method, param, header);
    auto state = downloads();
    state->begin();
    transferQueue().async(
        [request = std::move(request), method, state, handler = std::move(completionHandler)] {
            std::optional<std::string> file;
            std::int64_t size = 0;
            const Response response = downloadToFile(
                request, method, [state] { return state->createFile(); }, file, size);
            const bool complete = !response.error && response.httpUrlResponse;
            if (handler)
                handler(complete ? file : std::nullopt, response.httpUrlResponse, response.error);
            if (file)
                state->removeFile(*file);
            state->end();
        });
}

std::shared_ptr<DownloadTask> ApiClient::asyncDownloadAtPath(
    const std::string& path, const std::string& method, const std::optional<ApiParams>& param,
    const std::optional<ApiHeaders>& header, std::shared_ptr<DownloadDelegate> delegate) {
    return startDownload(buildRequestAtPath(path, method, param, header), std::move(delegate));
}

std::shared_ptr<DownloadTask> ApiClient::asyncDownloadWithURL(
    const std::string& url, std::shared_ptr<DownloadDelegate> delegate) {
    HttpRequest request;
    request.url = url;
    request.timeoutInterval = timeoutIntervalForRequest;
    request.stop = transferStop_;
    return startDownload(request, std::move(delegate));
}

}  // namespace tavo
