#pragma once

#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace tavo::refservice {

// The requests the service received, as tests read them back: listener,
// method, path, query, headers, body and the caller's address. Optionally
// echoes one line per answered request to stdout.
class RequestLog {
public:
    explicit RequestLog(std::size_t capacity = 20000) : capacity_(capacity) {}

    void record(const std::string& listener, const httplib::Request& req);
    // Entries in arrival order; with a path, only requests for that path.
    nlohmann::json entries(const std::string& path = {}) const;
    void clear();

    void setEcho(bool echo);
    void echo(const std::string& listener, const httplib::Request& req,
              const httplib::Response& res) const;
    void echoLine(const std::string& line) const;

private:
    mutable std::mutex mutex_;
    std::deque<nlohmann::json> entries_;
    std::size_t capacity_;
    long sequence_ = 0;
    bool echo_ = false;
};

}  // namespace tavo::refservice
