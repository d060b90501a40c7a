#include "refservice/RequestLog.h"

#include <cstdio>

#include "refservice/Http.h"

namespace tavo::refservice {

void RequestLog::record(const std::string& listener, const httplib::Request& req) {
    nlohmann::json query = nlohmann::json::object();
    for (const auto& [name, value] : req.params)
        query[name] = value;
    nlohmann::json headers = nlohmann::json::object();
    for (const auto& [name, value] : req.headers) {
        if (headers.contains(name))
            headers[name] = headers[name].get<std::string>() + ", " + value;
        else
            headers[name] = value;
    }
    nlohmann::json entry = {{"listener", listener},      {"method", req.method},
                            {"path", req.path},          {"target", req.target},
                            {"query", std::move(query)}, {"headers", std::move(headers)},
                            {"body", req.body},          {"remoteAddr", req.remote_addr}};
    std::lock_guard lock(mutex_);
    entry["sequence"] = ++sequence_;
    entries_.push_back(std::move(entry));
    while (entries_.size() > capacity_)
        entries_.pop_front();
}

nlohmann::json RequestLog::entries(const std::string& path) const {
    nlohmann::json list = nlohmann::json::array();
    std::lock_guard lock(mutex_);
    for (const auto& entry : entries_) {
        if (path.empty() || entry["path"] == path)
            list.push_back(entry);
    }
    return list;
}

void RequestLog::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

void RequestLog::setEcho(bool echo) {
    std::lock_guard lock(mutex_);
    echo_ = echo;
}

void RequestLog::echo(const std::string& listener, const httplib::Request& req,
                      const httplib::Response& res) const {
    const std::string target = req.target.empty() ? req.path : req.target;
    echoLine(listener + " " + req.remote_addr + " " + req.method + " " + target + " -> " +
             std::to_string(res.status));
}

void RequestLog::echoLine(const std::string& line) const {
    {
        std::lock_guard lock(mutex_);
        if (!echo_)
            return;
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace tavo::refservice
