#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "refservice/Outcome.h"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace tavo::refservice {

struct AdminReply {
    int status = 200;
    nlohmann::json body;
};

// The admin interface answers callers on this machine only, judged by the
// connection's peer address (never by a header). Its answers are plain JSON:
// {"ok": true, ...} or {"ok": false, "error": "..."}.
class AdminGuard {
public:
    using Action = std::function<AdminReply(const httplib::Request&, const nlohmann::json& body)>;
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    static bool isLoopback(const std::string& address);
    // Checks the caller, parses the body (an empty body is {}), runs the
    // action and writes its reply; malformed values become a 400.
    static Handler wrap(Action action);

    static AdminReply ok(nlohmann::json extra = nlohmann::json::object());
    static AdminReply error(const std::string& message, int status = 400);
    static AdminReply fromOutcome(const Outcome& outcome);
};

}  // namespace tavo::refservice
