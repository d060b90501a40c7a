// Activation, deactivation and removal of font files, and the service's
// fonts that must stay inactive.
#include <dirent.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "fonts/FontManagementController.h"
#include "foundation/ConcurrentQueue.h"
#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "foundation/Log.h"
#include "platform/FontManager.h"

namespace tavo {

namespace {

using platform::FontManagerScope;

std::string fileNameOf(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

// The entries of a folder in the order the file system gives them.
std::vector<std::string> listFolder(const std::string& folder) {
    std::vector<std::string> entries;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return entries;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            entries.push_back(name);
    }
    ::closedir(dir);
    return entries;
}

}  // namespace

void FontManagementController::fontActivate(const std::vector<std::string>& paths) {
    runActivationBatch(paths, true);
}

void FontManagementController::fontDeactivate(const std::vector<std::string>& paths) {
    runActivationBatch(paths, false);
}

void FontManagementController::runActivationBatch(std::vector<std::string> paths, bool activate) {
    if (paths.empty())
        return;
    ++batchesInFlight_;
    auto self = shared_from_this();
    globalQueue().async([self, paths = std::move(paths), activate] {
        auto manager = self->fontManager();
        std::vector<std::string> batch;
        for (const auto& path : paths) {
            // Asked first: a file already as wanted (every one, when nothing
            // changed) needs no look of its own; a missing one is left alone.
            const bool registered = manager->scopeForFile(path) != FontManagerScope::None;
            if (registered == activate || !FileUtil::exists(path))
                continue;
            ILog(activate ? "Activating font: %@" : "Deactivating font: %@", fileNameOf(path));
            batch.push_back(path);
        }
        if (!batch.empty()) {
            std::vector<platform::FontManagerError> errors;
            const bool ok =
                activate ? manager->registerFonts(batch, FontManagerScope::Persistent, &errors)
                         : manager->unregisterFonts(batch, FontManagerScope::Persistent, &errors);
            if (!ok)
                for (const auto& error : errors)
                    ILog(activate ? "Failed to activate font by following reason.\n%@"
                                  : "Failed to deactivate font by following reason.\n%@",
                         format("%@: %@ (%ld)", error.path, error.description, error.code));
        }
        {
            std::lock_guard lock(self->mutex_);
            --self->batchesInFlight_;
        }
        self->batchesDone_.notify_all();
    });
}

void FontManagementController::waitForActivationBatches() {
    std::unique_lock lock(mutex_);
    batchesDone_.wait(lock, [&] { return batchesInFlight_ == 0; });
}

void FontManagementController::fontRemove(const std::vector<std::string>& paths) {
    // A registered file goes out of sight first: its registration may keep
    // the font's data alive (a hard link) after the file itself is gone.
    std::vector<std::string> registered;
    auto manager = fontManager();
    for (const auto& path : paths)
        if (FileUtil::exists(path) && manager->scopeForFile(path) != FontManagerScope::None)
            registered.push_back(path);
    if (!registered.empty())
        manager->unregisterFonts(registered, FontManagerScope::Persistent, nullptr);
    for (const auto& path : paths) {
        if (!FileUtil::exists(path))
            continue;
        std::error_code error;
        if (std::filesystem::remove(path, error))
            ILog("Removed font: %@", fileNameOf(path));
        else
            ILog("code %ld: message: An error for removing fonts occurs.: %@: Description: [%@]",
                 static_cast<long>(error.value()), path, error.message());
    }
}

void FontManagementController::setVendorFontPaths() {
    const std::string folder = Const::userFontDirectoryPath().value_or("");
    std::vector<std::string> listing = listFolder(folder);
    if (!contents.empty() && contents == listing)
        return;
    ILog("Number of contents: %ld", static_cast<long>(listing.size()));
    contents = std::move(listing);
    std::vector<std::string> vendor;
    for (const auto& entry : contents) {
        if (entry.front() == '.')
            continue;  // our own temporary files
        const std::string path = folder + "/" + entry;
        if (FileUtil::exists(path) && versions_.record(path)) {
            TAVO_DLOG("vendor font path: %@", path);
            vendor.push_back(path);
        }
    }
    ILog("Number of vendor font paths: %ld", static_cast<long>(vendor.size()));
    vendorFontPaths = std::move(vendor);
}

void FontManagementController::deactivateFromAvailableFonts(const std::vector<std::string>& paths) {
    ILog("Start Font-Deactivation for auto-activation");
    store_.reload();
    const PlistDict list = store_.list().value_or(PlistDict{});
    if (!fontList || fontList->empty() || *fontList != list) {
        ILog("Number of font list: %ld", static_cast<long>(list.size()));
        const std::string folder = Const::userFontDirectoryPath().value_or("");
        std::vector<std::string> active;
        for (const auto& [key, value] : list) {
            const auto* record = value.get<PlistDict>();
            const bool* activate = record ? plistGet<bool>(*record, kFontActivate) : nullptr;
            const std::string* file =
                record ? plistGet<std::string>(*record, kFontFileName) : nullptr;
            if (activate && *activate && file) {
                TAVO_DLOG("active font: %@: file: %@", key, *file);
                active.push_back(folder + "/" + *file);
            }
        }
        ILog("Number of active font paths: %ld", static_cast<long>(active.size()));
        fontList = list;
        activeFontPaths = std::move(active);
    }
    setVendorFontPaths();
    const std::set<std::string> vendor(vendorFontPaths.begin(), vendorFontPaths.end());
    const std::set<std::string> active(activeFontPaths.begin(), activeFontPaths.end());
    std::vector<std::string> deactivate;
    for (const auto& path : paths)
        if (vendor.count(path) && !active.count(path)) {
            TAVO_DLOG("deactivate font path: %@", path);
            deactivate.push_back(path);
        }
    fontDeactivate(deactivate);
    ILog("End Font-Deactivation for auto-activation");
}

void FontManagementController::processPeriodicConfirmationFontDeactivationLogout() {
    ILog("Start Font-Deactivation for logout");
    setVendorFontPaths();
    fontDeactivate(vendorFontPaths);
    ILog("End Font-Deactivation for logout");
}

}  // namespace tavo
