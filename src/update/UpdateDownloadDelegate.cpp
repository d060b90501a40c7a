#include "update/UpdateDownloadDelegate.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>

#include "foundation/FileUtil.h"
#include "foundation/Format.h"
#include "foundation/Log.h"
#include "service/ResultCodes.h"
#include "update/ProgramController.h"
#include "update/UpdateSignature.h"

namespace tavo {

namespace {

constexpr std::size_t kLargestArchive = 512u << 20;
constexpr mode_t kArchiveMode = 0644;

}  // namespace

UpdateDownloadDelegate::UpdateDownloadDelegate(std::weak_ptr<ProgramController> controller,
                                               std::string version, std::string signature)
    : controller_(std::move(controller)),
      version_(std::move(version)),
      signature_(std::move(signature)) {}

void UpdateDownloadDelegate::didWriteData(std::int64_t, std::int64_t totalBytesWritten,
                                          std::int64_t totalBytesExpectedToWrite) {
    if (auto controller = controller_.lock())
        controller->reportDownloadProgress(totalBytesWritten, totalBytesExpectedToWrite);
}

void UpdateDownloadDelegate::didFinishDownloadingToURL(const std::string& location,
                                                       const HttpUrlResponse& response) {
    auto controller = controller_.lock();
    if (!controller)
        return;
    const std::string target = controller->getTemporaryUpdaterPath(version_);
    if (response.statusCode != 200) {
        ILog("Failed to save updater: file: %@: Description: [%@]", target,
             format("status %ld", response.statusCode));
        return;
    }
    Error error;
    const auto data = FileUtil::readFile(location, kLargestArchive, &error);
    if (!data) {
        ILog("Failed to save updater: file: %@: Description: [%@]", target, error.text());
        return;
    }
    if (const std::string problem =
            UpdateSignature::problem(*data, signature_, controller->updatePublicKey());
        !problem.empty()) {
        // The downloaded file goes with the download; nothing is kept.
        ELog("code=%@, message=%@: file: %@: Description: [%@]", kMsgE2010, kMsgE2010Text, target,
             problem);
        return;
    }
    const bool written = FileUtil::writeFile(UpdateSignature::signaturePath(target), signature_,
                                             true, kArchiveMode, &error) &&
                         FileUtil::writeFile(target, *data, true, kArchiveMode, &error);
    if (!written) {
        ILog("Failed to save updater: file: %@: Description: [%@]", target, error.text());
        removeTarget(target);
        return;
    }
    controller->saveVersionUserConfig(version_);
    ILog("Downloaded updater: %@", target);
}

void UpdateDownloadDelegate::didCompleteWithError(const std::optional<Error>& error,
                                                  const std::optional<HttpUrlResponse>&) {
    auto controller = controller_.lock();
    if (!controller)
        return;
    if (error) {
        const std::string target = controller->getTemporaryUpdaterPath(version_);
        ILog("Failed to download updater: file: %@: Description: [%@]", target, error->text());
        if (FileUtil::exists(target))
            removeTarget(target);
    }
    controller->setUpdaterDownloading(false);
}

void UpdateDownloadDelegate::removeTarget(const std::string& target) const {
    std::error_code ec;
    std::filesystem::remove(target, ec);
    std::error_code sigEc;
    std::filesystem::remove(UpdateSignature::signaturePath(target), sigEc);
    ILog("Cleaning temporary: file: %@: Description: [%@]", target,
         ec ? ec.message() : std::string("unknown"));
}

}  // namespace tavo
