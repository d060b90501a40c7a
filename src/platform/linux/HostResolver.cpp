#include "platform/linux/HostResolver.h"

#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <condition_variable>
#include <system_error>
#include <thread>

namespace tavo::platform {

namespace {

// How often a waiting caller looks at its cancel flag.
constexpr auto kCancelCheckInterval = std::chrono::milliseconds(50);

std::vector<IpAddress> lookUp(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::vector<IpAddress> addresses;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0)
        return addresses;
    for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
        auto address = IpAddress::fromSockaddr(entry->ai_addr, entry->ai_addrlen);
        if (address && std::find(addresses.begin(), addresses.end(), *address) == addresses.end())
            addresses.push_back(*address);
    }
    freeaddrinfo(found);
    return addresses;
}

}  // namespace

struct HostResolver::Lookup {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::vector<IpAddress> addresses;
};

HostResolver::HostResolver(std::string host) : host_(std::move(host)) {}

std::shared_ptr<HostResolver::Lookup> HostResolver::lookup() {
    std::lock_guard lock(mutex_);
    if (inflight_)
        return inflight_;
    auto lookup = std::make_shared<Lookup>();
    try {
        // The thread owns what it touches: it may outlive this resolver.
        std::thread([lookup, host = host_] {
            std::vector<IpAddress> addresses = lookUp(host);
            std::lock_guard lookupLock(lookup->mutex);
            lookup->addresses = std::move(addresses);
            lookup->done = true;
            lookup->finished.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        lookup->done = true;  // no thread to spare: the name does not resolve now
    }
    inflight_ = lookup;
    return lookup;
}

std::vector<IpAddress> HostResolver::resolve(std::chrono::milliseconds wait,
                                             const std::atomic<bool>* cancelled) {
    std::shared_ptr<Lookup> current = lookup();
    const auto deadline = std::chrono::steady_clock::now() + wait;
    bool done;
    std::vector<IpAddress> addresses;
    {
        std::unique_lock lock(current->mutex);
        while (!current->done && std::chrono::steady_clock::now() < deadline &&
               !(cancelled && cancelled->load())) {
            current->finished.wait_until(
                lock, std::min(deadline, std::chrono::steady_clock::now() + kCancelCheckInterval));
        }
        done = current->done;
        if (done)
            addresses = current->addresses;
    }
    std::lock_guard lock(mutex_);
    if (!done)
        return last_;
    if (inflight_ == current)
        inflight_.reset();
    last_ = addresses;
    return addresses;
}

}  // namespace tavo::platform
