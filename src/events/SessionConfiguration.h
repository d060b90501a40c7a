#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tavo {

// How a stream's request is made: the headers it adds and its limits.
struct SessionConfiguration {
    // Sent with every request, in this order.
    std::vector<std::pair<std::string, std::string>> HTTPAdditionalHeaders;
    // The whole request, however healthy, ends after this many seconds.
    double timeoutIntervalForRequest = 60;
    // Establishing the connection (name lookup, TCP, TLS) gives up after this.
    double timeoutIntervalForConnect = 30;
    // No byte at all (not even a comment) for this long means the connection
    // has stalled and ends with a timeout error; 0: never.
    double timeoutIntervalForIdle = 0;

    static SessionConfiguration defaultSessionConfiguration() { return {}; }
};

}  // namespace tavo
