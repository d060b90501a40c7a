#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "foundation/Clock.h"
#include "foundation/SerialQueue.h"
#include "service/AuthModels.h"
#include "service/DownloadTask.h"
#include "service/HttpTransport.h"
#include "service/Response.h"
#include "service/ResultCodes.h"
#include "service/ServerSentEventNotification.h"

namespace tavo {

inline constexpr const char* kAPIV1Path = "/api/v1";
inline constexpr const char* kSSEPath = "/notifications";
inline constexpr const char* kHttpGet = "GET";
inline constexpr const char* kHttpPost = "POST";
inline constexpr const char* kHttpDelete = "DELETE";
inline constexpr const char* kPrefixBearer = "Bearer";
inline constexpr const char* kHeaderDeviceId = "X-TAVO-DEVICEID";
inline constexpr const char* kHeaderAuthorization = "Authorization";
inline constexpr const char* kAPIClientEndpoint = TAVO_API_ENDPOINT;
inline constexpr const char* kSSEEndpoint = TAVO_SSE_ENDPOINT;

using ApiParams = std::map<std::string, std::string>;
using ApiHeaders = std::map<std::string, std::string>;

// The one HTTP client of a program: server addresses, credentials, the
// login and online state, and every exchange with the delivery API server.
// Flags are atomic and texts are guarded, so any thread may read and write
// them; they stay advisory, as the application treats them. What the
// application knows of its session beyond that is kept above this layer.
class ApiClient {
public:
    static ApiClient& defaultApiClient();
    ApiClient();  // a client of its own (tests, tools); programs use the default one

    // Back to the state at creation: no queue, signed out, offline.
    void init();

    // ---- properties
    std::string apiEndpoint() const;
    void setApiEndpoint(const std::string& value);
    std::string sseEndpoint() const;
    void setSseEndpoint(const std::string& value);
    std::string userAgent() const;
    void setUserAgent(const std::string& value);
    std::optional<std::string> accessToken() const;
    void setAccessToken(const std::optional<std::string>& value);
    std::optional<std::string> refreshToken() const;
    void setRefreshToken(const std::optional<std::string>& value);
    std::optional<std::string> deviceId() const;
    void setDeviceId(const std::optional<std::string>& value);
    std::optional<std::string> deviceKey() const;
    void setDeviceKey(const std::optional<std::string>& value);

    std::atomic<double> timeoutIntervalForRequest{0};
    std::atomic<bool> isLoginStatus{false};
    std::atomic<bool> isOnlineStatusApi{false};
    std::atomic<bool> isOnlineStatusSse{false};
    bool isOnlineStatus() const { return isOnlineStatusSse && isOnlineStatusApi; }

    std::shared_ptr<SerialQueue> serialDispatchQueue() const;
    void setSerialDispatchQueue(std::shared_ptr<SerialQueue> queue);

    // ---- exchanges
    // None for a method other than GET, POST and DELETE.
    std::optional<HttpRequest> buildRequestAtPath(const std::string& path,
                                                  const std::string& method,
                                                  const std::optional<ApiParams>& param,
                                                  const std::optional<ApiHeaders>& header) const;
    // Blocks until the exchange is over: renews an expired access token once
    // and sends the request once more, and updates the online state.
    Response requestAtPath(const std::string& path, const std::string& method,
                           const std::optional<ApiParams>& param,
                           const std::optional<ApiHeaders>& header);
    // Returns at once; the handler gets the answer on a transfer thread.
    void asyncRequestAtPath(const std::string& path, const std::string& method,
                            const std::optional<ApiParams>& param,
                            const std::optional<ApiHeaders>& header,
                            std::function<void(const Response&)> completionHandler);
    // Blocks; the file's bytes come back in contentData.
    Response downloadAtPath(const std::string& path, const std::string& method,
                            const std::optional<ApiParams>& param,
                            const std::optional<ApiHeaders>& header);
    // Downloads into a temporary file; the handler gets (file, answer, error).
    void asyncDownloadAtPath(const std::string& path, const std::string& method,
                             const std::optional<ApiParams>& param,
                             const std::optional<ApiHeaders>& header,
                             DownloadCompletionHandler completionHandler);
    // Downloads into a temporary file reporting to the delegate on the queue
    // it names, or else on the downloads' delegate queue (one serial queue
    // for every such download).
    std::shared_ptr<DownloadTask> asyncDownloadAtPath(const std::string& path,
                                                      const std::string& method,
                                                      const std::optional<ApiParams>& param,
                                                      const std::optional<ApiHeaders>& header,
                                                      std::shared_ptr<DownloadDelegate> delegate);
    // Queues a download to run right after ahead's transfer, on its thread
    // and connection, when that transfer brought a complete answer that
    // accepts takes (called on the transfer thread); it then reports to its
    // delegate as any download. None when ahead's transfer is over already
    // or has a download queued behind it: start it the usual way.
    std::shared_ptr<DownloadTask> asyncDownloadAtPathAfter(
        const DownloadTask& ahead, const std::string& path, const std::string& method,
        const std::optional<ApiParams>& param, const std::optional<ApiHeaders>& header,
        std::shared_ptr<DownloadDelegate> delegate,
        std::function<bool(const HttpUrlResponse&)> accepts);
    // The same for an absolute address, without any added header.
    std::shared_ptr<DownloadTask> asyncDownloadWithURL(const std::string& url,
                                                       std::shared_ptr<DownloadDelegate> delegate);

    // Ends every exchange of this client in progress at once and refuses
    // later ones (a cancellation error, kURLErrorCancelled): for a program
    // that is ending. Downloads end with their file removed.
    void stopTransfers();
    bool transfersStopped() const { return transferStop_->stopped(); }
    // Waits until no download of this client is in flight (its file removed
    // and its delegate told), at most timeout; then removes the files of the
    // downloads still running. True when every one ended in time.
    bool waitForDownloads(Clock::Duration timeout);
    // Where download bodies are written: the "Font" folder of the user
    // area's download folder, so they never leave the user's own places.
    static std::optional<std::string> downloadFolder();

    // POST /token with the refresh token; the transport error goes to error.
    TokenBase updateTokenPrivate(const std::optional<std::string>& refreshToken,
                                 std::optional<Error>* error);

private:
    struct Downloads;  // the downloads in flight and their files
    struct DownloadJob;
    std::shared_ptr<Downloads> downloads();
    std::shared_ptr<DownloadTask> startDownload(const std::optional<HttpRequest>& request,
                                                std::shared_ptr<DownloadDelegate> delegate);
    static void runDownloads(DownloadJob job, const std::shared_ptr<Downloads>& state);
    void updateOnlineState(const Response& response, const std::string& path);

    mutable std::mutex mutex_;
    std::string apiEndpoint_;
    std::string sseEndpoint_;
    std::string userAgent_;
    std::optional<std::string> accessToken_;
    std::optional<std::string> refreshToken_;
    std::optional<std::string> deviceId_;
    std::optional<std::string> deviceKey_;
    std::shared_ptr<SerialQueue> serialDispatchQueue_;
    std::shared_ptr<TransferStop> transferStop_ = std::make_shared<TransferStop>();
    std::shared_ptr<Downloads> downloads_;
};

}  // namespace tavo
