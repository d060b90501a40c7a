#pragma once

#include "service/AccountModels.h"
#include "service/ApiEndpoint.h"

namespace tavo {

// Notices of the service.
class NoticeApi : public ApiEndpoint {
public:
    using ApiEndpoint::ApiEndpoint;

    NoticeBase getNoticeWithError(std::optional<Error>* error);
    ScreensBase getScreensNoticeUrlWithError(std::optional<Error>* error);
    void getNoticeAsync(Handler<NoticeBase> handler);
    void getScreensNoticeUrlAsync(Handler<ScreensBase> handler);
};

}  // namespace tavo
