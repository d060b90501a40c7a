#include "fonts/FontDownloadDelegate.h"

#include <unistd.h>

#include "fontid/FontIdReader.h"
#include "fonts/FontFileName.h"
#include "fonts/FontInstaller.h"
#include "fonts/FontManagementController.h"
#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "foundation/Log.h"
#include "service/ApiClient.h"
#include "service/FontsApi.h"
#include "service/OVError.h"

namespace tavo {

using Json = nlohmann::json;

namespace {

std::string lastPathComponent(const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    return path.substr(path.find_last_of('/') + 1);
}

std::string recordText(const PlistDict& record, const char* key) {
    const auto* value = plistGet<std::string>(record, key);
    return value ? *value : std::string();
}

// Whether path names an entry of folder itself, not of a folder inside it.
bool isDirectlyIn(const std::string& path, const std::optional<std::string>& folder) {
    return folder && path.size() > folder->size() + 1 &&
           path.compare(0, folder->size(), *folder) == 0 && path[folder->size()] == '/' &&
           path.find('/', folder->size() + 1) == std::string::npos;
}

}  // namespace

FontDownloadDelegate::FontDownloadDelegate(std::weak_ptr<FontManagementController> controller,
                                           std::string displayName)
    : controller_(std::move(controller)), displayName_(std::move(displayName)) {}

std::shared_ptr<SerialQueue> FontDownloadDelegate::delegateQueue() const {
    const auto controller = controller_.lock();
    return controller ? controller->apiClient().serialDispatchQueue() : nullptr;
}

void FontDownloadDelegate::didFinishDownloadingToURL(const std::string& location,
                                                     const HttpUrlResponse& response) {
    isDownloadTaskError = false;
    auto controller = controller_.lock();
    if (controller && controller->chainGivingUp())
        return;
    const std::string fontId = lastPathComponent(response.url);
    ILog("Finished to download data for font Id: %@: http status: %ld", fontId,
         response.statusCode);
    if (logging::debugEnabled())
        for (const auto& [name, value] : response.headers)
            TAVO_DLOG("header: %@:[%@]", name, value);

    if (response.statusCode != kHttpStatusCodeSucceeded) {
        handleRefusal(fontId, location, response.statusCode);
        return;
    }
    TAVO_DLOG("property: MIMEType:[%@]", response.mimeType());
    if (response.mimeType() != "application/octet-stream") {
        ILog("Downloading font with error: fontId: %@: MIMEType(%@) is incorrect", fontId,
             response.mimeType());
        fail();
        return;
    }
    if (controller)
        controller->startNextDownloadAhead();
    install(fontId, location, response);
}

bool FontDownloadDelegate::bringsFontFile(const HttpUrlResponse& response) {
    return response.statusCode == kHttpStatusCodeSucceeded &&
           response.mimeType() == "application/octet-stream";
}

void FontDownloadDelegate::handleRefusal(const std::string& fontId, const std::string& location,
                                         long status) {
    const auto body = FileUtil::readFile(location, 1 << 20);
    const Json json = body ? Json::parse(*body, nullptr, false) : Json();
    long code = kHttpResponceCodeUndefinedValue;
    if (json.is_object() && json.contains("code") && json["code"].is_number_integer())
        code = json["code"].get<long>();
    if (code != kHttpResponceCodeAccessTokenExpired) {
        ILog(
            "Downloading font with error: failed to download: fontId: %@: httpStatus: %ld: "
            "response code: %ld",
            fontId, status, code);
        fail();
        return;
    }
    TAVO_DLOG("The access token has expired: fontId: %@: httpStatus: %ld: response code: %ld",
              fontId, status, code);
    auto controller = controller_.lock();
    if (!controller) {
        fail();
        return;
    }
    // Any authorised request renews the tokens; the record stays
    // "downloading", so the next download fetches the font again.
    std::optional<Error> error;
    const ScreensBase answer =
        FontsApi(controller->apiClient()).getScreensFontListUrlWithError(&error);
    if (OVError::checkApiError(error, answer.code, answer.message)) {
        ILog("Response /api/v1/fonts/%@ message=retrying by expired token", fontId);
    } else {
        ILog("Downloading font with error: failed to update expired token: fontId: %@", fontId);
        fail();
    }
}

void FontDownloadDelegate::install(const std::string& fontId, const std::string& location,
                                   const HttpUrlResponse& response) {
    auto controller = controller_.lock();
    if (!controller) {
        fail();
        return;
    }
    Error error;
    // The body lives in the workspace already: it is installed from where it
    // is, and the transport removes it if it stays.
    std::optional<std::string> temporary;
    if (isDirectlyIn(location, ApiClient::downloadFolder()))
        temporary = location;
    else if (const auto workspace = FontInstaller::workspaceFolder(&error); !workspace) {
        ILog("Downloading font with error: failed to create workspace: file: %@: Description: [%@]",
             Const::applicationDownloadFontTempolaryDirectoryPath().value_or(""), error);
        fail();
        return;
    } else if (temporary = FontInstaller::takeTemporary(location, *workspace, &error); !temporary) {
        ILog("Downloading font with error: failed to create temporary: file: %@: Description: [%@]",
             location, error);
        fail();
        return;
    }
    TAVO_DLOG("downloading to temporary file: %@", *temporary);
    // A temporary file of our own goes whatever happens below.
    struct Remove {
        std::string path;
        ~Remove() {
            if (!path.empty())
                ::unlink(path.c_str());
        }
    } removeTemporary{*temporary == location ? std::string() : *temporary};

    FontListStore& store = controller->store();
    store.reload();  // a logout may have removed it meanwhile
    if (!store.exists()) {
        ILog("Downloading font with error: not found: %@", Config::fontListPath().value_or(""));
        fail();
        return;
    }
    if (!store.isDownloading(fontId)) {
        // The list changed meanwhile: the file is not wanted, and no record
        // is made up for it.
        ILog("Downloaded font is no longer expected: fontId: %@", fontId);
        controller->downloadArrived(displayName_);
        return;
    }
    const auto bytes = FileUtil::readFile(*temporary);
    if (!bytes) {
        ILog("Downloading font with error: Not found saved temporary: file: %@", *temporary);
        fail();
        return;
    }
    const auto identification = fontid::FontIdReader::readFont(*bytes);
    PlistDict record = store.record(fontId).value_or(PlistDict{});
    std::string fileName = recordText(record, kFontFileName);
    if (fileName.empty()) {
        fileName = response.suggestedFilename();
        record[kFontFileName] = fileName;
    }
    const std::string displayName = recordText(record, kFontDisplayFontName);
    if (displayName.empty())
        TAVO_DLOG("font list has empty displayFontName for %@", fontId);
    const std::string destination = Const::userFontDirectoryPath().value_or("") + "/" + fileName;
    TAVO_DLOG("getting data for font Id: %@ file: %@: from temporary file: %@: (raw id: %@)",
              fontId, fileName, *temporary,
              identification ? identification->fontId : std::string("(null)"));

    // Only a font of the service, under a plain name in the font folder.
    bool installed = false;
    if (!isPlainFontFileName(fileName))
        error = Error{-1, "TAVO", "not a plain file name: " + fileName};
    else if (!identification)
        error = Error{-1, "TAVO", "not a font file of the service"};
    else {
        TAVO_DLOG("installing font Id: %@: path: %@", fontId, destination);
        installed = FontInstaller::installFile(*temporary, *bytes, destination, &error);
    }
    if (installed) {
        if (identification->fontId != fontId)
            WLog("Downloaded font carries another id: fontId: %@: record: %@", fontId,
                 identification->fontId);
        record[kFontStatusType] = kFontStatusInstalled;
        store.setRecord(fontId, record, FontListStore::Write::Coalesced);
        controller->fontInstalled(destination, record, *identification);
    } else {
        ILog(
            "Downloading font with error fontId: %@: fontfile: %@: failed to install: Description: "
            "[%@]",
            fontId, fileName, error);
        fail();
    }
    ILog("Response /api/v1/fonts/%@ message=succeeded (%@ [%@])", fontId, fileName, displayName);
    controller->downloadArrived(displayName);
}

void FontDownloadDelegate::didCompleteWithError(const std::optional<Error>& taskError,
                                                const std::optional<HttpUrlResponse>& response) {
    auto controller = controller_.lock();
    if (!controller)
        return;
    FontChainState& chain = controller->chainState();
    const std::string fontId =
        response ? lastPathComponent(response->url) : std::string("(unknown)");
    const long status = response ? response->statusCode : 0;
    if (!taskError && !isDownloadTaskError) {
        TAVO_DLOG("downloadFont and session:finishTasksAndInvalidate");
        controller->downloadFinished(FontManagementController::DownloadOutcome::Next);
        return;
    }
    if (taskError && taskError->code == kURLErrorCancelled) {
        ILog("Download cancelled: fontId: %@: path: %@", fontId, FontsApi::fontPath(fontId));
        controller->downloadFinished(FontManagementController::DownloadOutcome::Cancelled);
        return;
    }
    ILog(
        "Failed to download: taskError: %ld: fontId: %@: httpStatus: %ld: retry: %ld: path: %@: "
        "Description: [%@]",
        isDownloadTaskError ? 1L : 0L, fontId, status,
        static_cast<long>(chain.retryDownloadFont.load()), FontsApi::fontPath(fontId),
        taskError ? format("%@", *taskError) : std::string("unknown"));
    std::string contentType;
    if (isSuspeciousExpiredToken(response, status, taskError ? taskError->code : 0, &contentType,
                                 chain.retryDownloadFont)) {
        ILog(
            "Response /api/v1/fonts/%@ message=retrying by assumed that token "
            "expired(Content-Type: %@)",
            fontId, contentType);
        controller->downloadFinished(FontManagementController::DownloadOutcome::RetryAfterRenewal);
        return;
    }
    ILog("Response /api/v1/fonts/%@ message=give up to download(Content-Type: %@)", fontId,
         contentType);
    controller->downloadFinished(
        FontManagementController::DownloadOutcome::GiveUp,
        format("font %@ could not be downloaded: HTTP status %ld%@", fontId, status,
               taskError ? ": " + taskError->text() : std::string()));
}

bool FontDownloadDelegate::isSuspeciousExpiredToken(const std::optional<HttpUrlResponse>& response,
                                                    long httpStatus, long errorCode,
                                                    std::string* contentType,
                                                    std::atomic<int>& retryDownloadFont) {
    if (!response || !contentType) {
        ILog("Error in downloading font without header");
        return false;
    }
    ILog("Error in downloading font with header below");
    for (const auto& [name, value] : response->headers)
        ILog("Error in downloading font with header: %@: [%@]", name, value);
    const std::string type = response->header("content-type");
    *contentType = type.empty() ? std::string("(unknown)") : type;
    if (errorCode != kURLErrorFileDoesNotExist || httpStatus != kHttpStatusCodeBadRequest ||
        *contentType != "application/json" || retryDownloadFont >= 1)
        return false;
    retryDownloadFont = 1;
    ILog("Suspicious that access token has been expired");
    return true;
}

}  // namespace tavo
