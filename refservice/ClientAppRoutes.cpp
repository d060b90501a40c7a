#include "refservice/ClientAppRoutes.h"

#include <optional>

#include "refservice/Envelope.h"
#include "refservice/Http.h"
#include "refservice/RouteBinder.h"
#include "refservice/ServiceContext.h"

namespace tavo::refservice {

namespace {

// A well-formed signature that is not the archive's: its first byte changed.
std::string badSignature(std::string signature) {
    if (!signature.empty())
        signature[0] = signature[0] == 'A' ? 'B' : 'A';
    return signature;
}

}  // namespace

std::string ClientAppRoutes::archiveName(const std::string& version) {
    return "TAVO-Ver" + version + ".zip";
}

void ClientAppRoutes::install(RouteBinder& routes, const std::shared_ptr<ServiceContext>& context) {
    const std::shared_ptr<ServiceContext>& c = context;

    routes.getAuthorised("/api/v1/client-apps/version",
                         [c](const httplib::Request&, const Caller&) {
                             std::lock_guard lock(c->state->mutex);
                             const ClientAppsInfo& info = c->state->clientApps;
                             nlohmann::json data = {{"appId", info.appId}};
                             if (!info.specifiedVersion.empty())
                                 data["version"] = info.specifiedVersion;
                             return Outcome::success(std::move(data));
                         });
    routes.getAuthorised(
        "/api/v1/client-apps/update-info", [c](const httplib::Request&, const Caller&) {
            std::lock_guard lock(c->state->mutex);
            const ClientAppsInfo& info = c->state->clientApps;
            if (info.offeredVersion.empty())
                return Outcome::success();
            return Outcome::success({{"appId", info.appId},
                                     {"version", info.offeredVersion},
                                     {"url", c->apiBaseUrl + "/api/v1/client-apps/archives/" +
                                                 archiveName(info.offeredVersion)},
                                     {"isForcedUpdate", info.isForcedUpdate}});
        });
    routes.get(R"(/api/v1/client-apps/archives/([^/]+))", [c](const httplib::Request& req,
                                                              httplib::Response& res) {
        std::shared_ptr<const std::string> archive;
        std::optional<std::string> signature;
        {
            std::lock_guard lock(c->state->mutex);
            const ClientAppsInfo& info = c->state->clientApps;
            const std::string name = req.matches[1].str();
            if (!info.offeredVersion.empty() && name == archiveName(info.offeredVersion))
                archive = info.archive;
            if (!info.offeredVersion.empty() && info.archive &&
                name == archiveName(info.offeredVersion) + ".sig" &&
                info.signatureMode != "missing")
                signature =
                    info.signatureMode == "bad" ? badSignature(info.signature) : info.signature;
        }
        if (signature) {
            res.set_content(*signature + "\n", "text/plain");
            return;
        }
        if (!archive) {
            Envelope::write(res, Outcome::failure(kInvalidArgument, "no such archive"), 404);
            return;
        }
        res.set_header("Content-Disposition",
                       "attachment; filename=\"" + req.matches[1].str() + "\"");
        res.set_content(*archive, "application/zip");
    });
}

}  // namespace tavo::refservice
