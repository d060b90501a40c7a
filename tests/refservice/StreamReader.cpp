#include "StreamReader.h"

#include <sstream>

namespace tavo::refservice::test {

StreamReader::StreamReader(int port, httplib::Headers headers) {
    thread_ = std::thread([this, port, headers = std::move(headers)] {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(5, 0);
        auto result = client.Get(
            "/notifications", headers,
            [this](const httplib::Response& response) {
                std::lock_guard lock(mutex_);
                status_ = response.status;
                changed_.notify_all();
                return true;
            },
            [this](const char* data, std::size_t length) {
                std::lock_guard lock(mutex_);
                text_.append(data, length);
                changed_.notify_all();
                return !stop_.load();
            });
        std::lock_guard lock(mutex_);
        ended_ = true;
        error_ = result.error();
        if (result && status_ == 0)
            status_ = result->status;
        if (result && text_.empty())
            text_ = result->body;
        changed_.notify_all();
    });
}

StreamReader::~StreamReader() {
    stop();
}

void StreamReader::stop() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

bool StreamReader::waitFor(const std::function<bool(const std::string&)>& test,
                           std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return test(text_) || ended_; }) && test(text_);
}

bool StreamReader::waitForEvents(std::size_t count, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (events().size() < count) {
        if (std::chrono::steady_clock::now() > deadline || ended())
            return events().size() >= count;
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(20));
    }
    return true;
}

bool StreamReader::waitForEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return ended_; });
}

std::string StreamReader::text() const {
    std::lock_guard lock(mutex_);
    return text_;
}

std::vector<StreamEvent> StreamReader::events() const {
    const std::string all = text();
    std::vector<StreamEvent> events;
    std::size_t start = 0;
    for (std::size_t end; (end = all.find("\n\n", start)) != std::string::npos; start = end + 2) {
        std::istringstream block(all.substr(start, end - start));
        StreamEvent event;
        for (std::string line; std::getline(block, line);) {
            const auto colon = line.find(": ");
            if (line.empty() || line[0] == ':' || colon == std::string::npos)
                continue;
            event[line.substr(0, colon)] = line.substr(colon + 2);
        }
        if (!event.empty())
            events.push_back(std::move(event));
    }
    return events;
}

int StreamReader::status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

bool StreamReader::ended() const {
    std::lock_guard lock(mutex_);
    return ended_;
}

httplib::Error StreamReader::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

}  // namespace tavo::refservice::test
