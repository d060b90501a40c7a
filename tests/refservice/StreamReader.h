#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "refservice/Http.h"

namespace tavo::refservice::test {

// One event as the stream sent it: its fields by name.
using StreamEvent = std::map<std::string, std::string>;

// Reads /notifications on a thread of its own and keeps what arrived.
class StreamReader {
public:
    StreamReader(int port, httplib::Headers headers);
    ~StreamReader();

    // Waits until the received text satisfies the test, or the stream ended.
    bool waitFor(const std::function<bool(const std::string&)>& test,
                 std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool waitForEvents(std::size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool waitForEnd(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    void stop();

    std::string text() const;
    std::vector<StreamEvent> events() const;  // blocks with fields, comments left out
    int status() const;
    bool ended() const;
    httplib::Error error() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string text_;
    int status_ = 0;
    bool ended_ = false;
    httplib::Error error_ = httplib::Error::Success;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace tavo::refservice::test
