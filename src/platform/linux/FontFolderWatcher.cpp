#include "platform/linux/FontFolderWatcher.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <set>
#include <system_error>

#include "foundation/FileUtil.h"
#include "foundation/Log.h"

namespace tavo::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kWatchedEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_ONLYDIR;

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

// The descriptors, the handler and the stop flag: shared with the thread; the
// descriptors close with the last owner.
struct FontFolderWatcher::Watch {
    std::string folder;
    Handler handler;
    std::chrono::milliseconds quiet{kQuietPeriod};
    int inotify = -1;
    int wake = -1;
    std::atomic<bool> stopping{false};

    ~Watch() {
        if (inotify >= 0)
            ::close(inotify);
        if (wake >= 0)
            ::close(wake);
    }

    bool addWatch() {
        Error error;
        if (!FileUtil::createDirectories(folder, &error)) {
            WLog("Font folder watcher: cannot create %@: %@", folder, error);
            return false;
        }
        if (::inotify_add_watch(inotify, folder.c_str(), kWatchedEvents) < 0) {
            WLog("Font folder watcher: cannot watch %@: %@", folder, std::strerror(errno));
            return false;
        }
        return true;
    }
};

FontFolderWatcher::FontFolderWatcher(std::shared_ptr<Watch> watch) : watch_(std::move(watch)) {}

std::unique_ptr<FontFolderWatcher> FontFolderWatcher::start(const std::string& folder,
                                                            Handler handler,
                                                            std::chrono::milliseconds quietPeriod) {
    auto watch = std::make_shared<Watch>();
    watch->folder = folder;
    watch->handler = std::move(handler);
    watch->quiet = quietPeriod;
    watch->inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    watch->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (watch->inotify < 0 || watch->wake < 0) {
        WLog("Font folder watcher: cannot set up inotify: %@", std::strerror(errno));
        return nullptr;
    }
    if (!watch->addWatch())
        return nullptr;
    std::unique_ptr<FontFolderWatcher> watcher(new FontFolderWatcher(watch));
    try {
        watcher->thread_ = std::thread(&FontFolderWatcher::run, watch);
    } catch (const std::system_error& error) {
        WLog("Font folder watcher: cannot start its thread: %@", error.what());
        return nullptr;
    }
    return watcher;
}

FontFolderWatcher::~FontFolderWatcher() {
    stop();
}

void FontFolderWatcher::stop() {
    if (!watch_)
        return;
    watch_->stopping = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(watch_->wake, &one, sizeof(one));
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach();  // from the handler: the thread ends after it returns
        else
            thread_.join();
    }
    watch_.reset();
}

void FontFolderWatcher::run(std::shared_ptr<Watch> watch) {
    pthread_setname_np(pthread_self(), "fontWatcher");
    std::vector<std::string> pending;
    std::set<std::string> pendingSet;
    Clock::time_point firstEvent;
    Clock::time_point lastEvent;
    alignas(inotify_event) char buffer[16384];

    const auto deliver = [&] {
        std::vector<std::string> paths;
        for (std::string& path : pending)
            if (isRegularFile(path))
                paths.push_back(std::move(path));
        pending.clear();
        pendingSet.clear();
        if (!paths.empty() && !watch->stopping)
            watch->handler(paths);
    };

    pollfd fds[2] = {{watch->inotify, POLLIN, 0}, {watch->wake, POLLIN, 0}};
    while (!watch->stopping) {
        int timeout = -1;
        if (!pending.empty()) {
            const Clock::time_point due =
                std::min(lastEvent + watch->quiet, firstEvent + kLongestBurst);
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
            timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
        }
        const int ready = ::poll(fds, 2, timeout);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || watch->stopping || (fds[1].revents & POLLIN))
            break;
        if (ready == 0) {
            deliver();
            continue;
        }
        if (!(fds[0].revents & POLLIN))
            continue;
        for (;;) {
            const ssize_t length = ::read(watch->inotify, buffer, sizeof(buffer));
            if (length < 0 && errno == EINTR)
                continue;
            if (length <= 0)
                break;
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->mask & IN_Q_OVERFLOW)
                    WLog("Font folder watcher: events of %@ were lost", watch->folder);
                if ((event->mask & IN_IGNORED) && !watch->stopping) {
                    // The folder went away: watch the one created in its place.
                    if (!watch->addWatch())
                        return;
                    continue;
                }
                if ((event->mask & IN_ISDIR) || event->len == 0 || event->name[0] == '\0' ||
                    event->name[0] == '.')
                    continue;
                std::string path = watch->folder + "/" + event->name;
                if (pending.empty())
                    firstEvent = Clock::now();
                lastEvent = Clock::now();
                if (pendingSet.insert(path).second)
                    pending.push_back(std::move(path));
            }
        }
    }
}

}  // namespace tavo::platform
