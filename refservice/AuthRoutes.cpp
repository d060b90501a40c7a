#include "refservice/AuthRoutes.h"

#include "refservice/Http.h"
#include "refservice/Params.h"
#include "refservice/RouteBinder.h"
#include "refservice/ServiceContext.h"

namespace tavo::refservice {

namespace {

const Outcome kNotJson = Outcome::failure(kInvalidArgument, "the body is not a JSON object");

std::string deviceIdOf(const httplib::Request& req) {
    return req.get_header_value("X-TAVO-DEVICEID");
}

}  // namespace

void AuthRoutes::install(RouteBinder& routes, const std::shared_ptr<ServiceContext>& context) {
    // Each route holds the context by shared ownership.
    const std::shared_ptr<ServiceContext>& c = context;

    routes.postOpen("/api/v1/deviceId", [c](const httplib::Request& req) {
        const auto params = Params::parseObject(req.body);
        return params ? c->auth.registerDevice(*params, req.get_header_value("User-Agent"))
                      : kNotJson;
    });
    routes.postOpen("/api/v1/login", [c](const httplib::Request& req) {
        const auto params = Params::parseObject(req.body);
        return params ? c->auth.login(deviceIdOf(req), *params) : kNotJson;
    });
    routes.postOpen("/api/v1/auth2fact", [c](const httplib::Request& req) {
        const auto params = Params::parseObject(req.body);
        return params ? c->auth.twoFactor(deviceIdOf(req), *params) : kNotJson;
    });
    routes.postOpen("/api/v1/token", [c](const httplib::Request& req) {
        const auto params = Params::parseObject(req.body);
        return params ? c->auth.token(deviceIdOf(req), *params) : kNotJson;
    });
    routes.postAuthorised("/api/v1/refresh-token",
                          [c](const httplib::Request&, const Caller& caller) {
                              return c->auth.refreshToken(caller);
                          });
    routes.postAuthorised(
        "/api/v1/logout",
        [c](const httplib::Request&, const Caller& caller) { return c->auth.logout(caller); },
        true);
    routes.getAuthorised(
        "/api/v1/devices",
        [c](const httplib::Request&, const Caller& caller) { return c->auth.devices(caller); },
        true);
    routes.postAuthorised(
        "/api/v1/device/out-of-use",
        [c](const httplib::Request& req, const Caller& caller) {
            const auto params = Params::parseObject(req.body);
            return params ? c->auth.deviceOutOfUse(caller, *params) : kNotJson;
        },
        true);
    routes.postAuthorised(
        "/api/v1/device/in-use",
        [c](const httplib::Request&, const Caller& caller) { return c->auth.deviceInUse(caller); },
        true);
}

}  // namespace tavo::refservice
