#include "SyncCommand.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

#include "ApiCommand.h"
#include "CountingFontManager.h"
#include "fontid/FontIdReader.h"
#include "fonts/FontInstaller.h"
#include "fonts/FontManagementController.h"
#include "foundation/Clock.h"
#include "foundation/Config.h"
#include "foundation/MainQueue.h"
#include "foundation/SerialQueue.h"
#include "platform/FontManager.h"
#include "platform/linux/FontconfigFontManager.h"
#include "service/ApiClient.h"
#include "service/ResultCodes.h"

namespace tavo::ctl {

namespace {

using namespace std::chrono_literals;
using SteadyTime = Clock::SteadyTime;

constexpr auto kRedrawInterval = 100ms;  // at most ten redraws a second
// For the run and the download in flight once a stop cancelled their transfers.
constexpr auto kInterruptWait = std::chrono::milliseconds(500);
constexpr int kBarWidth = 24;
constexpr const char* kNotSignedIn =
    "tavoctl sync: no signed-in user: sign in with TAVO first (the user configuration holds no "
    "device id or no refresh token)\n";

std::atomic<bool> gInterrupted{false};
int gSignalPipe[2] = {-1, -1};  // the handler writes, the watcher reads

extern "C" void onSyncSignal(int) {
    gInterrupted = true;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
}

// Stops the client's transfers as soon as SIGINT or SIGTERM arrives, in
// whatever phase the command is (the first token request included); the
// command then ends the run itself.
class SignalWatcher {
public:
    explicit SignalWatcher(ApiClient& client) {
        if (::pipe2(gSignalPipe, O_CLOEXEC) != 0)
            return;
        thread_ = std::thread([&client] {
            char byte = 0;
            while (::read(gSignalPipe[0], &byte, 1) < 0 && errno == EINTR) {
            }
            if (byte == 1)
                client.stopTransfers();
        });
    }
    ~SignalWatcher() {
        if (!thread_.joinable())
            return;
        const char done = 2;
        [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &done, 1);
        thread_.join();
        // The handlers are gone by now: the pipe can go.
        ::close(gSignalPipe[0]);
        ::close(gSignalPipe[1]);
        gSignalPipe[0] = gSignalPipe[1] = -1;
    }
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

private:
    std::thread thread_;
};

double secondsSince(SteadyTime start) {
    return std::chrono::duration<double>(Clock::current().steadyNow() - start).count();
}

std::string formatted(const char* fmt, double a) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, fmt, a);
    return buffer;
}

std::string bytesText(double bytes) {
    if (bytes < 1e6)
        return formatted("%.0f kB", bytes / 1e3);
    if (bytes < 1e9)
        return formatted("%.1f MB", bytes / 1e6);
    return formatted("%.2f GB", bytes / 1e9);
}

std::string durationText(double seconds) {
    if (seconds < 60)
        return formatted("%.1f s", seconds);
    const long whole = static_cast<long>(seconds);
    return std::to_string(whole / 60) + " min " + std::to_string(whole % 60) + " s";
}

// What the controller tells while the run goes on: the fonts its chain is
// to fetch, each font installed, and how the run ended. Calls come from the
// serial queue and the downloads' delegate queue.
class RunMonitor : public SyncObserver {
public:
    void syncDownloadsPlanned(long count) override {
        std::lock_guard lock(mutex_);
        total_ = count;
        chainStart_ = Clock::current().steadyNow();
    }
    void syncFontDownloaded(const std::string&, const std::string& path) override {
        struct stat st {};
        const bool sized = ::stat(path.c_str(), &st) == 0;
        std::lock_guard lock(mutex_);
        ++done_;
        if (sized)
            bytes_ += static_cast<double>(st.st_size);
    }
    void syncEnded(const SyncOutcome& outcome) override {
        {
            std::lock_guard lock(mutex_);
            outcome_ = outcome;
        }
        ended = true;
    }

    struct Snapshot {
        long total = -1;  // not known before the chain starts
        long done = 0;
        double bytes = 0;
        double chainSeconds = 0;
    };
    Snapshot snapshot() const {
        std::lock_guard lock(mutex_);
        Snapshot s;
        s.total = total_;
        s.done = total_ >= 0 ? std::min(done_, total_) : done_;
        s.bytes = bytes_;
        if (total_ >= 0)
            s.chainSeconds = secondsSince(chainStart_);
        return s;
    }
    std::optional<SyncOutcome> outcome() const {
        std::lock_guard lock(mutex_);
        return outcome_;
    }

    std::atomic<bool> runReturned{false};  // the run itself, before its downloads
    std::atomic<bool> ended{false};

private:
    mutable std::mutex mutex_;
    SteadyTime chainStart_{};
    long total_ = -1;
    long done_ = 0;
    double bytes_ = 0;
    std::optional<SyncOutcome> outcome_;
};

// Draws the progress: a bar redrawn in place on a terminal, otherwise a
// line about every tenth of the way and one at the end.
class ProgressView {
public:
    ProgressView(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}

