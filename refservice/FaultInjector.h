#pragma once

#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace tavo::refservice {

// One injected fault: for requests to path (a trailing "*" matches any path
// with that beginning), optionally only one method, the next `count` times
// (-1: until cleared).
struct FaultRule {
    std::string path;
    std::string method;
    int status = 0;           // answer this status instead of the real answer
    std::string body;         // with status: this body (default: an envelope), in which
                              // "{{name}}" stands for the request's parameter name
    bool emptyBody = false;   // with status: no body at all
    long delayMs = 0;         // wait before answering
    long cutAfterBytes = -1;  // promise the whole body, close after N bytes
    std::string contentType;  // send this Content-Type instead
    bool drop = false;        // close the connection (event streams: end it)
    long count = -1;
};

// The faults the admin interface injected, consulted by every route.
class FaultInjector {
public:
    static std::optional<FaultRule> parse(const nlohmann::json& spec, std::string* error);
    static nlohmann::json toJson(const FaultRule& rule);

    void add(FaultRule rule);
    void clear();
    nlohmann::json list() const;
    // The body of a fault for a request: each "{{name}}" replaced by the
    // value of the request's parameter name (empty when it has none).
    static std::string expandBody(const std::string& body,
                                  const std::function<std::string(const std::string&)>& param);
    // The first rule that matches, its count taken down by one.
    std::optional<FaultRule> take(const std::string& method, const std::string& path);

private:
    mutable std::mutex mutex_;
    std::vector<FaultRule> rules_;
};

}  // namespace tavo::refservice
