#include "refservice/FaultInjector.h"

namespace tavo::refservice {

namespace {

bool matches(const FaultRule& rule, const std::string& method, const std::string& path) {
    if (!rule.method.empty() && rule.method != method)
        return false;
    if (!rule.path.empty() && rule.path.back() == '*')
        return path.compare(0, rule.path.size() - 1, rule.path, 0, rule.path.size() - 1) == 0;
    return rule.path == path;
}

}  // namespace

std::optional<FaultRule> FaultInjector::parse(const nlohmann::json& spec, std::string* error) {
    try {
        FaultRule rule;
        rule.path = spec.value("path", std::string());
        rule.method = spec.value("method", std::string());
        rule.status = spec.value("status", 0);
        rule.body = spec.value("body", std::string());
        rule.emptyBody = spec.value("emptyBody", false);
        rule.delayMs = spec.value("delayMs", 0L);
        rule.cutAfterBytes = spec.value("cutAfterBytes", -1L);
        rule.contentType = spec.value("contentType", std::string());
        rule.drop = spec.value("drop", false);
        rule.count = spec.value("count", -1L);
        if (rule.path.empty() || rule.path[0] != '/') {
            *error = "a fault needs a path beginning with /";
            return std::nullopt;
        }
        if (rule.status != 0 && (rule.status < 100 || rule.status > 599)) {
            *error = "status must be an HTTP status";
            return std::nullopt;
        }
        if (rule.count == 0 || rule.delayMs < 0) {
            *error = "count must be positive or -1, delayMs not negative";
            return std::nullopt;
        }
        return rule;
    } catch (const nlohmann::json::exception& e) {
        *error = std::string("malformed fault: ") + e.what();
        return std::nullopt;
    }
}

nlohmann::json FaultInjector::toJson(const FaultRule& rule) {
    return {{"path", rule.path},
            {"method", rule.method},
            {"status", rule.status},
            {"body", rule.body},
            {"emptyBody", rule.emptyBody},
            {"delayMs", rule.delayMs},
            {"cutAfterBytes", rule.cutAfterBytes},
            {"contentType", rule.contentType},
            {"drop", rule.drop},
            {"count", rule.count}};
}

std::string FaultInjector::expandBody(const std::string& body,
                                      const std::function<std::string(const std::string&)>& param) {
    std::string expanded;
    std::size_t at = 0;
    for (;;) {
        const auto open = body.find("{{", at);
        const auto close = open == std::string::npos ? open : body.find("}}", open + 2);
        if (close == std::string::npos) {
            expanded += body.substr(at);
            return expanded;
        }
        expanded += body.substr(at, open - at);
        expanded += param(body.substr(open + 2, close - open - 2));
        at = close + 2;
    }
}

void FaultInjector::add(FaultRule rule) {
    std::lock_guard lock(mutex_);
    rules_.push_back(std::move(rule));
}

void FaultInjector::clear() {
    std::lock_guard lock(mutex_);
    rules_.clear();
}

nlohmann::json FaultInjector::list() const {
    nlohmann::json list = nlohmann::json::array();
    std::lock_guard lock(mutex_);
    for (const FaultRule& rule : rules_)
        list.push_back(toJson(rule));
    return list;
}

std::optional<FaultRule> FaultInjector::take(const std::string& method, const std::string& path) {
    std::lock_guard lock(mutex_);
    for (auto it = rules_.begin(); it != rules_.end(); ++it) {
        if (!matches(*it, method, path))
            continue;
        FaultRule rule = *it;
        if (it->count > 0 && --it->count == 0)
            rules_.erase(it);
        return rule;
    }
    return std::nullopt;
}

}  // namespace tavo::refservice
