// The synchronization run and the clean-up of fonts removed from the account.
#include <chrono>

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
    client_.inFontSynchroizing = true;
    TAVO_DLOG("set font synchronization is active");
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
    for (;;) {
        ILog("Getting available font list at %ld, limit %ld", offset, limit);
        std::optional<Error> error;
        const FontsBase page =
            api.getFontsWithContains(kContainsAvailableFonts, limit, offset, &error);
        if (!OVError::checkApiError(error, page.code, page.message)) {
            if (pageProcessed)
                break;
            NotificationCenter::defaultCenter().post(
                kFMCommonMessageNotification,
                {{kFMCommonMessageHeading, std::string("Font Synchronization Failed")},
                 {kFMCommonMessageDetail, std::string("Failed the font synchronization")}});
            ILog("End Synchronizing Font-Active-Deactive: since: %@", since);
            return;
        }
        pageProcessed = true;
        lists.now = DateUtil::getCurrentDate();
        if (page.data && page.data->fonts)
            for (const Fonts& font : *page.data->fonts)
                if (!syncAccountFont(font, list, lists, folder))
                    break;  // no room: the rest of this page keeps its records
        if (!lists.progress.empty()) {
            auto self = shared_from_this();
            MainQueue::main().async([self, names = std::move(lists.progress)] {
                self->appendDownloadDisplayFonts(names);
            });
            lists.progress.clear();
        }
        offset += limit;
        if (!page.data || !page.data->hasNext.value_or(false))
            break;
    }

    // Written in the background; a failure is logged by the store.
    store_.replace(std::move(list), FontListStore::Write::Soon);
    ILog("Terminating fetch information for font synchronization");
    ILog("Starting update fonts for font synchronization");
    fontActivate(lists.activate);
    fontDeactivate(std::vector<std::string>(lists.deactivate));
    checkFinishedSynchronizing();
    downloadFont();
    ILog("End Synchronizing Font-Active-Deactive: since: %@", since);
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
    const PlistDict oldRecord = *record;
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

    const int action =
        activateFlg ? getSyncFontAction(oldRecord, *record) : kSyncFontActionDeactivate;
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
    for (bool more = true; more; offset += 1000) {
        ILog("Start Uninstallation removed fonts ");
        std::optional<Error> error;
        const FontsBase page =
            api.getFontsWithContains(kContainsDeletedFonts, limit, offset, &error);
        more = false;
        if (OVError::checkApiError(error, page.code, page.message)) {
            std::vector<std::string> paths;
            if (page.data && page.data->fonts)
                for (const Fonts& font : *page.data->fonts) {
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
        }
        ILog("End Uninstallation removed fonts ");
    }
}

}  // namespace tavo
