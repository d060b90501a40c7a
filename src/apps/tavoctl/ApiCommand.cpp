#include "ApiCommand.h"

#include <algorithm>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>

#include "foundation/Config.h"
#include "foundation/Const.h"
#include "platform/SystemInfo.h"
#include "service/ClientAppsApi.h"
#include "service/ContractsApi.h"
#include "service/CustomerApi.h"
#include "service/FontsApi.h"
#include "service/LoginApi.h"
#include "service/NoticeApi.h"
#include "service/SecretMasking.h"

namespace tavo::ctl {

namespace {

using Json = nlohmann::json;
using Args = std::map<std::string, std::string>;

struct Operation {
    std::vector<std::string> params;
    std::function<Json(ApiClient&, const Args&, std::optional<Error>*)> call;
};

std::optional<std::string> arg(const Args& args, const std::string& name) {
    const auto it = args.find(name);
    return it == args.end() ? std::nullopt : std::optional<std::string>(it->second);
}

std::optional<long> number(const Args& args, const std::string& name) {
    const auto text = arg(args, name);
    if (!text)
        return std::nullopt;
    try {
        return std::stol(*text);
    } catch (...) {
        return std::nullopt;
    }
}

template <typename Base>
Json json(const Base& base) {
    return BaseModel::toJson(base);
}

// Every operation, named as the endpoint classes name it.
const std::map<std::string, Operation>& operations() {
    static const std::map<std::string, Operation> table = {
        {"login", {{"mailAddress", "password"}, [](ApiClient& c, const Args& a, auto* e) {
             return json(LoginApi(c).loginWithMailAddress(arg(a, "mailAddress"), arg(a, "password"), e));
         }}},
        {"deviceId", {{"mailAddress", "password", "hostname", "osUserName", "deviceKey"},
                      [](ApiClient& c, const Args& a, auto* e) {
                          return json(LoginApi(c).deviceIdWithMailAddress(
                              arg(a, "mailAddress"), arg(a, "password"), arg(a, "hostname"),
                              arg(a, "osUserName"), arg(a, "deviceKey"), e));
                      }}},
        {"auth2fact", {{"twoFactCode"}, [](ApiClient& c, const Args& a, auto* e) {
             return json(LoginApi(c).auth2FactWithTwoFactCode(arg(a, "twoFactCode"), e));
         }}},
        {"devices", {{}, [](ApiClient& c, const Args&, auto* e) { return json(LoginApi(c).getDevicesWithError(e)); }}},
        {"device-out-of-use", {{"targetDeviceId"}, [](ApiClient& c, const Args& a, auto* e) {
             return json(LoginApi(c).deviceOutOfUseWithTargetDeviceId(arg(a, "targetDeviceId"), e));
         }}},
        {"device-in-use", {{}, [](ApiClient& c, const Args&, auto* e) { return json(LoginApi(c).deviceInUseWithError(e)); }}},
        {"logout", {{}, [](ApiClient& c, const Args&, auto* e) { return json(LoginApi(c).logoutWithError(e)); }}},
        {"token", {{"refreshToken"}, [](ApiClient& c, const Args& a, auto* e) {
             return json(LoginApi(c).tokenWithRefreshToken(arg(a, "refreshToken").has_value() ? arg(a, "refreshToken") : c.refreshToken(), e));
         }}},
        {"customer", {{}, [](ApiClient& c, const Args&, auto* e) { return json(CustomerApi(c).getCustomerWithError(e)); }}},
        {"notice", {{}, [](ApiClient& c, const Args&, auto* e) { return json(NoticeApi(c).getNoticeWithError(e)); }}},
        {"install-fonts", {{"contains", "limit", "offset"}, [](ApiClient& c, const Args& a, auto* e) {
             return json(FontsApi(c).getFontsWithContains(arg(a, "contains"), number(a, "limit"), number(a, "offset"), e));
         }}},
        {"client-apps-version", {{}, [](ApiClient& c, const Args&, auto* e) {
             return json(ClientAppsApi(c).getClientAppsVersionWithError(e));
         }}},
        {"client-apps-update-info", {{}, [](ApiClient& c, const Args&, auto* e) {
             return json(ClientAppsApi(c).getClientAppsUpdateInfoWithError(e));
         }}},
        {"screens-password-reset", {{}, [](ApiClient& c, const Args&, auto* e) { return json(LoginApi(c).getScreensPasswordResetUrlWithError(e)); }}},
        {"screens-member-registration", {{}, [](ApiClient& c, const Args&, auto* e) { return json(LoginApi(c).getScreensMemberRegistrationUrlWithError(e)); }}},
        {"screens-help", {{}, [](ApiClient& c, const Args&, auto* e) { return json(CustomerApi(c).getScreensHelpUrlWithError(e)); }}},
        {"screens-home", {{}, [](ApiClient& c, const Args&, auto* e) { return json(ContractsApi(c).getScreensHomeUrlWithError(e)); }}},
        {"screens-notice", {{}, [](ApiClient& c, const Args&, auto* e) { return json(NoticeApi(c).getScreensNoticeUrlWithError(e)); }}},
        {"screens-font-list", {{}, [](ApiClient& c, const Args&, auto* e) { return json(FontsApi(c).getScreensFontListUrlWithError(e)); }}},
        {"screens-font-under-contract-list", {{}, [](ApiClient& c, const Args&, auto* e) {
             return json(FontsApi(c).getScreensFontUnderContractListUrlWithError(e));
         }}},
    };
    return table;
}

int usage(std::ostream& err) {
    err << "usage: tavoctl api [--device-id ID] OPERATION [name=value ...]\noperations:\n";
    for (const auto& [name, op] : operations()) {
        err << "  " << name;
        for (const auto& p : op.params)
            err << " [" << p << "=...]";
        err << "\n";
    }
    return 2;
}

}  // namespace

static int runOperation(const std::vector<std::string>& args, ApiClient& client, std::ostream& out,
                        std::ostream& err);

void configureClientFromUserConfig(ApiClient& client) {
    client.setApiEndpoint(Config::deliveServerName());
    client.setSseEndpoint(Config::noticeServerName());
    client.setUserAgent(Const::userAgent(platform::SystemInfo::osVersionText()));
    client.timeoutIntervalForRequest = 10;
    const auto config = Config::userConfig();
    if (!config)
        return;
    if (auto id = Config::decryptedValue(*config, kConfigDeviceId); id && !id->empty())
        client.setDeviceId(*id);
    const auto refresh = Config::decryptedValue(*config, kConfigRefreshTokens);
    if (!refresh || refresh->empty())
        return;
    client.setRefreshToken(*refresh);
    client.isLoginStatus = true;
    const TokenBase token = client.updateTokenPrivate(*refresh, nullptr);
    if (token.resultCode() == kHttpResponceCodeSucceeded && token.data && token.data->accessToken)
        client.setAccessToken(*token.data->accessToken);
}

int runApiCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty())
        return usage(err);
    ApiClient& client = ApiClient::defaultApiClient();
    configureClientFromUserConfig(client);
    return runApiCommand(args, client, out, err);
}