    void update(const RunMonitor::Snapshot& s) {
        if (terminal_) {
            const auto now = Clock::current().steadyNow();
            if (drawn_ && now - lastDraw_ < kRedrawInterval)
                return;
            lastDraw_ = now;
            draw(s.total < 0 ? std::string("fetching the account's font list...")
                             : bar(s) + "  " + figures(s));
            return;
        }
        if (s.total <= 0 || s.done == 0)
            return;
        const long tenth = s.done * 10 / s.total;
        if (tenth > printedTenth_)
            print(s);
    }

    // The last state, and the line ended, ready for the summary.
    void finish(const RunMonitor::Snapshot& s) {
        if (std::exchange(finished_, true))
            return;
        if (terminal_) {
            draw(s.total > 0 ? bar(s) + "  " + figures(s) : std::string());
            if (drawnWidth_ > 0)
                out_ << "\n";
        } else if (s.total > 0 && s.done != printedDone_) {
            print(s);
        }
        out_ << std::flush;
    }

private:
    static std::string bar(const RunMonitor::Snapshot& s) {
        const long filled = s.total > 0 ? s.done * kBarWidth / s.total : kBarWidth;
        return "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "]";
    }
    static std::string figures(const RunMonitor::Snapshot& s) {
        std::string line = std::to_string(s.done) + "/" + std::to_string(s.total) + " fonts (" +
                           std::to_string(s.total > 0 ? s.done * 100 / s.total : 100) + "%)  " +
                           bytesText(s.bytes);
        if (s.chainSeconds > 0)
            line += "  " + formatted("%.1f fonts/s", s.done / s.chainSeconds) + "  " +
                    formatted("%.2f MB/s", s.bytes / 1e6 / s.chainSeconds);
        return line;
    }
    void print(const RunMonitor::Snapshot& s) {
        printedTenth_ = s.done * 10 / s.total;
        printedDone_ = s.done;
        out_ << figures(s) << "\n" << std::flush;
    }
    void draw(const std::string& line) {
        out_ << "\r" << line;
        // Spaces wipe what is left of a longer previous line.
        if (line.size() < drawnWidth_)
            out_ << std::string(drawnWidth_ - line.size(), ' ') << "\r" << line;
        out_ << std::flush;
        drawnWidth_ = line.size();
        drawn_ = true;
    }

    std::ostream& out_;
    const bool terminal_;
    bool drawn_ = false;
    std::size_t drawnWidth_ = 0;
    SteadyTime lastDraw_{};
    long printedTenth_ = 0;
    long printedDone_ = -1;
    bool finished_ = false;
};

// Stops the run and the download chain, cancels the transfers in flight
// and waits for both to end, their files removed. False when they did not
// end in time.
bool stopRun(FontManagementController& controller, ApiClient& client, SerialQueue& queue,
             const RunMonitor& monitor) {
    controller.stop();
    client.stopTransfers();
    const bool idle = MainQueue::main().runUntil(
        [&] { return monitor.runReturned && !controller.chainState().isFontDownloading; },
        kInterruptWait);
    const bool removed = client.waitForDownloads(idle ? kInterruptWait : Clock::Duration::zero());
    if (idle)
        queue.sync([] {});
    return idle && removed;
}

enum class Result { Completed, Failed, GaveUp, Interrupted };

}  // namespace

