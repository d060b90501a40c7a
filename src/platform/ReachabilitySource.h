#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tavo::platform {

// Reachability flags, with the bit values the application tests.
inline constexpr std::uint32_t kReachabilityFlagsTransientConnection = 1;
inline constexpr std::uint32_t kReachabilityFlagsReachable = 2;
inline constexpr std::uint32_t kReachabilityFlagsConnectionRequired = 4;
inline constexpr std::uint32_t kReachabilityFlagsConnectionOnTraffic = 8;
inline constexpr std::uint32_t kReachabilityFlagsInterventionRequired = 16;
inline constexpr std::uint32_t kReachabilityFlagsConnectionOnDemand = 32;

// Where a target can be reached: the default route, a host name, or an
// address with a port.
struct ReachabilityTarget {
    std::string host;  // empty: the internet connection (a default route)
    int port = 0;
};

// The operating system's view of whether a target can be reached. Any
// thread may ask for the flags, also while the source is started.
class ReachabilitySource {
public:
    virtual ~ReachabilitySource() = default;
    // The flags now; none when they cannot be read.
    virtual std::optional<std::uint32_t> currentFlags() = 0;
    // Calls onChange with the new flags after every change, on a thread of
    // the source's; false when watching cannot start.
    virtual bool start(std::function<void(std::uint32_t flags)> onChange) = 0;
    virtual void stop() = 0;
};

}  // namespace tavo::platform
