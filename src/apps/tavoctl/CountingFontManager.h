#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/FontManager.h"

namespace tavo::ctl {

// The program's font manager as the controller sees it, counting the files
// it registered and unregistered for the summary.
class CountingFontManager : public platform::FontManager {
public:
    explicit CountingFontManager(std::shared_ptr<platform::FontManager> inner)
        : inner_(std::move(inner)) {}

    platform::FontManagerScope scopeForFile(const std::string& path) override {
        return inner_->scopeForFile(path);
    }
    bool registerFonts(const std::vector<std::string>& paths, platform::FontManagerScope scope,
                       std::vector<platform::FontManagerError>* errors) override {
        std::vector<platform::FontManagerError> own;
        auto* list = errors ? errors : &own;
        const std::size_t before = list->size();
        const bool ok = inner_->registerFonts(paths, scope, list);
        tally(paths.size(), ok, list->size() - before, activated);
        return ok;
    }
    bool unregisterFonts(const std::vector<std::string>& paths, platform::FontManagerScope scope,
                         std::vector<platform::FontManagerError>* errors) override {
        std::vector<platform::FontManagerError> own;
        auto* list = errors ? errors : &own;
        const std::size_t before = list->size();
        const bool ok = inner_->unregisterFonts(paths, scope, list);
        tally(paths.size(), ok, list->size() - before, deactivated);
        return ok;
    }
    std::size_t registrationGroup(const std::string& fileName) const override {
        return inner_->registrationGroup(fileName);
    }
    void fontFilesDidChange() override { inner_->fontFilesDidChange(); }
    void setFontsAddedHandler(FontsAddedHandler handler) override {
        inner_->setFontsAddedHandler(std::move(handler));
    }

    std::atomic<long> activated{0};
    std::atomic<long> deactivated{0};
    std::atomic<long> failed{0};

private:
    // A refusal names the files it could not apply; one that names none
    // failed them all.
    void tally(std::size_t files, bool ok, std::size_t refused, std::atomic<long>& done) {
        const std::size_t failedHere = ok ? 0 : refused > 0 ? std::min(refused, files) : files;
        done += static_cast<long>(files - failedHere);
        failed += static_cast<long>(failedHere);
    }

    std::shared_ptr<platform::FontManager> inner_;
};

}  // namespace tavo::ctl
