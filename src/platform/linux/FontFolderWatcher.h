#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tavo::platform {

// Reports the files that arrive in one folder: inotify's IN_CLOSE_WRITE (a
// file written in place) and IN_MOVED_TO (a file renamed into the folder),
// watched on a thread of its own. Names that begin with "." (temporary files,
// which fontconfig skips too) and subfolders are left out; events that follow
// each other within the quiet period are reported in one call, with full
// paths, each once, of the files that still exist then.
class FontFolderWatcher {
public:
    using Handler = std::function<void(const std::vector<std::string>& paths)>;

    static constexpr std::chrono::milliseconds kQuietPeriod{100};
    // A burst that never pauses is still reported after this long.
    static constexpr std::chrono::milliseconds kLongestBurst{1000};

    // Starts watching folder (created when missing); none when inotify or the
    // thread cannot be set up (logged).
    static std::unique_ptr<FontFolderWatcher> start(
        const std::string& folder, Handler handler,
        std::chrono::milliseconds quietPeriod = kQuietPeriod);

    // Stops; returns once the thread has ended (at once when called from the
    // handler, whose thread ends after it returns). No call starts afterwards.
    ~FontFolderWatcher();
    void stop();

    FontFolderWatcher(const FontFolderWatcher&) = delete;
    FontFolderWatcher& operator=(const FontFolderWatcher&) = delete;

private:
    struct Watch;
    explicit FontFolderWatcher(std::shared_ptr<Watch> watch);

    static void run(std::shared_ptr<Watch> watch);

    std::shared_ptr<Watch> watch_;  // shared with the thread, which may outlive this object
    std::thread thread_;
};

}  // namespace tavo::platform
