#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "service/DownloadTask.h"

namespace tavo {

class FontManagementController;

// Receives one font file of the download chain: checks the answer, starts
// the next download while it installs the file into the user's font folder,
// marks the record "installed", and when the task ends goes on, retries once
// after a suspected token expiry, or gives the chain up.
class FontDownloadDelegate : public DownloadDelegate {
public:
    // displayName: the font's name in the progress list.
    FontDownloadDelegate(std::weak_ptr<FontManagementController> controller,
                         std::string displayName);

    // The chain's own queue, so that its next step needs no hop.
    std::shared_ptr<SerialQueue> delegateQueue() const override;
    bool wantsProgress() const override { return false; }
    void didFinishDownloadingToURL(const std::string& location,
                                   const HttpUrlResponse& response) override;
    void didCompleteWithError(const std::optional<Error>& error,
                              const std::optional<HttpUrlResponse>& response) override;

    // Whether an answer brings a font file to install: 200 and
    // "application/octet-stream".
    static bool bringsFontFile(const HttpUrlResponse& response);

    // Whether a failed answer looks like an access token that expired in
    // flight (400, "application/json", file error -1100, not retried yet);
    // contentType receives the answer's Content-Type.
    static bool isSuspeciousExpiredToken(const std::optional<HttpUrlResponse>& response,
                                         long httpStatus, long errorCode, std::string* contentType,
                                         std::atomic<int>& retryDownloadFont);

private:
    void fail() { isDownloadTaskError = true; }
    void handleRefusal(const std::string& fontId, const std::string& location, long status);
    void install(const std::string& fontId, const std::string& location,
                 const HttpUrlResponse& response);

    std::weak_ptr<FontManagementController> controller_;
    std::string displayName_;
    std::atomic<bool> isDownloadTaskError{false};
};

}  // namespace tavo
