#include "platform/FontManager.h"

#include <mutex>

namespace tavo::platform {

namespace {

// Until a program sets its font manager: nothing is registered, every
// request fails for every file.
class AbsentFontManager : public FontManager {
public:
    FontManagerScope scopeForFile(const std::string&) override { return FontManagerScope::None; }
    bool registerFonts(const std::vector<std::string>& paths, FontManagerScope,
                       std::vector<FontManagerError>* errors) override {
        return refuse(paths, errors);
    }
    bool unregisterFonts(const std::vector<std::string>& paths, FontManagerScope,
                         std::vector<FontManagerError>* errors) override {
        return refuse(paths, errors);
    }
    void setFontsAddedHandler(FontsAddedHandler) override {}

private:
    static bool refuse(const std::vector<std::string>& paths,
                       std::vector<FontManagerError>* errors) {
        if (errors)
            for (const auto& path : paths)
                errors->push_back({path, 105, "no font manager"});
        return paths.empty();
    }
};

std::mutex& managerMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<FontManager>& managerValue() {
    static std::shared_ptr<FontManager> manager = std::make_shared<AbsentFontManager>();
    return manager;
}

}  // namespace

std::shared_ptr<FontManager> FontManager::defaultManager() {
    std::lock_guard lock(managerMutex());
    return managerValue();
}

void FontManager::setDefaultManager(std::shared_ptr<FontManager> manager) {
    if (!manager)
        manager = std::make_shared<AbsentFontManager>();
    std::lock_guard lock(managerMutex());
    managerValue() = std::move(manager);
}

}  // namespace tavo::platform
