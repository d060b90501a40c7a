// The synchronization run and the clean-up of fonts removed from the account.
#include <chrono>
#include <unordered_set>

#include "fonts/FontFileName.h"
#include "fonts/FontManagementController.h"
#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/DateUtil.h"
#include "foundation/FileUtil.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "service/ApiClient.h"
#include "service/FontsApi.h"
#include "service/OVError.h"

namespace tavo {

using Json = nlohmann::json;

namespace {

const char* const kSyncFontActionNames[] = {"Activate", "Deactivate", "Uninstall"};

// Far beyond the fonts of any account: a list that pages further is broken.
constexpr long kMaximumFontListOffset = 1000000;

PlistValue plistFromJson(const Json& value) {
    if (value.is_string())
        return value.get<std::string>();
    if (value.is_boolean())
        return value.get<bool>();
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    if (value.is_number())
        return value.get<double>();
    return value.dump();
}

PlistArray contractArray(const std::optional<Json>& contractIds) {
    PlistArray array;
    if (contractIds && contractIds->is_array())
        for (const auto& element : *contractIds)
            array.push_back(plistFromJson(element));
    return array;
}

bool boolOf(const PlistDict& record, const char* key) {
    const bool* value = plistGet<bool>(record, key);
    return value && *value;
}

std::string textOf(const PlistDict& record, const char* key) {
    const std::string* value = plistGet<std::string>(record, key);
    return value ? *value : std::string();
}

}  // namespace

struct FontManagementController::SyncLists {
    std::vector<std::string> activate;
    std::vector<std::string> deactivate;
    std::string now;                    // "yyyy-MM-dd HH:mm:ss" of the page
    std::vector<std::string> progress;  // names entering the progress list on this page
};

int FontManagementController::getSyncFontAction(const PlistDict& oldFont,
                                                const PlistDict& newFont) const {
    (void)oldFont;
    const bool freemium = boolOf(newFont, kFontFreemium);
    const auto* contracts = plistGet<PlistArray>(newFont, kFontContractIds);
    const bool contracted = contracts && !contracts->empty();
    const int action =
        !freemium && !contracted ? kSyncFontActionDeactivate : kSyncFontActionActivate;
    TAVO_DLOG("name: %@ pattern: %@ action: %@", textOf(newFont, kFontDisplayFontName),
              format("%d%d", freemium ? 1 : 0, contracted ? 1 : 0), kSyncFontActionNames[action]);
    return action;
}

void FontManagementController::syncSettingedFontActiveDeactiveOnMembersSite(const std::any&) {
    FontSyncGate::Hold hold = syncGate_.tryAcquire();
    if (!hold) {
        ILog("Skip font synchronization because of already running");
        return;
    }
    syncSettingedFontActiveDeactiveOnMembersSite(std::move(hold));
}

void FontManagementController::syncSettingedFontActiveDeactiveOnMembersSite(
    FontSyncGate::Hold hold) {
    if (!hold && !(hold = syncGate_.tryAcquire())) {
        ILog("Skip font synchronization because of already running");
        return;
    }
    TAVO_DLOG("set font synchronization is active");
    runPlanned_ = 0;
    runDownloaded_ = 0;
    const std::string since = DateUtil::getCurrentDate();
    ILog("Start Synchronizing Font-Active-Deactive: since: %@", since);
    ILog("Starting fetch information for font synchronization");

    const long limit = kLimit;
    long offset = kOffset;
    store_.reload();
    store_.create();
    PlistDict list = store_.list().value_or(PlistDict{});
    SyncLists lists;
    const std::string folder = Const::userFontDirectoryPath().value_or("");
    FontsApi api(client_);
    bool pageProcessed = false;
    std::unordered_set<std::string> listed;  // font ids of the pages so far
    std::vector<std::string> shown;          // names this run put into the progress list
    for (;;) {
        if (stopRequested()) {
            ILog("Font synchronization stopped before the font list at %ld: nothing written",
                 offset);
            hold.release();  // before the observers hear of the end
            syncEnded(SyncResult::Cancelled);
            return;
        }
        if (offset > kMaximumFontListOffset) {
            ELog("Broken font list: offset %ld is beyond any account (more than %ld)", offset,
                 kMaximumFontListOffset);
            synchronizationFailed(
                hold, shown,
                format("the font list goes on beyond offset %ld", kMaximumFontListOffset));
            ILog("End Synchronizing Font-Active-Deactive: since: %@", since);
            return;
        }
        ILog("Getting available font list at %ld, limit %ld", offset, limit);
        std::optional<Error> error;
        const FontsBase page =
            api.getFontsWithContains(kContainsAvailableFonts, limit, offset, &error);
        if (stopRequested()) {
            ILog("Font synchronization stopped at the font list at %ld: nothing written", offset);
            hold.release();  // before the observers hear of the end
            syncEnded(SyncResult::Cancelled);
            return;
        }
        if (!OVError::checkApiError(error, page.code, page.message)) {
            if (pageProcessed)
                break;
            synchronizationFailed(
                hold, shown,
                error ? format("the font list could not be fetched: %@", error->text())
                      : format("the server refused the font list (code %ld: %@)",
                               page.code.value_or(0), page.message.value_or("")));
            ILog("End Synchronizing Font-Active-Deactive: since: %@", since);
            return;
        }
        const bool hasNext = page.data && page.data->hasNext.value_or(false);
        const std::vector<Fonts>* fonts =
            page.data && page.data->fonts ? &*page.data->fonts : nullptr;
        std::size_t added = 0;
        if (fonts)
            for (const Fonts& font : *fonts)
                added += listed.insert(font.fontId.value_or("")).second;
        // A page that says more follow but adds no font would be asked for
        // again and again: the list is broken, and nothing of it is used.
        if (hasNext && added == 0) {
            ELog(
                "Broken font list at offset %ld: the page says more fonts follow but adds none "
                "(%@)",
                offset,
                !fonts           ? "no font entries"
                : fonts->empty() ? "an empty font list"
                                 : "only fonts listed already");
            synchronizationFailed(
                hold, shown,
                format("broken font list at offset %ld: no new font on the page", offset));
            ILog("End Synchronizing Font-Active-Deactive: since: %@", since);
            return;
        }
        pageProcessed = true;
        lists.now = DateUtil::getCurrentDate();
        if (fonts)
            for (const Fonts& font : *fonts)
                if (!syncAccountFont(font, list, lists, folder))
                    break;  // no room: the rest of this page keeps its records
        if (!lists.progress.empty()) {
            shown.insert(shown.end(), lists.progress.begin(), lists.progress.end());
            showDownloadDisplayFonts(std::move(lists.progress));
            lists.progress.clear();
        }
        offset += limit;
        if (!hasNext)
            break;
    }

    // Written in the background; a failure is logged by the store.
    store_.replace(std::move(list), FontListStore::Write::Soon);
    ILog("Terminating fetch information for font synchronization");
    ILog("Starting update fonts for font synchronization");
    fontActivate(lists.activate);
    fontDeactivate(std::vector<std::string>(lists.deactivate));
    // The chain keeps the gate until no record is "downloading" (the finish
    // check releases it at once when none is) or until it gives up.
    runPlanned_ = static_cast<long>(store_.downloadingCount());
    syncObservers_.downloadsPlanned(runPlanned_);
    syncGate_.handToChain(std::move(hold));
    checkFinishedSynchronizing();
    downloadFont();
    ILog("End Synchronizing Font-Active-Deactive: since: %@", since);
}

void FontManagementController::synchronizationFailed(FontSyncGate::Hold& hold,
                                                     const std::vector<std::string>& shown,
                                                     const std::string& reason) {
    // The names of the pages read so far leave the progress list again.
    if (!shown.empty()) {
        auto self = shared_from_this();
        MainQueue::main().async([self, shown] {
            for (const auto& name : shown)
                self->removeDownloadDisplayFont(name);
        });
    }
    hold.release();  // before the notice: its observers may start the next run
    syncEnded(SyncResult::Failed, reason);
    NotificationCenter::defaultCenter().post(
        kFMCommonMessageNotification,
        {{kFMCommonMessageHeading, std::string("Font Synchronization Failed")},
         {kFMCommonMessageDetail, std::string("Failed the font synchronization")}});
}

bool FontManagementController::syncAccountFont(const Fonts& font, PlistDict& list, SyncLists& lists,
                                               const std::string& folder) {
    const std::string key = font.fontId.value_or("");
    const std::string fileName = font.fileName.value_or("unknown");
    const std::string displayName = font.displayFontName.value_or("unknown");
    if (key.empty() || !isPlainFontFileName(fileName)) {
        ELog("Refused font of the account: Id: %@: File: %@: not a plain file name", key, fileName);
        return true;
    }
    // The record is changed where it lies in the list (no copy per font of a
    // large account); a font without one gets a new record, which enters the
    // list only once it has been refreshed.
    const auto found = list.find(key);
    PlistDict* local = found == list.end() ? nullptr : found->second.get<PlistDict>();
    PlistDict fresh;
    if (!local)
        fresh = createFontKeyList(key);
    PlistDict* record = local ? local : &fresh;

    if (textOf(*record, kFontStatusType) == kFontStatusDownloading) {
        ILog("Download in progress: Id: %@: File: %@", key, fileName);
        lists.progress.push_back(displayName);
        return true;
    }

    const std::string path = folder + "/" + fileName;
    const bool exists = FileUtil::exists(path);
    const bool installed = textOf(*record, kFontStatusType) == kFontStatusInstalled;
    bool activateFlg = font.activateFlg.value_or(false);

    const bool refreshed = installed || exists || activateFlg;
    if (refreshed) {
        PlistDict& r = *record;
        r[kFontFileName] = fileName;
        r[kFontDisplayFontName] = displayName;
        r[kFontActivate] = activateFlg;
        r[kFontAvailableFont] = font.isAvailableFont.value_or(false);
        r[kFontFreemium] = font.isFreemium.value_or(false);
        r[kFontContractIds] = contractArray(font.contractIds);
        r[kFontFileUpdateDate] = lists.now;
        r[kFontStorageLocationType] = "3";
        r[kFontStatusType] = kFontStatusInstalled;
        if (!local)  // store the new record; later changes go to the stored one
            record = list.emplace(key, PlistValue(std::move(fresh))).first->second.get<PlistDict>();
    }

    // The action depends on the account's answer alone (the record as it was
    // is not consulted), so no copy of it is kept for the call.
    const int action =
        activateFlg ? getSyncFontAction(*record, *record) : kSyncFontActionDeactivate;
    if (action == kSyncFontActionActivate) {
        const char* download = nullptr;
        if (!exists)
            download = "Action-Install: Id: %@: File: %@";
        else if (!fontVersionMatched(path, font.version.value_or("")))
            download = "Action-Update: Id: %@: File: %@";
        if (!download) {
            lists.activate.push_back(path);
            ILog("Action-Activate: Id: %@: File: %@", key, fileName);
            return true;
        }
        ILog(download, key, fileName);
        if (!existsDiskFreeSpaces(static_cast<double>(font.fileSize.value_or(0)))) {
            notifyDiskSpaceInsufficient();
            return false;
        }
        (*record)[kFontStatusType] = kFontStatusDownloading;
        lists.progress.push_back(displayName);
        return true;
    }

    // A record that was not refreshed (a font neither installed, present nor
    // wanted) takes these changes nowhere.
    if (!refreshed && local) {
        fresh = *local;
        record = &fresh;
    }
    activateFlg = false;
    (*record)[kFontActivate] = false;
    if (!exists) {
        ILog("Not found deactivated font: Id: %@: File: %@", key, fileName);
        (*record)[kFontStatusType] = kFontStatusNotInstalled;
    } else {
        ILog("Action-Deactivate: Id: %@: File: %@", key, fileName);
        lists.deactivate.push_back(path);
    }
    return true;
}

void FontManagementController::fontUninstallationRemovedServer(long limit, long offset) {
    const std::string folder = Const::userFontDirectoryPath().value_or("");
    FontsApi api(client_);
    std::unordered_set<std::string> listed;  // font ids of the pages so far
    for (bool more = true; more && !stopRequested(); offset += 1000) {
        ILog("Start Uninstallation removed fonts ");
        more = false;
        if (offset > kMaximumFontListOffset) {
            ELog("Broken list of removed fonts: offset %ld is beyond any account (more than %ld)",
                 offset, kMaximumFontListOffset);
            ILog("End Uninstallation removed fonts ");
            break;
        }
        std::optional<Error> error;
        const FontsBase page =
            api.getFontsWithContains(kContainsDeletedFonts, limit, offset, &error);
        if (OVError::checkApiError(error, page.code, page.message)) {
            std::vector<std::string> paths;
            std::size_t added = 0;
            if (page.data && page.data->fonts)
                for (const Fonts& font : *page.data->fonts) {
                    added += listed.insert(font.fontId.value_or("")).second;
                    const std::string fileName = font.fileName.value_or("");
                    ILog("The font removed on the server: id: %@: File: %@",
                         font.fontId.value_or(""), fileName);
                    if (isPlainFontFileName(fileName))
                        paths.push_back(folder + "/" + fileName);
                    else
                        ELog("Refused removed font: id: %@: File: %@: not a plain file name",
                             font.fontId.value_or(""), fileName);
                }
            fontRemove(checkDedicatedFont(paths));
            more = page.data && page.data->hasNext.value_or(false);
            if (more && added == 0) {
                ELog(
                    "Broken list of removed fonts at offset %ld: the page says more fonts follow "
                    "but adds none",
                    offset);
                more = false;
            }
        }
        ILog("End Uninstallation removed fonts ");
    }
}

}  // namespace tavo
