#pragma once

#include <memory>
#include <string>

#include "service/DownloadTask.h"

namespace tavo {

class ProgramController;

// The download of one update archive: checks the archive against the
// signature fetched before it, then writes the archive and its signature
// beside it atomically and records the version, in that order, so a
// half-written or unsigned archive is never offered.
class UpdateDownloadDelegate : public DownloadDelegate {
public:
    UpdateDownloadDelegate(std::weak_ptr<ProgramController> controller, std::string version,
                           std::string signature);

    void didWriteData(std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                      std::int64_t totalBytesExpectedToWrite) override;
    void didFinishDownloadingToURL(const std::string& location,
                                   const HttpUrlResponse& response) override;
    void didCompleteWithError(const std::optional<Error>& error,
                              const std::optional<HttpUrlResponse>& response) override;

private:
    void removeTarget(const std::string& target) const;

    std::weak_ptr<ProgramController> controller_;
    std::string version_;
    std::string signature_;
};

}  // namespace tavo
