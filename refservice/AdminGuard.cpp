#include "refservice/AdminGuard.h"

#include <arpa/inet.h>

#include <cstring>

#include "refservice/Http.h"
#include "refservice/Params.h"

namespace tavo::refservice {

bool AdminGuard::isLoopback(const std::string& address) {
    in_addr v4{};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, address.c_str(), &v6) != 1)
        return false;
    if (IN6_IS_ADDR_LOOPBACK(&v6))
        return true;
    return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
}

AdminGuard::Handler AdminGuard::wrap(Action action) {
    return [action = std::move(action)](const httplib::Request& req, httplib::Response& res) {
        AdminReply reply;
        if (!isLoopback(req.remote_addr)) {
            reply = error("the admin interface answers callers on this machine only", 403);
        } else if (auto body = Params::parseObject(req.body); !body) {
            reply = error("the body is not a JSON object");
        } else {
            try {
                reply = action(req, *body);
            } catch (const nlohmann::json::exception& e) {
                reply = error(std::string("malformed request: ") + e.what());
            }
        }
        res.status = reply.status;
        res.set_content(reply.body.dump(), "application/json");
    };
}

AdminReply AdminGuard::ok(nlohmann::json extra) {
    extra["ok"] = true;
    return {200, std::move(extra)};
}

AdminReply AdminGuard::error(const std::string& message, int status) {
    return {status, {{"ok", false}, {"error", message}}};
}

AdminReply AdminGuard::fromOutcome(const Outcome& outcome) {
    if (!outcome.ok())
        return error(outcome.message);
    nlohmann::json extra = outcome.data.is_object() ? outcome.data : nlohmann::json::object();
    return ok(std::move(extra));
}

}  // namespace tavo::refservice
