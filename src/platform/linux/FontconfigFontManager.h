#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/FontManager.h"

namespace tavo::platform {

class FontFolderWatcher;

// Error codes of FontManagerError entries (the values of the system font
// manager where there is one).
inline constexpr long kFontManagerErrorFileNotFound = 101;
inline constexpr long kFontManagerErrorCannotWrite = 102;
inline constexpr long kFontManagerErrorNotInFontFolder = 105;
inline constexpr long kFontManagerErrorNotAFile = 106;
inline constexpr long kFontManagerErrorNameNotManaged = 107;

// The font manager on fontconfig. The service's files live in a storage
// folder that fontconfig never scans; registering one makes a hard link to it
// in a folder under one that fontconfig scans (<links>/<folder>/<file name>,
// see FontLinkFolders: a few shards and a small folder of recent links),
// unregistering removes the link. A link is
// made under a temporary name beginning with "." (which fontconfig skips) and
// renamed over the previous one, so a program never sees two versions of a
// font, nor half of one. Where a hard link cannot be made (another file
// system, a refusal) the file is copied instead, logged once.
//
// A file counts as registered while its link exists with the stored file's
// inode (for a copy: its size and modification time). The Persistent, Session
// and Process scopes all act the same.
//
// After each register/unregister call fontconfig's cache of the shard folders
// that changed is refreshed (never `fc-cache -f`), so no program rescans them
// at its start. Every method may be called from any thread.
class FontconfigFontManager : public FontManager {
public:
    // The managed fontconfig file of the first design (one reject glob per
    // inactive file); removed when found.
    static constexpr const char* kListFileName = "50-oskavelle-tavo.conf";
    // Shard folders of the links: few enough that a fontconfig program opens
    // few cache files at start-up, many enough that one change rescans few
    // fonts. Measured by bench/FontconfigBench.cpp (CPU, 1,000 fonts half
    // inactive, against the active files alone in one folder): 8 shards
    // 1.04x, 16 1.10x, 32 1.22x, 64 1.51x; one activation at 10,000 fonts
    // costs about 95, 52, 27 and 15 ms of CPU. 16 keeps the start-up of
    // every other program within 1.15x; the recent folder keeps a single
    // activation from rescanning a whole shard.
    static constexpr int kShardCount = 16;

    // Hard-links from to to (the link(2) seam); returns 0 or an errno value.
    using LinkFunction = std::function<int(const std::string& from, const std::string& to)>;
    // Whether a file carries the service's identification record.
    using ServiceFontTest = std::function<bool(const std::string& path)>;

    struct Options {
        std::string storageFolder;  // the service's files; not scanned by fontconfig
        std::string linkFolder;     // holds the shard folders; scanned by fontconfig
        int shardCount = kShardCount;
        LinkFunction link;  // empty: link(2)
    };

    explicit FontconfigFontManager(Options options);
    ~FontconfigFontManager() override;

    FontconfigFontManager(const FontconfigFontManager&) = delete;
    FontconfigFontManager& operator=(const FontconfigFontManager&) = delete;

    // The manager of the current user: <home>/<Layout::userFonts> and
    // <home>/<Layout::userFontLinks>. Inside a sandbox root it first points
    // fontconfig at the sandbox's configuration (SandboxFontconfig::install)
    // unless FONTCONFIG_FILE is set already. Then it moves an installation of
    // the first layout over (see migrateFirstLayout), with isServiceFont
    // telling the service's files apart (without it nothing is moved). None
    // when the current user has no home.
    static std::shared_ptr<FontconfigFontManager> create(ServiceFontTest isServiceFont = {});

    // Moves the service's files (those isServiceFont accepts) that lie
    // directly in the link folder, where the first layout kept them, into
    // storage, and registers those the list file did not hide; removes the
    // list file. Nothing else in the link folder is touched. Returns how
    // many files moved.
    int migrateFirstLayout(const std::string& listFile, const ServiceFontTest& isServiceFont);

    FontManagerScope scopeForFile(const std::string& path) override;
    bool registerFonts(const std::vector<std::string>& paths, FontManagerScope scope,
                       std::vector<FontManagerError>* errors) override;
    bool unregisterFonts(const std::vector<std::string>& paths, FontManagerScope scope,
                         std::vector<FontManagerError>* errors) override;
    void setFontsAddedHandler(FontsAddedHandler handler) override;
    // The name's hash shard: a large batch goes there.
    std::size_t registrationGroup(const std::string& fileName) const override;
    // Removes the links whose stored file is gone and refreshes the caches
    // of the shard folders that changed.
    void fontFilesDidChange() override;

    // One plain refresh of fontconfig's cache of every shard folder (see
    // FontconfigQuery::refreshDirectoryCache for what it costs). False when
    // fontconfig could not do it.
    bool refreshCache();

    const std::string& storageFolder() const { return storage_; }
    const std::string& linkFolder() const { return links_; }
    // The link (or copy) that registers the stored file of this name, or
    // where a large batch would put it.
    std::string linkPath(const std::string& fileName);
    // The folder of that link.
    std::string shardFolder(const std::string& fileName);

private:
    struct State;

    bool apply(const std::vector<std::string>& paths, bool registering,
               std::vector<FontManagerError>* errors);
    std::string shardFolderLocked(const std::string& fileName);  // state_->mutex held

    const std::string storage_;
    const std::string links_;
    const int shardCount_;
    std::shared_ptr<State> state_;  // shared (weakly) with the watcher's handler

    std::mutex watcherMutex_;
    std::unique_ptr<FontFolderWatcher> watcher_;
};

}  // namespace tavo::platform
