#include "fonts/FontManagementController.h"

#include <sys/stat.h>

#include <algorithm>

#include "fonts/FontInstaller.h"
#include "foundation/Const.h"
#include "foundation/DateUtil.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "foundation/NotificationUtil.h"
#include "platform/FontManager.h"
#include "platform/SystemInfo.h"
#include "service/ApiClient.h"
#include "service/ResultCodes.h"
#include "service/ServerSentEventNotification.h"

namespace tavo {

using Json = nlohmann::json;

namespace {

std::string joinNames(const std::list<std::string>& names) {
    std::string joined;
    for (const auto& name : names) {
        if (!joined.empty())
            joined += ",";
        joined += name;
    }
    return joined;
}

}  // namespace

FontManagementController& FontManagementController::sharedInstance() {
    // Never destroyed: queued work may still reach it while the program exits.
    static auto* instance = new std::shared_ptr<FontManagementController>(
        create(ApiClient::defaultApiClient(), nullptr));
    return **instance;
}

std::shared_ptr<FontManagementController> FontManagementController::create(
    ApiClient& client, std::shared_ptr<platform::FontManager> fontManager) {
    return std::shared_ptr<FontManagementController>(
        new FontManagementController(client, std::move(fontManager)));
}

FontManagementController::FontManagementController(
    ApiClient& client, std::shared_ptr<platform::FontManager> fontManager)
    : client_(client), fontManager_(std::move(fontManager)) {
    // The list never says "installed" for a file the disk does not hold yet.
    store_.setBeforeWriteHook([] { FontInstaller::syncFontFolder(); });
}

FontManagementController::~FontManagementController() {
    waitForActivationBatches();
}

bool FontManagementController::stopRequested() const {
    return stopRequested_ || client_.transfersStopped();
}

std::shared_ptr<platform::FontManager> FontManagementController::fontManager() const {
    return fontManager_ ? fontManager_ : platform::FontManager::defaultManager();
}

void FontManagementController::setDiskFreeSizeProvider(
    std::function<std::optional<double>()> provider) {
    std::lock_guard lock(mutex_);
    diskFreeSize_ = std::move(provider);
}

// ---- records and files

PlistDict FontManagementController::createFontKeyList(const std::string&) {
    return PlistDict{
        {kFontFileName, ""},
        {kFontDisplayFontName, ""},
        {kFontActivate, false},
        {kFontAvailableFont, false},
        {kFontFreemium, false},
        {kFontContractIds, PlistArray{}},
        {kFontStatusType, kFontStatusNotInstalled},
        {kFontFileUpdateDate, ""},
        {kFontStorageLocationType, ""},
    };
}

std::optional<std::string> FontManagementController::getFontFileVersion(const std::string& path) {
    const auto record = versions_.record(path);
    return record ? std::optional<std::string>(record->version) : std::nullopt;
}

bool FontManagementController::fontVersionMatched(const std::string& path,
                                                  const std::string& version) {
    const auto current = getFontFileVersion(path);
    const bool matched = current && *current == version;
    TAVO_DLOG("matched:%@ path:[%@] current:[%@] install:[%@]", matched ? "YES" : "NO", path,
              current.value_or("(null)"), version);
    return matched;
}

std::vector<std::string> FontManagementController::checkDedicatedFont(
    const std::vector<std::string>& paths) const {
    std::vector<std::string> dedicated;
    for (const auto& path : paths)
        if (versions_.record(path))
            dedicated.push_back(path);
    return dedicated;
}

double FontManagementController::getDiskFreeSize() const {
    std::function<std::optional<double>()> provider;
    {
        std::lock_guard lock(mutex_);
        provider = diskFreeSize_;
    }
    if (provider)
        return provider().value_or(0);
    // The volume of the user's font folder; its nearest existing ancestor
    // when it is not there yet.
    std::string path = Const::userFontDirectoryPath().value_or("/");
    for (struct stat st{}; !path.empty() && ::stat(path.c_str(), &st) != 0;) {
        const auto slash = path.find_last_of('/');
        path = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
    }
    const auto free = platform::SystemInfo::freeBytes(path);
    return free ? static_cast<double>(*free) : 0;
}

bool FontManagementController::existsDiskFreeSpaces(double fileSize) const {
    // Three times the file must fit: the download, its temporary copy and the installed file.
    return getDiskFreeSize() - 3 * fileSize > 0;
}

void FontManagementController::notifyDiskSpaceInsufficient() {
    ELog("code=%@, message=%@", kMsgE2011, kMsgE2011Text);
    if (chainState_.isDiskSpaceInsufficientNotified.exchange(true))
        return;
    NotificationUtil::deliverNotificationWithSubtile(localized("Insufficient disk space"));
}

// ---- the progress list

void FontManagementController::appendDownloadDisplayFont(const std::string& name) {
    appendDownloadDisplayFonts({name});
}

void FontManagementController::appendDownloadDisplayFonts(const std::vector<std::string>& names) {
    std::size_t count = 0;
    std::string joined;
    {
        std::lock_guard lock(mutex_);
        bool added = false;
        // Newest first: the last of the batch leads.
        for (const auto& name : names) {
            if (downloadDisplayFontPlaces_.contains(name))
                continue;
            downloadDisplayFontNames_.push_front(name);
            downloadDisplayFontPlaces_.emplace(name, downloadDisplayFontNames_.begin());
            added = true;
        }
        if (!added)
            return;
        count = downloadDisplayFontNames_.size();
        joined = joinNames(downloadDisplayFontNames_);
    }
    NotificationCenter::defaultCenter().post(
        kFMUpdateProgressNotification,
        {{kFMStartProgress, static_cast<int>(count)}, {kFMTypeface, joined}});
}

void FontManagementController::removeDownloadDisplayFont(const std::string& name) {
    std::lock_guard lock(mutex_);
    if (const auto place = downloadDisplayFontPlaces_.find(name);
        place != downloadDisplayFontPlaces_.end()) {
        downloadDisplayFontNames_.erase(place->second);
        downloadDisplayFontPlaces_.erase(place);
    }
}

void FontManagementController::showDownloadDisplayFonts(std::vector<std::string> names) {
    {
        std::lock_guard lock(mutex_);
        arrivals_.reset();  // a later arrival of these names goes after them
    }
    auto self = shared_from_this();
    MainQueue::main().async(
        [self, names = std::move(names)] { self->appendDownloadDisplayFonts(names); });
}

void FontManagementController::downloadArrived(std::string name) {
    std::shared_ptr<std::vector<std::string>> batch;
    {
        std::lock_guard lock(mutex_);
        if (arrivals_) {
            arrivals_->push_back(std::move(name));
            return;
        }
        arrivals_ = batch = std::make_shared<std::vector<std::string>>(1, std::move(name));
    }
    auto self = shared_from_this();
    MainQueue::main().async([self, batch] {
        std::vector<std::string> names;
        {
            std::lock_guard lock(self->mutex_);
            if (self->arrivals_ == batch)
                self->arrivals_.reset();
            names = std::move(*batch);
        }
        for (const auto& name : names) {
            self->removeDownloadDisplayFont(name);
            NotificationCenter::defaultCenter().post(kFMUpdateProgressNotification,
                                                     {{kFMProgress, 0}, {kFMTypeface, name}});
        }
    });
}

void FontManagementController::clearDownloadDisplayFont() {
    auto self = shared_from_this();
    auto clear = [self] {
        std::lock_guard lock(self->mutex_);
        self->downloadDisplayFontNames_.clear();
        self->downloadDisplayFontPlaces_.clear();
    };
    if (MainQueue::isMainThread())
        clear();
    else
        MainQueue::main().async(clear);
}

std::vector<std::string> FontManagementController::downloadDisplayFontNames() const {
    std::lock_guard lock(mutex_);
    return {downloadDisplayFontNames_.begin(), downloadDisplayFontNames_.end()};
}

// ---- end of a synchronization

void FontManagementController::checkFinishedSynchronizing() {
    if (!syncGate_.chainHolds())
        return;
    auto queue = client_.serialDispatchQueue();
    auto self = shared_from_this();
    auto check = [self] {
        if (!self->syncGate_.chainHolds())
            return;  // another check ended the synchronization meanwhile
        if (logging::debugEnabled())
            for (const auto& key : self->store_.downloadingKeys())
                TAVO_DLOG(": isDownloading=%d: fontId=%@", 1, key);
        if (self->store_.downloadingCount() != 0)
            return;
        self->syncGate_.takeChainHold().release();
        self->syncEnded(SyncResult::Completed);
        NotificationCenter::defaultCenter().post(
            kFMCommonMessageNotification,
            {{kFMCommonMessageHeading, std::string("Font Synchronization Completed")},
             {kFMCommonMessageDetail, std::string("Finished the font synchronization")}});
        ILog("Terminating update fonts for font synchronization");
    };
    if (queue)
        queue->async(check);
    else
        check();
}

void FontManagementController::syncEnded(SyncResult result, const std::string& reason) {
    SyncOutcome outcome;
    outcome.result = result;
    outcome.reason = reason;
    outcome.planned = runPlanned_;
    outcome.downloaded = runDownloaded_;
    outcome.left = result == SyncResult::Failed ? 0 : static_cast<long>(store_.downloadingCount());
    ILog("Font synchronization %@: %ld of %ld downloaded, %ld left%@", syncResultName(result),
         outcome.downloaded, outcome.planned, outcome.left, reason.empty() ? "" : ": " + reason);
    syncObservers_.ended(outcome);
}

std::optional<Json> FontManagementController::getNotificationData(const UserInfo& userInfo) {
    const auto* text = userInfoText(userInfo, kFMUserInfoKeyJsonData);
    if (!text)
        return std::nullopt;
    Json data = Json::parse(*text, nullptr, false);
    if (data.is_discarded() || !data.is_object())
        return std::nullopt;
    return data;
}

}  // namespace tavo
