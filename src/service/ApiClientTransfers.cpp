// The asynchronous exchanges and the file downloads of ApiClient.
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>

#include "foundation/ConcurrentQueue.h"
#include "foundation/Log.h"
#include "service/ApiClient.h"

namespace tavo {

namespace {

// The threads on which transfers run and their handlers are called.
ConcurrentQueue& transferQueue() {
    static auto* queue = new ConcurrentQueue(6);  // never destroyed: transfers may outlive main
    return *queue;
}

std::optional<std::string> temporaryFile() {
    std::string path = (std::filesystem::temp_directory_path() / "tavo-download-XXXXXX").string();
    const int fd = ::mkstemp(path.data());
    if (fd < 0)
        return std::nullopt;
    ::close(fd);
    return path;
}

Response failure(long code, const std::string& description) {
    Response response;
    response.error = Error{code, "NSURLErrorDomain", description};
    return response;
}

Response unsupported(const std::string& method) {
    return failure(-1002, "unsupported method " + method);
}

// Downloads into a fresh temporary file, whose path goes to file.
Response downloadToTemporaryFile(const std::optional<HttpRequest>& request,
                                 const std::string& method, std::optional<std::string>& file,
                                 const TransferObserver& observer = {}) {
    if (!request)
        return unsupported(method);
    file = temporaryFile();
    if (!file)
        return failure(-3000, "no temporary file for the download");
    return HttpTransport::performToFile(*request, *file, observer);
}

// Runs one download into a temporary file and reports to the delegate on
// the downloads' delegate queue.
std::shared_ptr<DownloadTask> startDownload(const std::optional<HttpRequest>& request,
                                            std::shared_ptr<DownloadDelegate> delegate) {
    auto task = std::make_shared<DownloadTask>();
    // One delegate queue for every download (a thread per download would
    // cost more than a small file's transfer); never destroyed, as transfers
    // may outlive main.
    static auto* sharedQueue = new std::shared_ptr<SerialQueue>(
        std::make_shared<SerialQueue>("TAVO.downloadDelegateQueue"));
    const std::shared_ptr<SerialQueue> queue = *sharedQueue;
    transferQueue().async([request, delegate, task, queue] {
        // Progress is handed over coalesced: at most one report waits on the
        // delegate queue, and it carries the latest figures.
        struct Progress {
            std::atomic<bool> queued{false};
            std::atomic<std::int64_t> written{0}, total{0}, expected{0};
        };
        auto progress = std::make_shared<Progress>();
        TransferObserver observer;
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
        observer.cancelled = [task] { return task->isCancelled(); };
        std::optional<std::string> file;
        Response response = downloadToTemporaryFile(request, "", file, observer);
        // An answer without a body leaves no file to hand over.
        std::error_code sizeError;
        if (!response.error && file && std::filesystem::file_size(*file, sizeError) == 0)
            response.error =
                Error{kURLErrorFileDoesNotExist, "NSURLErrorDomain", "the answer has no body"};
        // The end of the transfer in one item of the delegate queue: the file,
        // its removal, the completion.
        queue->async([delegate, response = std::move(response), file = std::move(file)] {
            if (!response.error && response.httpUrlResponse)
                delegate->didFinishDownloadingToURL(*file, *response.httpUrlResponse);
            if (file) {
                std::error_code ignored;
                std::filesystem::remove(*file, ignored);
            }
            delegate->didCompleteWithError(response.error, response.httpUrlResponse);
        });
    });
    return task;
}

}  // namespace

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
    transferQueue().async(
        [request = std::move(request), method, handler = std::move(completionHandler)] {
            std::optional<std::string> file;
            const Response response = downloadToTemporaryFile(request, method, file);
            const bool complete = !response.error && response.httpUrlResponse;
            if (handler)
                handler(complete ? file : std::nullopt, response.httpUrlResponse, response.error);
            if (file)
                std::filesystem::remove(*file);
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
    return startDownload(request, std::move(delegate));
}

}  // namespace tavo
