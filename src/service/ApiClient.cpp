#include "service/ApiClient.h"

#include <nlohmann/json.hpp>

#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "foundation/NotificationCenter.h"
#include "service/OVError.h"
#include "service/ResultCodes.h"
#include "service/SecretMasking.h"

namespace tavo {

namespace {

std::string tokenPath() {
    return std::string(kAPIV1Path) + "/token";
}

// The envelope's result code, or -1 when the body is no JSON object with an
// integer code; and its message.
std::pair<long, std::string> peekEnvelope(const std::optional<std::string>& body) {
    if (!body)
        return {-1, ""};
    const auto json = nlohmann::json::parse(*body, nullptr, false);
    if (!json.is_object())
        return {-1, ""};
    long code = -1;
    if (const auto it = json.find("code"); it != json.end() && it->is_number_integer())
        code = it->get<long>();
    std::string message;
    if (const auto it = json.find("message"); it != json.end() && it->is_string())
        message = it->get<std::string>();
    return {code, message};
}

}  // namespace

ApiClient& ApiClient::defaultApiClient() {
    static ApiClient* client = new ApiClient;  // alive for the whole process
    return *client;
}

ApiClient::ApiClient() {
    init();
}

void ApiClient::init() {
    isLoginStatus = false;
    isOnlineStatusApi = false;
    isOnlineStatusSse = false;
    std::lock_guard lock(mutex_);
    serialDispatchQueue_.reset();
}

#define TAVO_PROPERTY(Type, getter, setter, member) \
    Type ApiClient::getter() const {                \
        std::lock_guard lock(mutex_);               \
        return member;                              \
    }                                               \
    void ApiClient::setter(const Type& value) {     \
        std::lock_guard lock(mutex_);               \
        member = value;                             \
    }

TAVO_PROPERTY(std::string, apiEndpoint, setApiEndpoint, apiEndpoint_)
TAVO_PROPERTY(std::string, sseEndpoint, setSseEndpoint, sseEndpoint_)
TAVO_PROPERTY(std::string, userAgent, setUserAgent, userAgent_)
TAVO_PROPERTY(std::optional<std::string>, accessToken, setAccessToken, accessToken_)
TAVO_PROPERTY(std::optional<std::string>, refreshToken, setRefreshToken, refreshToken_)
TAVO_PROPERTY(std::optional<std::string>, deviceId, setDeviceId, deviceId_)
TAVO_PROPERTY(std::optional<std::string>, deviceKey, setDeviceKey, deviceKey_)
#undef TAVO_PROPERTY

std::shared_ptr<SerialQueue> ApiClient::serialDispatchQueue() const {
    std::lock_guard lock(mutex_);
    return serialDispatchQueue_;
}

void ApiClient::setSerialDispatchQueue(std::shared_ptr<SerialQueue> queue) {
    std::lock_guard lock(mutex_);
    serialDispatchQueue_ = std::move(queue);
}

std::optional<HttpRequest> ApiClient::buildRequestAtPath(
    const std::string& path, const std::string& method, const std::optional<ApiParams>& param,
    const std::optional<ApiHeaders>& header) const {
    HttpRequest request;
    request.method = method;
    if (method == kHttpPost || method == kHttpDelete) {
        request.url = apiEndpoint() + path;
        request.headers.emplace_back("Accept", "application/json");
        request.headers.emplace_back("Content-Type", "application/json; charset=UTF-8");
        if (param) {
            request.body = nlohmann::json(*param).dump(2);
            request.hasBody = true;
            request.headers.emplace_back("Content-Length",
                                         format("%ld", static_cast<long>(request.body.size())));
            ILog("request body: [%@]", SecretMasking::maskJson(request.body));
        }
    } else if (method == kHttpGet) {
        std::string query;
        for (const auto& [key, value] : param.value_or(ApiParams{}))
            query += format("%@=%@&", key, value);
        if (!query.empty())
            query.pop_back();
        request.url =
            query.empty() ? apiEndpoint() + path : format("%@%@?%@", apiEndpoint(), path, query);
        ILog("request url: [%@]", request.url);
        request.headers.emplace_back("Accept", "application/json");
    } else {
        return std::nullopt;
    }
    request.headers.emplace_back("User-Agent", userAgent());
    for (const auto& [name, value] : header.value_or(ApiHeaders{})) {
        request.headers.emplace_back(name, value);
        TAVO_DLOG("request header: %@ %@", name, SecretMasking::maskHeader(name, value));
    }
    request.timeoutInterval = timeoutIntervalForRequest;
    request.stop = transferStop_;
    return request;
}

Response ApiClient::requestAtPath(const std::string& path, const std::string& method,
                                  const std::optional<ApiParams>& param,
                                  const std::optional<ApiHeaders>& header) {
    std::optional<ApiHeaders> headers = header;
    const bool hadAuthorization = header && header->count(kHeaderAuthorization);
    const bool isTokenPath = path == tokenPath();
    int attempt = 1;
    bool refreshed = false;
    Response response;
    for (;;) {
        const auto request = buildRequestAtPath(path, method, param, headers);
        if (!request) {
            response = Response{};
            response.error = Error{-1002, "NSURLErrorDomain", "unsupported method " + method};
            break;
        }
        response = HttpTransport::perform(*request);
        response.contentData.reset();
        TAVO_DLOG(
            "response.error.code = %ld, retry = %d, token = %d, response.body = (%@): "
            "Description(api): [%@]",
            response.error ? response.error->code : 0L, refreshed ? 1 : 0, isTokenPath ? 1 : 0,
            response.body ? "has data" : "nil",
            response.error ? response.error->description : std::string("nil"));

        bool repeat = false;
        if (!isTokenPath && !refreshed && response.body) {
            const auto [code, message] = peekEnvelope(response.body);
            ILog("intermediate code = %ld", code);
            if (code == kHttpResponceCodeAccessTokenExpired) {
                ILog("Response %@ message=%@", path, message);
                std::optional<Error> refreshError;
                const TokenBase base = updateTokenPrivate(refreshToken(), &refreshError);
                const long result = base.code ? static_cast<long>(*base.code) : -1L;
                ILog("retry error: base.code=%ld: Description(api): [%@]", result,
                     refreshError ? refreshError->description : std::string("unknown"));
                if (!refreshError && result == kHttpResponceCodeSucceeded) {
                    const auto token = base.data ? base.data->accessToken : std::nullopt;
                    if (token && !token->empty()) {
                        ILog("%@", "Response updated access token");
                        setAccessToken(*token);
                    } else {
                        ILog("%@", "Response has empty access token");
                    }
                    if (hadAuthorization) {
                        (*headers)[kHeaderAuthorization] =
                            format("%@ %@", kPrefixBearer, accessToken().value_or(""));
                        ILog("Bearer is replaced new access token; [%@]",
                             SecretMasking::maskHeader(kHeaderAuthorization,
                                                       (*headers)[kHeaderAuthorization]));
                    } else {
                        ILog("%@", "no Bearer");
                    }
                } else {
                    ILog("failed to refresh access token: code=%ld: Description(api): [%@]", result,
                         refreshError ? refreshError->text() : std::string("-"));
                    if (refreshError) {
                        ELog("code=%ld, message=%@ (retry token)", refreshError->code,
                             "An network error occurs.");
                    } else {
                        const std::string text = base.message.value_or("(none)");
                        ELog("code=%ld, message=%@ (retry token)", result, text);
                        MainQueue::main().async([result, text] {
                            NotificationCenter::defaultCenter().post(
                                kOVErrorNotificationKeyErrorEvent,
                                {{kOVErrorUserInfoKeyCode, format("%ld", result)},
                                 {kOVErrorUserInfoKeyMessage, text},
                                 {kOVErrorUserInfoKeyError, std::string("nil")}});
                        });
                    }
                }
                ILog("Request %@", path);
                refreshed = true;
                repeat = true;
            }
        }
        if (repeat && attempt == 1) {
            attempt = 2;
            continue;
        }
        break;
    }
    updateOnlineState(response, path);
    TAVO_DLOG("Response %@ %@", path, SecretMasking::maskJson(response.body.value_or("")));
    if (response.error)
        ILog("Error Descriptions(api): [%@]", response.error->text());
    return response;
}

void ApiClient::updateOnlineState(const Response& response, const std::string& path) {
    const bool wasOnline = isOnlineStatus();
    const long status = response.statusCode();
    if (response.httpUrlResponse &&
        (status == kHttpStatusCodeSucceeded || status == kHttpStatusCodeBadRequest)) {
        isOnlineStatusApi = true;
        std::string suffix;
        if (!wasOnline && isOnlineStatus()) {
            NotificationCenter::defaultCenter().post(kSSENotificationKeyServerSentEvent,
                                                     {{kPCUserInfoKeyOpen, true}});
            suffix = ". moved to online mode";
        }
        ILog("code=0, message=%@%@, path: %@", "connection succeeded", suffix, path);
        return;
    }
    isOnlineStatusApi = false;
    const std::string suffix = isLoginStatus && !wasOnline ? "" : " Move to offline mode.";
    if (!response.httpUrlResponse)
        ELog("code=%@, message=%@%@, path: %@", kMsgE0001, kMsgE0001Text, suffix, path);
    else
        ELog("code=%@, message=%@%@, path: %@", kMsgE0003, "a server error has occurred.", suffix,
             path);
}

TokenBase ApiClient::updateTokenPrivate(const std::optional<std::string>& token,
                                        std::optional<Error>* error) {
    const std::string path = tokenPath();
    ApiParams params;
    if (token)
        params["refreshToken"] = *token;
    std::optional<ApiHeaders> headers;
    if (const auto id = deviceId())
        headers = ApiHeaders{{kHeaderDeviceId, *id}};
    ILog("Request %@", path);
    const Response response = requestAtPath(path, kHttpPost, params, headers);
    if (response.error)
        ILog("code=%xd, message=%@, path=%@: Description(api): [%@]", response.error->code,
             "An network error occurs.", path, *response.error);
    if (error)
        *error = response.error;
    return TokenBase::initWithJson(response.body, path);
}

}  // namespace tavo
