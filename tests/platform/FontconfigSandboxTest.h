#pragma once
// A sandbox root with fontconfig pointed at it, the storage and link folders
// of the current user, and what a freshly started fontconfig program lists.
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Layout.h"
#include "platform/linux/FontconfigFontManager.h"
#include "platform/linux/SandboxFontconfig.h"
#include "support/Sandbox.h"

namespace tavo::platform {

// The files a program starting now sees, asked of fontconfig directly.
inline std::set<std::string> freshlyListedFiles() {
    std::set<std::string> files;
    FcConfig* config = FcInitLoadConfigAndFonts();
    if (!config)
        return files;
    FcPattern* pattern = FcPatternCreate();
    FcObjectSet* objects = FcObjectSetBuild(FC_FILE, nullptr);
    if (FcFontSet* fonts = FcFontList(config, pattern, objects)) {
        for (int i = 0; i < fonts->nfont; ++i) {
            FcChar8* file = nullptr;
            if (FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &file) == FcResultMatch)
                files.insert(reinterpret_cast<const char*>(file));
        }
        FcFontSetDestroy(fonts);
    }
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    FcConfigDestroy(config);
    return files;
}

// A TrueType font of the machine, found through fontconfig (the sandbox's
// configuration reads /usr/share/fonts).
inline std::optional<std::string> machineFont() {
    static const std::optional<std::string> font = []() -> std::optional<std::string> {
        std::optional<std::string> any;
        for (const std::string& file : freshlyListedFiles()) {
            if (!file.starts_with("/usr/share/fonts/") || !file.ends_with(".ttf"))
                continue;
            if (file.ends_with("/DejaVuSans.ttf"))
                return file;
            if (!any)
                any = file;
        }
        return any;
    }();
    return font;
}

// The faces in fontconfig's cache of folder; none when it has no valid cache.
inline std::optional<int> validCacheFaces(const std::string& folder) {
    FcConfig* config = FcInitLoadConfig();
    FcCache* cache =
        FcDirCacheLoad(reinterpret_cast<const FcChar8*>(folder.c_str()), config, nullptr);
    std::optional<int> faces;
    if (cache) {
        faces = FcCacheNumFont(cache);
        FcDirCacheUnload(cache);
    }
    FcConfigDestroy(config);
    return faces;
}

class FontconfigSandboxTest : public test::SandboxTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(SandboxFontconfig::install(sandbox.root()));
        const Layout layout = Layout::current();
        folder = sandbox.home() + "/" + layout.userFonts;
        links = sandbox.home() + "/" + layout.userFontLinks;
        listFile = sandbox.home() + "/" + layout.userFontConfig + "/" +
                   FontconfigFontManager::kListFileName;
        std::filesystem::create_directories(folder);
        if (!machineFont())
            GTEST_SKIP() << "fontconfig lists no TrueType font in /usr/share/fonts";
    }

    // A copy of the machine's font in the service's storage, put in place as
    // the installer does (a temporary name renamed over); `extra` bytes make
    // a new version.
    std::string copyFont(const std::string& name, const std::string& extra = {}) {
        const std::string path = folder + "/" + name;
        const std::string temporary = folder + "/." + name + ".new";
        std::filesystem::copy_file(*machineFont(), temporary,
                                   std::filesystem::copy_options::overwrite_existing);
        if (!extra.empty())
            test::Sandbox::writeFile(temporary, test::Sandbox::readFile(temporary) + extra);
        std::filesystem::rename(temporary, path);
        return path;
    }

    // The files a fresh fontconfig lists under the link folder.
    std::vector<std::string> listedLinks() {
        std::vector<std::string> out;
        for (const std::string& file : freshlyListedFiles())
            if (file.starts_with(links + "/"))
                out.push_back(file);
        return out;
    }

    std::shared_ptr<FontconfigFontManager> makeManager() {
        auto manager = FontconfigFontManager::create();
        EXPECT_TRUE(manager);
        return manager;
    }

    std::string folder;
    std::string links;
    std::string listFile;
};

}  // namespace tavo::platform
