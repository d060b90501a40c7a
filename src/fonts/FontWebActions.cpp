// The fonts that the subscriber switches on or off on the web site.
#include "fonts/FontFileName.h"
#include "fonts/FontManagementController.h"
#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/DateUtil.h"
#include "foundation/Log.h"

namespace tavo {

using Json = nlohmann::json;

namespace {

// The decimal text of a JSON id (text or number).
std::string idText(const Json& data, const char* key) {
    const auto it = data.find(key);
    if (it == data.end())
        return {};
    if (it->is_string())
        return it->get<std::string>();
    if (it->is_number_integer())
        return std::to_string(it->get<std::int64_t>());
    return {};
}

std::string textValue(const Json& data, const char* key) {
    const auto it = data.find(key);
    return it != data.end() && it->is_string() ? it->get<std::string>() : std::string();
}

double numberValue(const Json& data, const char* key) {
    const auto it = data.find(key);
    return it != data.end() && it->is_number() ? it->get<double>() : 0;
}

bool boolValue(const Json& data, const char* key) {
    const auto it = data.find(key);
    return it != data.end() && it->is_boolean() && it->get<bool>();
}

PlistArray contractTexts(const Json& data) {
    PlistArray contracts;
    const auto it = data.find("contractIds");
    if (it != data.end() && it->is_array())
        for (const auto& element : *it)
            contracts.push_back(element.is_string() ? element.get<std::string>() : element.dump());
    return contracts;
}

std::string recordText(const PlistDict& record, const char* key) {
    const auto* value = plistGet<std::string>(record, key);
    return value ? *value : std::string();
}

}  // namespace

void FontManagementController::activateFontOnWeb(const UserInfo& userInfo) {
    const Json data = getNotificationData(userInfo).value_or(Json::object());
    const std::string key = idText(data, "fontId");
    const std::string displayName = textValue(data, "displayFontName");
    ILog("Event Font-Activate: Id: %@: Name: %@", key, displayName);
    if (key.empty())
        return;
    const bool room = existsDiskFreeSpaces(numberValue(data, "fileSize"));
    const PlistArray contracts = contractTexts(data);

    store_.reload();
    store_.create();
    PlistDict record = store_.record(key).value_or(PlistDict{});
    TAVO_DLOG("fontId: %@: name: %@: contracts: %@: plist-status: %@", key, displayName,
              PlistValue(contracts).text(),
              record.empty() ? std::string("(not in plist)") : recordText(record, kFontStatusType));
    auto self = shared_from_this();
    auto showProgress = [self, displayName] { self->showDownloadDisplayFonts({displayName}); };
    auto refresh = [&](PlistDict& r) {
        if (displayName.empty())
            TAVO_DLOG("notification has empty displayFontName");
        r[kFontDisplayFontName] = displayName;
        r[kFontActivate] = true;
        r[kFontFreemium] = boolValue(data, "isFreemium");
        r[kFontContractIds] = contracts;
        r[kFontFileUpdateDate] = DateUtil::getCurrentDate();
        r[kFontStorageLocationType] = "3";
    };

    if (record.empty()) {
        ILog("Event Font-Activate: Install new font: Id: %@: Name: %@", key, displayName);
        if (!room) {
            notifyDiskSpaceInsufficient();
            return;
        }
        record = createFontKeyList(key);
        refresh(record);
        record[kFontStatusType] = kFontStatusDownloading;
        showProgress();
        // Written with the "installed" that follows in a moment, when the
        // chain ends; lost in a crash, the font is fetched by the next
        // synchronization, for the service has it switched on.
        store_.setRecord(key, record, FontListStore::Write::Coalesced);
        downloadFont();
        return;
    }

    const std::string fileName = recordText(record, kFontFileName);
    TAVO_DLOG("turned on the activate flag with font list configuration for fontId: %@: file: %@",
              key, fileName);
    record[kFontActivate] = true;
    store_.setRecord(key, record, FontListStore::Write::Soon);

    const std::string status = recordText(record, kFontStatusType);
    const std::string path = Const::userFontDirectoryPath().value_or("") + "/" + fileName;
    const bool plainName = isPlainFontFileName(fileName);
    if (status == kFontStatusInstalled) {
        if (plainName) {
            fontActivate({path});
            if (fontVersionMatched(path, textValue(data, "version")))
                return;
        }
        TAVO_DLOG("unmatch font version, or no font exists");
    } else if (status != kFontStatusNotInstalled) {
        return;  // a download is pending
    }
    ILog("Event Font-Activate: %@: Id: %@: Name: %@",
         status == kFontStatusInstalled ? "Update font by version" : "Re-install font", key,
         displayName);
    if (room) {
        record[kFontStatusType] = kFontStatusDownloading;
        showProgress();
    } else {
        notifyDiskSpaceInsufficient();
    }
    refresh(record);
    store_.setRecord(key, record, FontListStore::Write::Soon);
    if (recordText(record, kFontStatusType) == kFontStatusDownloading)
        downloadFont();
}

void FontManagementController::deactivateFontOnWeb(const UserInfo& userInfo) {
    const Json data = getNotificationData(userInfo).value_or(Json::object());
    const std::string key = idText(data, "fontId");
    store_.reload();
    store_.create();
    auto record = key.empty() ? std::nullopt : store_.record(key);
    if (!record) {
        ILog("Event Font-Deactivate: Id: %@: Nothing to do without font list.", key);
        return;
    }
    const std::string fileName = recordText(*record, kFontFileName);
    ILog("Event Font-Deactivate: Id: %@: Name: %@", key,
         fileName.empty() ? std::string("(unknown)") : fileName);
    if (isPlainFontFileName(fileName))
        fontDeactivate({Const::userFontDirectoryPath().value_or("") + "/" + fileName});
    (*record)[kFontActivate] = false;
    (*record)[kFontFileUpdateDate] = DateUtil::getCurrentDate();
    store_.setRecord(key, *record, FontListStore::Write::Soon);
}

}  // namespace tavo
