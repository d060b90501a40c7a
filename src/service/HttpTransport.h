#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "service/Response.h"

namespace tavo {

// The error code of an exchange that was cancelled or stopped.
inline constexpr long kURLErrorCancelled = -999;

// Stops the exchanges whose requests carry it: those in progress end at
// once (within a poll, not at the next transfer callback), later ones end
// before they connect. For a program that is ending. Any thread.
class TransferStop {
public:
    void stop();
    bool stopped() const { return stopped_; }

private:
    std::atomic<bool> stopped_{false};
};

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;  // in the order they are sent
    std::string body;
    bool hasBody = false;
    // No bytes for this long ends the exchange with a timeout error; a long
    // transfer that keeps moving is never cut.
    double timeoutInterval = 10;
    std::shared_ptr<TransferStop> stop;  // none: runs to its end

    std::string header(const std::string& name) const;  // empty when absent
};

// Progress and the end of a transfer. Called on the transfer's thread.
struct TransferObserver {
    std::function<void(std::int64_t written, std::int64_t totalWritten, std::int64_t expected)>
        progress;
    std::function<bool()> cancelled;  // polled; true ends the transfer
    // Once the request has gone out, before any of the answer is read: for
    // work that should not hold the request back.
    std::function<void()> requestSent;
};

// HTTP over libcurl. TLS is always verified; TAVO_CA_BUNDLE names a CA file
// for tests; proxies come from the environment as libcurl reads them.
class HttpTransport {
public:
    // Largest body kept in memory: a larger answer fails with a clear error.
    static constexpr std::size_t kMaximumBodySize = 32u << 20;

    // Performs the exchange and keeps the body in memory: its bytes in
    // contentData, and as text in body when they are UTF-8.
    static Response perform(const HttpRequest& request, const TransferObserver& observer = {});
    // Performs the exchange writing the body into the file openFile gives
    // (the descriptor of an open empty file, which stays open; -1 fails the
    // exchange). It is asked for once the request has gone out, while the
    // answer is on its way.
    static Response performToFile(const HttpRequest& request, const std::function<int()>& openFile,
                                  const TransferObserver& observer = {});
};

}  // namespace tavo
