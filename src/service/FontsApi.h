#pragma once

#include "service/AccountModels.h"
#include "service/ApiEndpoint.h"
#include "service/FontModels.h"

namespace tavo {

inline constexpr const char* kContainsAvailableDeletedFonts = "availableFonts,deletedFonts";
inline constexpr int kLimit = 1000;
inline constexpr int kOffset = 0;

// The account's font list and the font files.
class FontsApi : public ApiEndpoint {
public:
    using ApiEndpoint::ApiEndpoint;

    FontsBase getFontsWithContains(const std::optional<std::string>& contains, std::optional<long> limit,
                                   std::optional<long> offset, std::optional<Error>* error);
    // The font file, reported to the delegate on the downloads' delegate queue.
    std::shared_ptr<DownloadTask> downloadFontsAsyncWithFontId(const std::string& fontId,
                                                               std::shared_ptr<DownloadDelegate> delegate);
    // The same, queued behind the download ahead, to start on its transfer
    // thread once its answer is in, when accepts takes that answer. None when
    // it cannot be queued there.
    std::shared_ptr<DownloadTask> queueFontDownloadAfter(
        const DownloadTask& ahead, const std::string& fontId,
        std::shared_ptr<DownloadDelegate> delegate,
        std::function<bool(const HttpUrlResponse&)> accepts);
    void downloadFontsAsyncWithFontId(const std::string& fontId, DownloadCompletionHandler handler);
    // The font file's bytes (in contentData); error answers come as they are.
    Response downloadFontsWithFontId(const std::string& fontId, std::optional<Error>* error);
    ScreensBase getScreensFontListUrlWithError(std::optional<Error>* error);
    ScreensBase getScreensFontUnderContractListUrlWithError(std::optional<Error>* error);

    void getFontsAsyncWithContains(const std::optional<std::string>& contains, std::optional<long> limit,
                                   std::optional<long> offset, Handler<FontsBase> handler);
    void getScreensFontListUrlAsync(Handler<ScreensBase> handler);
    void getScreensFontUnderContractListUrlAsync(Handler<ScreensBase> handler);

    // "/api/v1/fonts/<id>", the id inserted as it is.
    static std::string fontPath(const std::string& fontId);
};

}  // namespace tavo