int runApiCommand(const std::vector<std::string>& args, ApiClient& client, std::ostream& out,
                  std::ostream& err) {
    std::vector<std::string> rest = args;
    // --device-id ID: act as that device (the stored one otherwise).
    if (rest.size() >= 2 && rest[0] == "--device-id") {
        client.setDeviceId(rest[1]);
        rest.erase(rest.begin(), rest.begin() + 2);
    }
    return runOperation(rest, client, out, err);
}

static int runOperation(const std::vector<std::string>& args, ApiClient& client, std::ostream& out,
                        std::ostream& err) {
    if (args.empty())
        return usage(err);
    const auto it = operations().find(args[0]);
    if (it == operations().end())
        return usage(err);
    Args values;
    for (size_t i = 1; i < args.size(); ++i) {
        const auto eq = args[i].find('=');
        const std::string name = args[i].substr(0, eq);
        const auto& known = it->second.params;
        if (eq == std::string::npos || std::find(known.begin(), known.end(), name) == known.end()) {
            err << "tavoctl api " << args[0] << ": unknown argument " << args[i] << "\n";
            return usage(err);
        }
        values[name] = args[i].substr(eq + 1);
    }
    std::optional<Error> error;
    const Json envelope = it->second.call(client, values, &error);
    if (error) {
        err << "tavoctl api " << args[0] << ": " << error->text() << "\n";
        return 1;
    }
    // Tokens and keys in answers are shown masked.
    out << SecretMasking::maskJson(envelope.dump()) << "\n";
    const long code = envelope.value("code", -1L);
    return code == kHttpResponceCodeSucceeded || code == kHttpResponceCodeTwoFARequired ? 0 : 1;
}

}  // namespace tavo::ctl
