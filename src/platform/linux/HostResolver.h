#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/IpAddress.h"

namespace tavo::platform {

// Resolves one host name with a bounded wait. The lookup itself runs on a
// thread of its own, so a resolver that does not answer holds no caller
// longer than it asked for; at most one lookup per host is under way.
class HostResolver {
public:
    explicit HostResolver(std::string host);

    // The host's addresses. Waits at most `wait`, and stops waiting soon
    // after *cancelled turns true; when the answer is late, the addresses of
    // the last answer. Empty when the name does not resolve.
    std::vector<IpAddress> resolve(std::chrono::milliseconds wait,
                                   const std::atomic<bool>* cancelled = nullptr);

    const std::string& host() const { return host_; }

private:
    struct Lookup;

    std::shared_ptr<Lookup> lookup();

    std::string host_;
    std::mutex mutex_;
    std::shared_ptr<Lookup> inflight_;
    std::vector<IpAddress> last_;
};

}  // namespace tavo::platform