int runSyncCommand(std::ostream& out, std::ostream& err, ApiClient& client,
                   std::shared_ptr<platform::FontManager> fontManager, const SyncOptions& options) {
    const auto started = Clock::current().steadyNow();
    if (!client.deviceId() || client.deviceId()->empty() || !client.refreshToken() ||
        client.refreshToken()->empty()) {
        err << kNotSignedIn;
        return 2;
    }
    // What an earlier run that was killed left in the download workspace.
    FontInstaller::removeLeftovers();
    if (!client.accessToken() || client.accessToken()->empty()) {
        std::optional<Error> error;
        const TokenBase token = client.updateTokenPrivate(client.refreshToken(), &error);
        if (token.resultCode() == kHttpResponceCodeSucceeded && token.data &&
            token.data->accessToken) {
            client.setAccessToken(*token.data->accessToken);
        } else if (client.transfersStopped()) {
            err << "tavoctl sync: interrupted\n";
            return 1;
        } else if (error) {
            err << "tavoctl sync: the server could not be reached: " << error->text() << "\n";
            return 1;
        } else {
            err << "tavoctl sync: the server no longer accepts the stored sign-in (code "
                << token.resultCode() << "): sign in again with TAVO\n";
            return 2;
        }
    }

    auto queue = std::make_shared<SerialQueue>("TAVO.SerialDispatchQueue");
    client.setSerialDispatchQueue(queue);
    auto manager = std::make_shared<CountingFontManager>(
        fontManager ? fontManager : platform::FontManager::defaultManager());
    auto controller = FontManagementController::create(client, manager);
    // Shared with the run: it may outlive the command when a stop fails.
    auto monitor = std::make_shared<RunMonitor>();
    controller->syncObservers().add(monitor);
    ProgressView view(out, options.terminal);
    auto interrupted = [&] { return options.interrupted && options.interrupted(); };

    queue->async([controller, monitor] {
        controller->syncSettingedFontActiveDeactiveOnMembersSite();
        monitor->runReturned = true;
    });
    auto over = [&] { return monitor->ended || interrupted(); };
    while (!MainQueue::main().runUntil(over, kRedrawInterval))
        view.update(monitor->snapshot());

    auto resultOf = [](const std::optional<SyncOutcome>& outcome) {
        if (!outcome || outcome->result == SyncResult::Cancelled)
            return Result::Interrupted;
        switch (outcome->result) {
            case SyncResult::Completed:
                return Result::Completed;
            case SyncResult::Failed:
                return Result::Failed;
            default:
                return Result::GaveUp;
        }
    };
    Result result = resultOf(monitor->outcome());
    // A stop cancels what is in flight: whatever the run then reported, the
    // command was interrupted (unless the run had completed before).
    if ((interrupted() || client.transfersStopped()) && result != Result::Completed)
        result = Result::Interrupted;

    if (result == Result::Interrupted) {
        view.finish(monitor->snapshot());
        err << "tavoctl sync: interrupted: cancelling the transfer in flight\n";
        if (!stopRun(*controller, client, *queue, *monitor))
            err << "tavoctl sync: the transfer in flight did not end; leaving it\n";
        else if (resultOf(monitor->outcome()) == Result::Completed)
            result = Result::Completed;  // the last download ended meanwhile
    } else {
        // The chain has stopped; what is left are the last activations and
        // the last progress reports.
        queue->sync([] {});
        controller->waitForActivationBatches();
        queue->sync([] {});
    }
    MainQueue::main().drain();
    const auto last = monitor->snapshot();
    view.finish(last);

    const bool flushed = controller->store().flush();
    const auto outcome = monitor->outcome();
    const long left = result == Result::Failed ? 0
                      : outcome && outcome->result != SyncResult::Cancelled
                          ? outcome->left
                          : static_cast<long>(controller->store().downloadingCount());
    const long total = std::max(last.total, 0L);
    const long installed = std::max(total - left, 0L);
    const std::string reason = outcome ? outcome->reason : std::string();

    switch (result) {
        case Result::Completed:
            out << "Font Synchronization Completed\n";
            break;
        case Result::Failed:
            out << "Font Synchronization Failed: "
                << (reason.empty() ? std::string("the account's font list could not be fetched")
                                   : reason)
                << "\n";
            break;
        case Result::GaveUp:
            out << "Font Synchronization gave up: "
                << (reason.empty() ? std::string("a font could not be downloaded") : reason) << " ("
                << left << " left to download; the next synchronization fetches them)\n";
            break;
        case Result::Interrupted:
            out << "Font Synchronization interrupted (" << left
                << " left to download; the next synchronization fetches them)\n";
            break;
    }
    const long failures = (result == Result::GaveUp ? 1 : 0) + manager->failed;
    out << "  fonts installed: " << installed << " of " << total << " (" << bytesText(last.bytes)
        << ")\n"
        << "  activated:       " << manager->activated << "\n"
        << "  deactivated:     " << manager->deactivated << "\n"
        << "  failures:        " << failures << "\n"
        << "  elapsed:         " << durationText(secondsSince(started)) << "\n"
        << std::flush;
    if (!flushed)
        err << "tavoctl sync: the font list could not be written: "
            << Config::fontListPath().value_or("") << "\n";
    return result == Result::Completed && flushed ? 0 : 1;
}

int runSyncCommand(std::ostream& out, std::ostream& err) {
    const auto config = Config::userConfig();
    const auto deviceId = config ? Config::decryptedValue(*config, kConfigDeviceId) : std::nullopt;
    const auto refresh =
        config ? Config::decryptedValue(*config, kConfigRefreshTokens) : std::nullopt;
    if (!deviceId || deviceId->empty() || !refresh || refresh->empty()) {
        err << kNotSignedIn << "tavoctl sync: " << signInProblem() << "\n";
        return 2;
    }
    std::shared_ptr<platform::FontManager> fontManager = platform::FontconfigFontManager::create(
        [](const std::string& path) { return fontid::FontIdReader::read(path).has_value(); });
    if (!fontManager) {
        err << "tavoctl sync: the font manager could not be set up (the user has no home folder)\n";
        return 1;
    }
    platform::FontManager::setDefaultManager(fontManager);

    struct sigaction action = {};
    action.sa_handler = onSyncSignal;
    action.sa_flags = SA_RESETHAND;  // a second signal ends the program at once
    sigemptyset(&action.sa_mask);
    struct sigaction previousInt = {};
    struct sigaction previousTerm = {};
    gInterrupted = false;
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);

    ApiClient& client = ApiClient::defaultApiClient();
    configureClientFromUserConfig(client);
    SignalWatcher watcher(client);
    SyncOptions options;
    options.terminal = ::isatty(STDOUT_FILENO) == 1;
    options.interrupted = [] { return gInterrupted.load(); };
    const int status = runSyncCommand(out, err, client, fontManager, options);

    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
    return status;
}

}  // namespace tavo::ctl
