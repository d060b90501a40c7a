#include "service/FontsApi.h"

namespace tavo {

namespace {

ApiParams fontsParams(const std::optional<std::string>& contains, std::optional<long> limit,
                      std::optional<long> offset) {
    auto text = [](std::optional<long> n) {
        return n ? std::optional<std::string>(std::to_string(*n)) : std::nullopt;
    };
    return givenParams({{"contains", contains}, {"limit", text(limit)}, {"offset", text(offset)}});
}

}  // namespace

std::string FontsApi::fontPath(const std::string& fontId) {
    return format("%@%@/%@", kAPIV1Path, "/fonts", fontId);
}

FontsBase FontsApi::getFontsWithContains(const std::optional<std::string>& contains,
                                         std::optional<long> limit, std::optional<long> offset,
                                         std::optional<Error>* error) {
    return call<FontsBase>(v1("/install-fonts"), kHttpGet, fontsParams(contains, limit, offset),
                           authorisedHeaders(), error);
}

std::shared_ptr<DownloadTask> FontsApi::downloadFontsAsyncWithFontId(const std::string& fontId,
                                                                     std::shared_ptr<DownloadDelegate> delegate) {
    const std::string path = fontPath(fontId);
    ILog("Request %@", path);
    return apiClient.asyncDownloadAtPath(path, kHttpGet, std::nullopt, authorisedHeaders(), std::move(delegate));
}

std::shared_ptr<DownloadTask> FontsApi::queueFontDownloadAfter(
    const DownloadTask& ahead, const std::string& fontId,
    std::shared_ptr<DownloadDelegate> delegate,
    std::function<bool(const HttpUrlResponse&)> accepts) {
    const std::string path = fontPath(fontId);
    auto task =
        apiClient.asyncDownloadAtPathAfter(ahead, path, kHttpGet, std::nullopt, authorisedHeaders(),
                                           std::move(delegate), std::move(accepts));
    if (task)
        ILog("Request %@", path);
    return task;
}

void FontsApi::downloadFontsAsyncWithFontId(const std::string& fontId, DownloadCompletionHandler handler) {
    const std::string path = fontPath(fontId);
    ILog("Request %@", path);
    apiClient.asyncDownloadAtPath(path, kHttpGet, std::nullopt, authorisedHeaders(), std::move(handler));
}

Response FontsApi::downloadFontsWithFontId(const std::string& fontId, std::optional<Error>* error) {
    const std::string path = fontPath(fontId);
    ILog("Request %@", path);
    Response response = apiClient.downloadAtPath(path, kHttpGet, std::nullopt, authorisedHeaders());
    if (error)
        *error = response.error;
    if (response.contentData && !response.contentData->empty())
        ILog("Response %@ message=succeeded", path);
    return response;
}

ScreensBase FontsApi::getScreensFontListUrlWithError(std::optional<Error>* error) {
    return call<ScreensBase>(v1("/screens/font-list/url"), kHttpGet, std::nullopt, authorisedHeaders(), error);
}

ScreensBase FontsApi::getScreensFontUnderContractListUrlWithError(std::optional<Error>* error) {
    return call<ScreensBase>(v1("/screens/font-under-contract-list/url"), kHttpGet, std::nullopt,
                             authorisedHeaders(), error);
}

void FontsApi::getFontsAsyncWithContains(const std::optional<std::string>& contains,
                                         std::optional<long> limit, std::optional<long> offset,
                                         Handler<FontsBase> handler) {
    callAsync<FontsBase>(v1("/install-fonts"), kHttpGet, fontsParams(contains, limit, offset),
                         authorisedHeaders(), std::move(handler));
}

void FontsApi::getScreensFontListUrlAsync(Handler<ScreensBase> handler) {
    callAsync<ScreensBase>(v1("/screens/font-list/url"), kHttpGet, std::nullopt, authorisedHeaders(),
                           std::move(handler));
}

void FontsApi::getScreensFontUnderContractListUrlAsync(Handler<ScreensBase> handler) {
    callAsync<ScreensBase>(v1("/screens/font-under-contract-list/url"), kHttpGet, std::nullopt,
                           authorisedHeaders(), std::move(handler));
}

}  // namespace tavo
