#include "refservice/AdminRoutes.h"

#include <algorithm>

#include "refservice/AdminGuard.h"
#include "refservice/CatalogueBuilder.h"
#include "refservice/Http.h"
#include "refservice/Params.h"
#include "refservice/Seed.h"
#include "refservice/ServiceContext.h"

namespace tavo::refservice {

namespace {

using Request = httplib::Request;
using Json = nlohmann::json;

std::string textOf(const Json& body, const std::string& name) {
    return Params::text(body, name).value_or("");
}

AdminReply fontAction(ServiceContext& c, const Json& body, bool activate) {
    return AdminGuard::fromOutcome(
        c.fonts.setActive(textOf(body, "mailAddress"), textOf(body, "fontId"), activate));
}

// Stamps the fonts outside the lock, then adds them (and grants them).
AdminReply addFonts(ServiceContext& c, const Json& body) {
    CatalogueBuilder builder(c.files);
    std::vector<CatalogueFont> made;
    for (const auto& spec : body.value("fonts", Json::array())) {
        std::optional<std::string> sourceBytes;
        if (auto from = Params::text(spec, "from")) {
            std::shared_ptr<const std::string> file;
            std::string filePath;
            {
                std::lock_guard lock(c.state->mutex);
                const CatalogueFont* font = c.state->findFont(*from);
                if (!font)
                    return AdminGuard::error("no font " + *from + " to copy");
                file = font->file;
                filePath = font->filePath;
            }
            sourceBytes = FontFiles::bytes(file, filePath);
        }
        std::string error;
        auto font = builder.fromSpec(spec, {}, sourceBytes, &error);
        if (!font)
            return AdminGuard::error(error);
        made.push_back(std::move(*font));
    }
    const std::string mail = textOf(body, "mailAddress");
    const bool activate = body.value("activate", false);
    std::lock_guard lock(c.state->mutex);
    Account* account = mail.empty() ? nullptr : c.state->findAccount(mail);
    if (!mail.empty() && !account)
        return AdminGuard::error("unknown account " + mail);
    Json ids = Json::array();
    for (CatalogueFont& font : made) {
        ids.push_back(font.fontId);
        if (account) {
            auto held = std::find_if(account->fonts.begin(), account->fonts.end(),
                                     [&](const AccountFont& f) { return f.fontId == font.fontId; });
            if (held == account->fonts.end())
                account->fonts.push_back(c.state->grant(font.fontId, activate));
        }
        c.state->putFont(std::move(font));
    }
    return AdminGuard::ok({{"fontIds", ids}});
}

AdminReply updateAccount(ServiceContext& c, const Json& body) {
    std::lock_guard lock(c.state->mutex);
    Account* account = c.state->findAccount(textOf(body, "mailAddress"));
    if (!account)
        return AdminGuard::error("unknown account");
    account->password = body.value("password", account->password);
    account->locked = body.value("locked", account->locked);
    account->contractExpired = body.value("contractExpired", account->contractExpired);
    account->notAuthorized = body.value("notAuthorized", account->notAuthorized);
    account->maxDevices = body.value("maxDevices", account->maxDevices);
    account->twoFactorCode = body.value("twoFactorCode", account->twoFactorCode);
    if (body.contains("contractIds"))
        account->contractIds = body["contractIds"];
    if (body.contains("notice")) {
        account->notice.total = body["notice"].value("total", account->notice.total);
        account->notice.existsLatestNotice =
            body["notice"].value("existsLatestNotice", account->notice.existsLatestNotice);
    }
    return AdminGuard::ok();
}

AdminReply describeAccount(ServiceContext& c, const Request& req) {
    std::lock_guard lock(c.state->mutex);
    const Account* account = c.state->findAccount(req.get_param_value("mailAddress"));
    if (!account)
        return AdminGuard::error("unknown account", 404);
    Json devices = Json::array();
    for (const DeviceUse& use : account->devicesInUse)
        devices.push_back(use.deviceId);
    Json fonts = Json::array();
    for (const AccountFont& font : account->fonts)
        fonts.push_back(
            {{"fontId", font.fontId}, {"activate", font.activate}, {"available", font.available}});
    bool pending = false;
    for (const auto& [deviceId, entry] : c.state->pendingTwoFactor)
        pending = pending || entry.mailAddress == ServiceState::key(account->mailAddress);
    return AdminGuard::ok({{"mailAddress", account->mailAddress},
                           {"devicesInUse", devices},
                           {"fonts", fonts},
                           {"pendingTwoFactor", pending}});
}

AdminReply removeDevice(ServiceContext& c, const Json& body) {
    const std::string deviceId = textOf(body, "deviceId");
    std::lock_guard lock(c.state->mutex);
    Account* account = c.state->findAccount(textOf(body, "mailAddress"));
    if (!account)
        return AdminGuard::error("unknown account");
    const auto removed = std::erase_if(
        account->devicesInUse, [&](const DeviceUse& use) { return use.deviceId == deviceId; });
    // "keepTokens": the device leaves the list while its tokens stay valid,
    // as when the web site drops a device between two token checks.
    if (!body.value("keepTokens", false))
        c.state->revokeTokens(account->mailAddress, deviceId);
    return removed ? AdminGuard::ok() : AdminGuard::error("the device is not in use");
}

AdminReply expireTwoFactor(ServiceContext& c, const Json& body) {
    const std::string mail = ServiceState::key(textOf(body, "mailAddress"));
    std::lock_guard lock(c.state->mutex);
    const auto past = Clock::now() - c.state->settings.twoFactorLifetime - std::chrono::seconds(1);
    int expired = 0;
    for (auto& [deviceId, entry] : c.state->pendingTwoFactor) {
        if (entry.mailAddress == mail) {
            entry.issuedAt = past;
            ++expired;
        }
    }
    return AdminGuard::ok({{"expired", expired}});
}

}  // namespace

void AdminRoutes::install(httplib::Server& server, const std::shared_ptr<ServiceContext>& context) {
    const std::shared_ptr<ServiceContext>& c = context;
    server.Post("/admin/fonts/activate", AdminGuard::wrap([c](const Request&, const Json& body) {
                    return fontAction(*c, body, true);
                }));
    server.Post("/admin/fonts/deactivate", AdminGuard::wrap([c](const Request&, const Json& body) {
                    return fontAction(*c, body, false);
                }));
    for (const bool withdraw : {true, false}) {
        server.Post(withdraw ? "/admin/fonts/withdraw" : "/admin/fonts/restore",
                    AdminGuard::wrap([c, withdraw](const Request&, const Json& body) {
                        return AdminGuard::fromOutcome(c->fonts.setWithdrawn(
                            textOf(body, "mailAddress"), textOf(body, "fontId"), withdraw));
                    }));
    }
    server.Post(
        "/admin/fonts/all-uninstall", AdminGuard::wrap([c](const Request&, const Json& body) {
            return AdminGuard::fromOutcome(c->fonts.allUninstall(textOf(body, "mailAddress")));
        }));
    server.Post("/admin/fonts", AdminGuard::wrap([c](const Request&, const Json& body) {
                    return addFonts(*c, body);
                }));
    server.Post("/admin/accounts", AdminGuard::wrap([c](const Request&, const Json& body) {
                    std::string error;
                    std::lock_guard lock(c->state->mutex);
                    return Seed::addAccount(body, *c->state, &error) ? AdminGuard::ok()
                                                                     : AdminGuard::error(error);
                }));
    server.Post("/admin/accounts/update", AdminGuard::wrap([c](const Request&, const Json& body) {
                    return updateAccount(*c, body);
                }));
    server.Get("/admin/accounts", AdminGuard::wrap([c](const Request& req, const Json&) {
                   return describeAccount(*c, req);
               }));
    server.Post("/admin/tokens/expire", AdminGuard::wrap([c](const Request&, const Json& body) {
                    std::lock_guard lock(c->state->mutex);
                    if (!c->state->findAccount(textOf(body, "mailAddress")))
                        return AdminGuard::error("unknown account");
                    c->state->expireTokens(textOf(body, "mailAddress"), body.value("access", true),
                                           body.value("refresh", false));
                    return AdminGuard::ok();
                }));
    server.Post("/admin/devices/remove", AdminGuard::wrap([c](const Request&, const Json& body) {
                    return removeDevice(*c, body);
                }));
    server.Post("/admin/two-factor/expire", AdminGuard::wrap([c](const Request&, const Json& body) {
                    return expireTwoFactor(*c, body);
                }));
}

}  // namespace tavo::refservice
