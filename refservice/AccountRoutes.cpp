#include "refservice/AccountRoutes.h"

#include <map>

#include "refservice/Http.h"
#include "refservice/RouteBinder.h"
#include "refservice/ServiceContext.h"

namespace tavo::refservice {

namespace {

// Screen name -> page title. The first two are reachable before sign-in.
const std::map<std::string, std::string> kScreens = {
    {"password-reset", "Reset your password"},
    {"member-registration", "Become a member"},
    {"help", "Help"},
    {"home", "Your account"},
    {"notice", "Notices"},
    {"font-list", "Font list"},
    {"font-under-contract-list", "Fonts under contract"},
};

bool openScreen(const std::string& name) {
    return name == "password-reset" || name == "member-registration";
}

std::string page(const std::string& title) {
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title +
           "</title></head>\n<body><h1>" + title +
           "</h1><p>This page stands in for the font service's web site.</p></body></html>\n";
}

}  // namespace

void AccountRoutes::install(RouteBinder& routes, const std::shared_ptr<ServiceContext>& context) {
    const std::shared_ptr<ServiceContext>& c = context;

    routes.getAuthorised("/api/v1/customer", [c](const httplib::Request&, const Caller& caller) {
        std::lock_guard lock(c->state->mutex);
        const Account* account = c->state->findAccount(caller.mailAddress);
        if (!account)
            return Outcome::failure(kNotAuthorizedAccount, "the account is not authorized");
        return Outcome::success({{"mailAddress", account->mailAddress},
                                 {"lastName", account->lastName},
                                 {"firstName", account->firstName}});
    });
    routes.getAuthorised("/api/v1/notice", [c](const httplib::Request&, const Caller& caller) {
        std::lock_guard lock(c->state->mutex);
        const Account* account = c->state->findAccount(caller.mailAddress);
        if (!account)
            return Outcome::failure(kNotAuthorizedAccount, "the account is not authorized");
        return Outcome::success({{"total", account->notice.total},
                                 {"existsLatestNotice", account->notice.existsLatestNotice}});
    });
    for (const auto& [name, title] : kScreens) {
        const std::string path = "/api/v1/screens/" + name + "/url";
        auto answer = [c, name = name] {
            return Outcome::success({{"url", c->apiBaseUrl + "/pages/" + name}});
        };
        if (openScreen(name))
            routes.getOpen(path, [answer](const httplib::Request&) { return answer(); });
        else
            routes.getAuthorised(
                path, [answer](const httplib::Request&, const Caller&) { return answer(); });
    }
    routes.get(R"(/pages/([a-z-]+))", [](const httplib::Request& req, httplib::Response& res) {
        auto screen = kScreens.find(req.matches[1].str());
        if (screen == kScreens.end()) {
            res.status = 404;
            res.set_content(page("Not found"), "text/html; charset=utf-8");
            return;
        }
        res.set_content(page(screen->second), "text/html; charset=utf-8");
    });
    routes.get("/help", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(page("Help"), "text/html; charset=utf-8");
    });
}

}  // namespace tavo::refservice
