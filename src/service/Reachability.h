#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "foundation/SerialQueue.h"
#include "platform/ReachabilitySource.h"

namespace tavo {

// Posted on the main queue after every change; the user information holds
// the watcher (std::shared_ptr<Reachability>) under kReachabilityKey.
inline constexpr const char* kReachabilityChangedNotification = "kReachabilityChangedNotification";
inline constexpr const char* kReachabilityKey = "reachability";

enum NetworkStatus {
    NotReachable = 0,
    ReachableViaWWAN = 1,
    ReachableViaWiFi = 2,
};

// A watcher over whether a target can be reached: the internet connection,
// a host or an address. It only reports; it keeps no online state.
//
// Changes arrive on reachabilitySerialQueue, where reachableBlock or
// unreachableBlock runs, then reachabilityBlock, and then
// kReachabilityChangedNotification is posted on the main queue. The blocks
// receive the watcher, so they need not capture it.
class Reachability : public std::enable_shared_from_this<Reachability> {
    struct PrivateTag {};

public:
    using SourceFactory = std::function<std::shared_ptr<platform::ReachabilitySource>(
        const platform::ReachabilityTarget& target)>;
    using NetworkReachable = std::function<void(const std::shared_ptr<Reachability>&)>;
    using NetworkUnreachable = std::function<void(const std::shared_ptr<Reachability>&)>;
    using NetworkReachability =
        std::function<void(const std::shared_ptr<Reachability>&, std::uint32_t flags)>;
    using Source = std::shared_ptr<platform::ReachabilitySource>;

    // Where the watchers' sources come from when none is given: programs
    // install the platform's; without one every target counts as reachable.
    static void setSourceFactory(SourceFactory factory);

    // The creators return none for a target that cannot be watched (an
    // empty host name, a malformed address or URL).
    static std::shared_ptr<Reachability> reachabilityForInternetConnection(Source source = nullptr);
    static std::shared_ptr<Reachability> reachabilityWithHostname(const std::string& hostname,
                                                                  Source source = nullptr);
    static std::shared_ptr<Reachability> reachabilityWithHostName(const std::string& hostname,
                                                                  Source source = nullptr) {
        return reachabilityWithHostname(hostname, std::move(source));
    }
    static std::shared_ptr<Reachability> reachabilityWithAddress(const std::string& ip, int port,
                                                                 Source source = nullptr);
    static std::shared_ptr<Reachability> reachabilityForLocalWiFi(Source source = nullptr);
    // The URL's host with its port, or 443 for "https" and 80 otherwise.
    static std::shared_ptr<Reachability> reachabilityWithURL(const std::string& url,
                                                             Source source = nullptr);

    Reachability(platform::ReachabilityTarget target, Source source, PrivateTag);
    ~Reachability();

    Reachability(const Reachability&) = delete;
    Reachability& operator=(const Reachability&) = delete;

    // Reachable with flags: the reachable bit is set, and not both connection
    // required and transient connection.
    static bool isReachableWithFlags(std::uint32_t flags);

    // ---- properties
    const platform::ReachabilityTarget& reachabilityRef() const { return target_; }
    SerialQueue& reachabilitySerialQueue() const { return *queue_; }
    std::atomic<bool> reachableOnWWAN{true};
    NetworkReachable reachableBlock() const;
    void setReachableBlock(NetworkReachable block);
    NetworkUnreachable unreachableBlock() const;
    void setUnreachableBlock(NetworkUnreachable block);
    NetworkReachability reachabilityBlock() const;
    void setReachabilityBlock(NetworkReachability block);

    // Starts watching; true at once when already watching.
    bool startNotifier();
    // Stops watching: no block runs for a change that arrives afterwards.
    void stopNotifier();

    // ---- queries, each from the flags read now (none readable: not reachable)
    bool isReachable() const;
    bool isReachableViaWWAN() const;
    bool isReachableViaWiFi() const;
    bool isConnectionRequired() const;
    bool connectionRequired() const { return isConnectionRequired(); }
    bool isConnectionOnDemand() const;
    bool isInterventionRequired() const;
    std::uint32_t reachabilityFlags() const;
    std::uint32_t currentReachabilityFlags() const { return reachabilityFlags(); }
    NetworkStatus currentReachabilityStatus() const;
    std::string currentReachabilityString() const;

private:
    static std::shared_ptr<Reachability> make(platform::ReachabilityTarget target, Source source);
    void reachabilityChanged(std::uint64_t generation, std::uint32_t flags);

    const platform::ReachabilityTarget target_;
    const Source source_;
    // Shared with the source's callback, which may still post to it while
    // the watcher goes away.
    const std::shared_ptr<SerialQueue> queue_;

    mutable std::mutex blocksMutex_;
    NetworkReachable reachableBlock_;
    NetworkUnreachable unreachableBlock_;
    NetworkReachability reachabilityBlock_;

    std::mutex notifierMutex_;
    std::uint64_t generations_ = 0;
    // The generation of the running notifier; 0 while stopped.
    std::atomic<std::uint64_t> activeGeneration_{0};
};

}  // namespace tavo
