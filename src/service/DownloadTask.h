#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "foundation/Error.h"
#include "service/Response.h"

namespace tavo {

class SerialQueue;

// The error of a download whose answer brought no body to hand over.
inline constexpr long kURLErrorFileDoesNotExist = -1100;

// What a file download reports, in this order, on the delegate's queue.
class DownloadDelegate {
public:
    virtual ~DownloadDelegate() = default;
    // Where the reports are made; none: the downloads' shared delegate queue.
    virtual std::shared_ptr<SerialQueue> delegateQueue() const { return nullptr; }
    virtual void didWriteData(std::int64_t /*bytesWritten*/, std::int64_t /*totalBytesWritten*/,
                              std::int64_t /*totalBytesExpectedToWrite*/) {}
    // False: didWriteData is not called (one hop less per download).
    virtual bool wantsProgress() const { return true; }
    // The body is complete in a temporary file, which is removed once this
    // returns: move it away here to keep it.
    virtual void didFinishDownloadingToURL(const std::string& /*location*/,
                                           const HttpUrlResponse& /*response*/) {}
    // Always last; error is none after a complete transfer.
    virtual void didCompleteWithError(const std::optional<Error>& /*error*/,
                                      const std::optional<HttpUrlResponse>& /*response*/) {}
};

using DownloadCompletionHandler =
    std::function<void(const std::optional<std::string>& location,
                       const std::optional<HttpUrlResponse>& response,
                       const std::optional<Error>& error)>;

// A running download; cancel() ends it with a cancellation error.
class DownloadTask {
public:
    void cancel() { cancelled_ = true; }
    bool isCancelled() const { return cancelled_; }
    // False for a download queued behind another until the transfer thread
    // takes it up, and for good when that never happens. Settled before the
    // end of the download it was queued behind is reported.
    bool hasStarted() const { return started_; }

private:
    friend class ApiClient;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> started_{true};
};

}  // namespace tavo
