#include "refservice/AdminControlRoutes.h"

#include "refservice/AdminGuard.h"
#include "refservice/Http.h"
#include "refservice/Seed.h"
#include "refservice/ServiceContext.h"

namespace tavo::refservice {

namespace {

using Request = httplib::Request;
using Json = nlohmann::json;

AdminReply dropStreams(ServiceContext& c, const Json& body) {
    std::lock_guard lock(c.state->mutex);
    c.state->streamDropAccount = ServiceState::key(body.value("mailAddress", std::string()));
    c.state->streamDropClean = body.value("clean", false);
    ++c.state->streamGeneration;
    c.state->changed.notify_all();
    return AdminGuard::ok();
}

AdminReply listEvents(ServiceContext& c, const Request& req) {
    const std::string mail = ServiceState::key(req.get_param_value("mailAddress"));
    Json events = Json::array();
    std::lock_guard lock(c.state->mutex);
    for (const Event& event : c.state->events) {
        if (mail.empty() || event.mailAddress == mail)
            events.push_back({{"id", event.id},
                              {"mailAddress", event.mailAddress},
                              {"event", event.name},
                              {"data", event.data}});
    }
    return AdminGuard::ok({{"events", events}, {"lastEventId", c.state->lastEventId}});
}

// Versions: the archive is made (or read) outside the lock.
AdminReply setClientApps(ServiceContext& c, const Json& body) {
    ClientAppsInfo info;
    {
        std::lock_guard lock(c.state->mutex);
        info = c.state->clientApps;
    }
    std::string error;
    if (!Seed::applyClientApps(body, info, {}, &error))
        return AdminGuard::error(error);
    std::lock_guard lock(c.state->mutex);
    c.state->clientApps = info;
    return AdminGuard::ok({{"specifiedVersion", info.specifiedVersion},
                           {"offeredVersion", info.offeredVersion},
                           {"isForcedUpdate", info.isForcedUpdate},
                           {"signature", info.signatureMode}});
}

}  // namespace

void AdminControlRoutes::install(httplib::Server& server,
                                 const std::shared_ptr<ServiceContext>& context) {
    const std::shared_ptr<ServiceContext>& c = context;
    server.Post("/admin/faults", AdminGuard::wrap([c](const Request&, const Json& body) {
                    std::string error;
                    auto rule = FaultInjector::parse(body, &error);
                    if (!rule)
                        return AdminGuard::error(error);
                    c->faults.add(std::move(*rule));
                    return AdminGuard::ok();
                }));
    server.Get("/admin/faults", AdminGuard::wrap([c](const Request&, const Json&) {
                   return AdminGuard::ok({{"faults", c->faults.list()}});
               }));
    server.Delete("/admin/faults", AdminGuard::wrap([c](const Request&, const Json&) {
                      c->faults.clear();
                      return AdminGuard::ok();
                  }));
    server.Post("/admin/streams/drop", AdminGuard::wrap([c](const Request&, const Json& body) {
                    return dropStreams(*c, body);
                }));
    server.Get("/admin/streams", AdminGuard::wrap([c](const Request&, const Json&) {
                   return AdminGuard::ok({{"open", c->openStreams.load()}});
               }));
    server.Get(
        "/admin/requests", AdminGuard::wrap([c](const Request& req, const Json&) {
            return AdminGuard::ok({{"requests", c->requests.entries(req.get_param_value("path"))}});
        }));
    server.Delete("/admin/requests", AdminGuard::wrap([c](const Request&, const Json&) {
                      c->requests.clear();
                      return AdminGuard::ok();
                  }));
    server.Get("/admin/events", AdminGuard::wrap([c](const Request& req, const Json&) {
                   return listEvents(*c, req);
               }));
    server.Post("/admin/client-apps", AdminGuard::wrap([c](const Request&, const Json& body) {
                    return setClientApps(*c, body);
                }));
}

}  // namespace tavo::refservice
