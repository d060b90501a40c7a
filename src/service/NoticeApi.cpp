#include "service/NoticeApi.h"

namespace tavo {

NoticeBase NoticeApi::getNoticeWithError(std::optional<Error>* error) {
    return call<NoticeBase>(v1("/notice"), kHttpGet, std::nullopt, authorisedHeaders(), error);
}

ScreensBase NoticeApi::getScreensNoticeUrlWithError(std::optional<Error>* error) {
    return call<ScreensBase>(v1("/screens/notice/url"), kHttpGet, std::nullopt, authorisedHeaders(), error);
}

void NoticeApi::getNoticeAsync(Handler<NoticeBase> handler) {
    callAsync<NoticeBase>(v1("/notice"), kHttpGet, std::nullopt, authorisedHeaders(), std::move(handler));
}

void NoticeApi::getScreensNoticeUrlAsync(Handler<ScreensBase> handler) {
    callAsync<ScreensBase>(v1("/screens/notice/url"), kHttpGet, std::nullopt, authorisedHeaders(),
                           std::move(handler));
}

}  // namespace tavo
