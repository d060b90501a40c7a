// font_sync_bench: the font synchronization of the client against the
// reference service, next to the plain tools doing the same transfers.
//
// It measures a few long operations once each, side by side, and prints a
// table of times, baselines and ratios:
//   A  curl fetching every font file over one kept-alive connection;
//      the first synchronization (every font downloaded and activated);
//   B  paging the account's font list alone;
//      the second synchronization (nothing to do);
//   the latency of a font switched on on the web site until its file is in
//   the font folder, over the event stream;
//   the peak memory of this process around the first synchronization.
//
// Everything runs inside a sandbox root of its own under the temporary
// folder; the service runs as a separate process so that its memory stays
// out of the client's figures.
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "SyncBenchSupport.h"
#include "events/NotificationsApi.h"
#include "events/SSEConstants.h"
#include "fonts/FontManagementController.h"
#include "foundation/Const.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "foundation/Process.h"
#include "foundation/SerialQueue.h"
#include "platform/FontManager.h"
#include "platform/Layout.h"
#include "platform/SystemInfo.h"
#include "service/ApiClient.h"
#include "service/FontsApi.h"
#include "service/HttpTransport.h"
#include "service/LoginApi.h"

#if TAVO_BENCH_FONTCONFIG
#include <fontconfig/fontconfig.h>

#include "platform/linux/FontconfigFontManager.h"
#endif

#ifndef TAVO_REFSERVICE_PROGRAM
#define TAVO_REFSERVICE_PROGRAM "tavo-refservice"
#endif

namespace fs = std::filesystem;
using namespace tavo;
using namespace tavo::bench;
using Json = nlohmann::json;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr const char* kMail = "bench@example.com";
constexpr const char* kPassword = "bench-password";
constexpr auto kServiceStartTimeout = std::chrono::minutes(5);
constexpr auto kSyncTimeout = std::chrono::hours(1);
constexpr auto kEventTimeout = std::chrono::seconds(30);
constexpr auto kStatPoll = std::chrono::microseconds(500);

// A failure that ends the run: the figures would mean nothing.
struct BenchError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

double secondsBetween(SteadyClock::time_point from, SteadyClock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

double secondsSince(SteadyClock::time_point from) {
    return secondsBetween(from, SteadyClock::now());
}

long peakRssKilobytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// CPU seconds of each thread of this process but the calling one, summed
// by thread name (the scheduler's nanosecond count).
std::map<std::string, double> otherThreadsCpuByName() {
    std::map<std::string, double> byName;
    const std::string self = std::to_string(::gettid());
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
        if (entry.path().filename() == self)
            continue;
        std::ifstream comm(entry.path() / "comm");
        std::ifstream schedstat(entry.path() / "schedstat");
        std::string name;
        double nanoseconds = 0;
        if (std::getline(comm, name) && (schedstat >> nanoseconds))
            byName[name] += nanoseconds / 1e9;
    }
    return byName;
}

// User and system CPU seconds of RUSAGE_SELF or RUSAGE_CHILDREN (the
// children that ended and were waited for).
double cpuSecondsOf(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double processCpuSeconds() {
    return cpuSecondsOf(RUSAGE_SELF);
}

double threadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// User and system time of another process, from /proc.
double childCpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    // Fields from the state (3rd) on; utime and stime are the 14th and 15th.
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14)
            utime = std::stoull(field);
        if (index == 15)
            stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::size_t countFontFiles(const std::string& folder) {
    std::size_t count = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (entry.is_regular_file() && entry.path().filename().string().front() != '.')
            ++count;
    return count;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// ---- the sandbox root

class SandboxRoot {
public:
    explicit SandboxRoot(bool keep) : keep_(keep) {
        std::string folder = (fs::temp_directory_path() / "tavo-sync-bench-XXXXXX").string();
        if (!::mkdtemp(folder.data()))
            throw BenchError(std::string("cannot create a sandbox folder: ") +
                             std::strerror(errno));
        root_ = folder;
        ::setenv("TAVO_ROOT", root_.c_str(), 1);
        platform::setSandboxRoot(root_);
        const auto home = platform::SystemInfo::homeDirectory();
        if (!home || home->rfind(root_, 0) != 0)
            throw BenchError("the sandbox root has no home folder for the current user");
        home_ = *home;
        fs::create_directories(home_);
        fs::create_directories(root_ + "/tmp");
        // Whatever reads the home or the temporary folder from the
        // environment (curl's ~/.curlrc, fontconfig's caches, download
        // temporaries) stays inside the sandbox as well.
        ::setenv("HOME", home_.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home_ + "/.config").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (home_ + "/.cache").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home_ + "/.local/share").c_str(), 1);
        ::setenv("TMPDIR", (root_ + "/tmp").c_str(), 1);
    }
    ~SandboxRoot() {
        if (keep_) {
            std::printf("sandbox root kept at %s\n", root_.c_str());
            return;
        }
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    SandboxRoot(const SandboxRoot&) = delete;
    SandboxRoot& operator=(const SandboxRoot&) = delete;

    const std::string& root() const { return root_; }

private:
    bool keep_;
    std::string root_;
    std::string home_;
};

// ---- the reference service, as a process of its own

class ServiceProcess {
public:
    ServiceProcess(const std::string& program, const std::vector<std::string>& args) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            throw BenchError(std::string("pipe: ") + std::strerror(errno));
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> pointers;
        for (auto& arg : argv)
            pointers.push_back(arg.data());
        pointers.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ < 0)
            throw BenchError(std::string("fork: ") + std::strerror(errno));
        if (pid_ == 0) {
            // Only async-signal-safe calls until exec.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::dup2(fds[1], STDOUT_FILENO);
            ::execv(pointers[0], pointers.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        output_ = fds[0];
    }
    ~ServiceProcess() { stop(); }
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // Reads the start-up lines until both addresses are known.
    ServiceAddresses waitUntilReady(std::chrono::steady_clock::duration timeout) {
        ServiceAddresses addresses;
        std::string pending;
        const auto until = SteadyClock::now() + timeout;
        while (!addresses.complete()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - SteadyClock::now());
            if (left.count() <= 0)
                throw BenchError("the reference service did not print its addresses in time");
            pollfd p{output_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000))) <= 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(output_, buffer, sizeof buffer);
            if (n <= 0)
                throw BenchError("the reference service ended before it was ready (exit status " +
                                 std::to_string(reap()) + ")");
            pending.append(buffer, static_cast<std::size_t>(n));
            for (auto end = pending.find('\n'); end != std::string::npos;
                 end = pending.find('\n')) {
                readServiceLine(pending.substr(0, end), addresses);
                pending.erase(0, end + 1);
            }
        }
        return addresses;
    }

    pid_t pid() const { return pid_; }

    void stop() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        reap();
        if (output_ >= 0)
            ::close(output_);
        output_ = -1;
    }

private:
    int reap() {
        int status = 0;
        if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_)
            pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    pid_t pid_ = -1;
    int output_ = -1;
};

// ---- the font manager, timed

#if !TAVO_BENCH_FONTCONFIG
// Without the Linux backend: registration is a set of paths.
class SetFontManager : public platform::FontManager {
public:
    platform::FontManagerScope scopeForFile(const std::string& path) override {
        std::lock_guard lock(mutex_);
        return registered_.count(path) ? platform::FontManagerScope::Persistent
                                       : platform::FontManagerScope::None;
    }
    bool registerFonts(const std::vector<std::string>& paths, platform::FontManagerScope,
                       std::vector<platform::FontManagerError>*) override {
        std::lock_guard lock(mutex_);
        registered_.insert(paths.begin(), paths.end());
        return true;
    }
    bool unregisterFonts(const std::vector<std::string>& paths, platform::FontManagerScope,
                         std::vector<platform::FontManagerError>*) override {
        std::lock_guard lock(mutex_);
        for (const auto& path : paths)
            registered_.erase(path);
        return true;
    }
    void setFontsAddedHandler(FontsAddedHandler) override {}

private:
    std::mutex mutex_;
    std::set<std::string> registered_;
};
#endif

// Passes every call on and adds up the time spent in it.
class TimedFontManager : public platform::FontManager {
public:
    explicit TimedFontManager(std::shared_ptr<platform::FontManager> inner)
        : inner_(std::move(inner)) {}

    platform::FontManagerScope scopeForFile(const std::string& path) override {
        const auto start = SteadyClock::now();
        const auto scope = inner_->scopeForFile(path);
        add(queries, start);
        return scope;
    }
    bool registerFonts(const std::vector<std::string>& paths, platform::FontManagerScope scope,
                       std::vector<platform::FontManagerError>* errors) override {
        const auto start = SteadyClock::now();
        const bool ok = inner_->registerFonts(paths, scope, errors);
        add(registrations, start, paths.size());
        return ok;
    }
    bool unregisterFonts(const std::vector<std::string>& paths, platform::FontManagerScope scope,
                         std::vector<platform::FontManagerError>* errors) override {
        const auto start = SteadyClock::now();
        const bool ok = inner_->unregisterFonts(paths, scope, errors);
        add(unregistrations, start, paths.size());
        return ok;
    }
    std::size_t registrationGroup(const std::string& fileName) const override {
        return inner_->registrationGroup(fileName);
    }
    void fontFilesDidChange() override {
        const auto start = SteadyClock::now();
        inner_->fontFilesDidChange();
        add(changes, start);
    }
    void setFontsAddedHandler(FontsAddedHandler handler) override {
        inner_->setFontsAddedHandler(std::move(handler));
    }

    struct Tally {
        long calls = 0;
        long files = 0;
        double seconds = 0;
    };
    Tally queries, registrations, unregistrations, changes;

    void reset() {
        std::lock_guard lock(mutex_);
        queries = registrations = unregistrations = changes = Tally{};
    }
    template <typename F>
    auto read(F f) {
        std::lock_guard lock(mutex_);
        return f();
    }

private:
    void add(Tally& tally, SteadyClock::time_point start, std::size_t files = 1) {
        const double seconds = secondsSince(start);
        std::lock_guard lock(mutex_);
        ++tally.calls;
        tally.files += static_cast<long>(files);
        tally.seconds += seconds;
    }

    std::shared_ptr<platform::FontManager> inner_;
    std::mutex mutex_;
};

std::shared_ptr<platform::FontManager> realFontManager(std::string* name) {
#if TAVO_BENCH_FONTCONFIG
    auto manager = platform::FontconfigFontManager::create();
    if (!manager)
        throw BenchError("no fontconfig font manager for the sandbox home");
    *name = "fontconfig";
    return manager;
#else
    *name = "in-bench set (no Linux font manager in this tree)";
    return std::make_shared<SetFontManager>();
#endif
}

// ---- the client

void signIn(ApiClient& client) {
    LoginApi api(client);
    std::optional<Error> error;
    const auto device =
        api.deviceIdWithMailAddress(kMail, kPassword, "bench-host", "bench", "bench-key", &error);
    if (error || device.resultCode() != 0 || !device.data)
        throw BenchError("device registration failed");
    client.setDeviceId(device.data->deviceId);
    const auto login = api.loginWithMailAddress(kMail, kPassword, &error);
    if (error || login.resultCode() != 0 || !login.data)
        throw BenchError("sign-in failed");
    client.setAccessToken(login.data->accessToken);
    client.setRefreshToken(login.data->refreshToken);
    client.isLoginStatus = true;
}

// Pages through the account's available fonts; the fonts go to fonts when given.
void pageFontList(ApiClient& client, std::vector<Fonts>* fonts) {
    FontsApi api(client);
    for (long offset = 0;; offset += kLimit) {
        std::optional<Error> error;
        const FontsBase page =
            api.getFontsWithContains(kContainsAvailableFonts, kLimit, offset, &error);
        if (error || page.resultCode() != 0 || !page.data)
            throw BenchError("the font list request failed at offset " + std::to_string(offset));
        if (fonts && page.data->fonts)
            fonts->insert(fonts->end(), page.data->fonts->begin(), page.data->fonts->end());
        if (!page.data->hasNext.value_or(false))
            return;
    }
}

Json adminPost(const std::string& apiBase, const std::string& path, const Json& body) {
    HttpRequest request;
    request.method = "POST";
    request.url = apiBase + path;
    request.headers = {{"Content-Type", "application/json"}};
    request.body = body.dump();
    request.hasBody = true;
    const Response response = HttpTransport::perform(request);
    const Json answer = Json::parse(response.body.value_or(""), nullptr, false);
    if (response.error || response.statusCode() != 200 || !answer.is_object() ||
        !answer.value("ok", false))
        throw BenchError("admin request " + path +
                         " failed: " + response.body.value_or("(no answer)"));
    return answer;
}

Json adminGet(const std::string& apiBase, const std::string& path) {
    HttpRequest request;
    request.url = apiBase + path;
    const Response response = HttpTransport::perform(request);
    const Json answer = Json::parse(response.body.value_or(""), nullptr, false);
    if (response.error || response.statusCode() != 200 || !answer.is_object())
        throw BenchError("admin request " + path + " failed");
    return answer;
}

// ---- one synchronization, driven as the resident application drives it

struct SyncFigures {
    double wall = 0;    // from the submission until the list is on disk
    double run = 0;     // the run itself on the serial queue (list pages, decisions, list write)
    double chain = 0;   // from the end of the run until the last download ended
    double finish = 0;  // activation batches and the list's last write after that
    double processCpu = 0;       // this process, all threads
    double mainCpu = 0;          // the main thread (progress list, driving)
    double serverCpu = 0;        // the reference service
    long peakRssAtChainEnd = 0;  // kilobytes, before the activation batches
    // The other threads by name; threads that ended meanwhile are missing.
    std::map<std::string, double> cpuByThread;
};

struct Client {
    ApiClient& client;
    std::shared_ptr<SerialQueue> queue;
    std::shared_ptr<FontManagementController> controller;
    pid_t servicePid;

    // Waits until no synchronization runs and no download is in flight.
    bool waitForChain(std::chrono::steady_clock::duration timeout) {
        const bool done = MainQueue::main().runUntil(
            [&] {
                // Cheap flags first: the serial queue is asked only near the end.
                if (controller->chainState().isFontDownloading ||
                    controller->syncGate().inFontSynchroizing())
                    return false;
                queue->sync([] {});
                return !controller->chainState().isFontDownloading &&
                       !controller->syncGate().inFontSynchroizing();
            },
            timeout);
        queue->sync([] {});
        MainQueue::main().drain();
        return done;
    }

    SyncFigures synchronize() {
        struct Marks {
            std::atomic<SteadyClock::rep> runStart{0}, runEnd{0};
        };
        auto marks = std::make_shared<Marks>();
        SyncFigures figures;
        const double cpu0 = processCpuSeconds(), main0 = threadCpuSeconds(),
                     server0 = childCpuSeconds(servicePid);
        const auto threads0 = otherThreadsCpuByName();
        const auto start = SteadyClock::now();
        auto c = controller;
        queue->async([c, marks] {
            marks->runStart = SteadyClock::now().time_since_epoch().count();
            c->syncSettingedFontActiveDeactiveOnMembersSite();
            marks->runEnd = SteadyClock::now().time_since_epoch().count();
        });
        if (!waitForChain(kSyncTimeout))
            throw BenchError("the synchronization did not end in time");
        const auto chainEnd = SteadyClock::now();
        figures.peakRssAtChainEnd = peakRssKilobytes();
        controller->waitForActivationBatches();
        controller->store().flush();
        const auto end = SteadyClock::now();
        const SteadyClock::time_point runStart{SteadyClock::duration(marks->runStart.load())};
        const SteadyClock::time_point runEnd{SteadyClock::duration(marks->runEnd.load())};
        figures.wall = secondsBetween(start, end);
        figures.run = secondsBetween(runStart, runEnd);
        figures.chain = std::max(0.0, secondsBetween(runEnd, chainEnd));
        figures.finish = secondsBetween(chainEnd, end);
        figures.processCpu = processCpuSeconds() - cpu0;
        figures.mainCpu = threadCpuSeconds() - main0;
        figures.serverCpu = childCpuSeconds(servicePid) - server0;
        for (const auto& [name, seconds] : otherThreadsCpuByName()) {
            const auto before = threads0.find(name);
            figures.cpuByThread[name] = seconds - (before == threads0.end() ? 0 : before->second);
        }
        return figures;
    }
};

// ---- web-side activations over the event stream

class ActivationListener : public ServerSentEventDelegate {
public:
    ActivationListener(std::shared_ptr<FontManagementController> controller,
                       std::shared_ptr<SerialQueue> queue)
        : controller_(std::move(controller)), queue_(std::move(queue)) {}

    void serverSentEventDidOpen(const std::shared_ptr<ServerSentEvent>&) override {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

    void serverSentEvent(const std::shared_ptr<ServerSentEvent>&, const SSEEvents& event) override {
        const auto received = SteadyClock::now();
        if (!event.event())
            return;
        const std::string data = event.data().value_or("");
        {
            std::lock_guard lock(mutex_);
            if (!event.identifier() || !hasIntegerValue(*event.identifier())) {
                ++unordered_;
            } else {
                const long long id = integerValue(*event.identifier());
                if (lastId_ && id <= *lastId_)
                    ++unordered_;  // an old event delivered again
                lastId_ = id;
            }
            const Json json = Json::parse(data, nullptr, false);
            if (json.is_object() && json.contains("fontId"))
                receivedAt_[json["fontId"].is_string() ? json["fontId"].get<std::string>()
                                                       : json["fontId"].dump()] = received;
        }
        if (*event.event() != kEventFontActivate)
            return;
        // As the resident application does: the event's user information,
        // handed to the controller on the client's serial queue.
        UserInfo info{{*event.event(), event}, {kFMUserInfoKeyJsonData, data}};
        auto controller = controller_;
        queue_->async([controller, info] { controller->activateFontOnWeb(info); });
    }

    void serverSentEvent(const std::shared_ptr<ServerSentEvent>&,
                         const std::optional<Error>&) override {
        end();
    }
    void serverSentEventDidClose(const std::shared_ptr<ServerSentEvent>&) override { end(); }

    bool waitUntilOpen(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return open_ || ended_; }) && open_ &&
               !ended_;
    }
    bool waitUntilEnded(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return ended_; });
    }
    bool ended() const {
        std::lock_guard lock(mutex_);
        return ended_;
    }
    long unordered() const {
        std::lock_guard lock(mutex_);
        return unordered_;
    }
    std::optional<SteadyClock::time_point> receivedAt(const std::string& fontId) const {
        std::lock_guard lock(mutex_);
        const auto it = receivedAt_.find(fontId);
        return it == receivedAt_.end() ? std::nullopt : std::optional(it->second);
    }

private:
    void end() {
        std::lock_guard lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    }

    std::shared_ptr<FontManagementController> controller_;
    std::shared_ptr<SerialQueue> queue_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    bool ended_ = false;
    long unordered_ = 0;
    std::optional<long long> lastId_;
    std::map<std::string, SteadyClock::time_point> receivedAt_;
};

// Watches the font folder for files moved or written into it.
class FolderWatch {
public:
    explicit FolderWatch(const std::string& folder) {
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0 ||
            ::inotify_add_watch(fd_, folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE | IN_CREATE) < 0)
            throw BenchError(std::string("inotify on the font folder: ") + std::strerror(errno));
    }
    ~FolderWatch() { ::close(fd_); }
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Waits for a change of the folder, at most the interval; drops the events.
    void wait(std::chrono::nanoseconds interval) {
        pollfd p{fd_, POLLIN, 0};
        const timespec timeout{0, static_cast<long>(interval.count())};
        if (::ppoll(&p, 1, &timeout, nullptr) > 0) {
            char buffer[8192];
            while (::read(fd_, buffer, sizeof buffer) > 0) {
            }
        }
    }

private:
    int fd_ = -1;
};

struct LatencyFigures {
    std::vector<double> total;     // admin request to file in the folder
    std::vector<double> delivery;  // admin request to the event at the delegate
    std::vector<double> settle;    // file in the folder to chain stopped and font activated
    std::vector<double> visible;   // admin request to the font listed by a program starting then
    std::vector<double> cpu;       // CPU of the client's queues for one event, until settled
    std::map<std::string, double> cpuByThread;  // summed over the events
    long unordered = 0;
};

// How a program that starts now sees the fonts: what it lists, where the
// link of a stored file is, and how a font is taken off the machine with the
// caches kept up to date.
struct FreshView {
    std::function<bool(const std::string& path)> lists;
    std::function<std::string(const std::string& fileName)> linkOf;
    std::function<void(const std::string& path)> forget;
};

#if TAVO_BENCH_FONTCONFIG
// Whether a program starting now lists the file: a configuration loaded
// afresh from the sandbox's files and caches, as at a program's start.
bool freshFontconfigLists(const std::string& path) {
    FcConfig* config = FcInitLoadConfigAndFonts();
    if (!config)
        return false;
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FILE, reinterpret_cast<const FcChar8*>(path.c_str()));
    FcObjectSet* objects = FcObjectSetBuild(FC_FILE, nullptr);
    bool listed = false;
    if (FcFontSet* fonts = FcFontList(config, pattern, objects)) {
        listed = fonts->nfont > 0;
        FcFontSetDestroy(fonts);
    }
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    FcConfigDestroy(config);
    return listed;
}
#endif

LatencyFigures measureWebActivations(Client& c, const std::string& apiBase,
                                     const std::vector<Fonts>& fonts, long events,
                                     const FreshView& fresh) {
    const std::string folder = Const::userFontDirectoryPath().value_or("");
    auto listener = std::make_shared<ActivationListener>(c.controller, c.queue);
    // No Last-Event-ID: the stream starts with the events sent from now on.
    auto stream =
        NotificationsApi(c.client).getNotificationsAsyncWithLastEventId(std::nullopt, listener);
    if (!listener->waitUntilOpen(std::chrono::seconds(10)))
        throw BenchError("the event stream did not open");
    // The server counts the stream once it is registered for events.
    for (int tries = 0; adminGet(apiBase, "/admin/streams").value("open", 0) < 1; ++tries) {
        if (tries > 1000)
            throw BenchError("the service does not list the event stream");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }

    FolderWatch watch(folder);
    LatencyFigures figures;
    auto& store = c.controller->store();
    for (long i = 0; i < events; ++i) {
        const Fonts& font =
            fonts[static_cast<std::size_t>(i * static_cast<long>(fonts.size()) / events)];
        const std::string id = font.fontId.value_or("");
        const std::string path = folder + "/" + font.fileName.value_or("");
        // The font is gone from this machine: no file, no link, no record.
        bool written = false;
        c.queue->sync([&] {
            if (fresh.forget)
                fresh.forget(path);
            ::unlink(path.c_str());
            auto list = store.list().value_or(PlistDict{});
            list.erase(id);
            written = store.replace(std::move(list));
        });
        if (!written)
            throw BenchError("the font list could not be written");
        if (exists(path))
            throw BenchError("could not remove " + path);

        const double cpu0 = processCpuSeconds(), main0 = threadCpuSeconds();
        const auto threads0 = otherThreadsCpuByName();
        const auto t0 = SteadyClock::now();
        adminPost(apiBase, "/admin/fonts/activate", {{"mailAddress", kMail}, {"fontId", id}});
        for (;;) {
            if (exists(path))
                break;
            if (SteadyClock::now() - t0 > kEventTimeout || listener->ended())
                throw BenchError("font " + id + " did not arrive after its web-side activation");
            MainQueue::main().drain();
            watch.wait(kStatPoll);
        }
        const auto t1 = SteadyClock::now();
        figures.total.push_back(secondsBetween(t0, t1));
        if (const auto received = listener->receivedAt(id))
            figures.delivery.push_back(secondsBetween(t0, *received));

        // Until a program starting now lists the font: each look is a
        // fresh load of the configuration, on this (the main) thread.
        const std::string link =
            fresh.linkOf ? fresh.linkOf(font.fileName.value_or("")) : std::string();
        if (fresh.lists && !link.empty()) {
            while (!fresh.lists(fresh.linkOf(font.fileName.value_or("")))) {
                if (SteadyClock::now() - t0 > kEventTimeout)
                    throw BenchError("font " + id + " never became visible to a fresh fontconfig");
                MainQueue::main().drain();
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            figures.visible.push_back(secondsSince(t0));
        }

        // Lets the chain stop and activate the font before the next event.
        if (!c.waitForChain(kEventTimeout))
            throw BenchError("the download chain did not stop after font " + id);
        c.controller->waitForActivationBatches();
        figures.settle.push_back(secondsSince(t1));
        // The main thread only drove and looked: the client's own work is
        // the rest of the process.
        figures.cpu.push_back((processCpuSeconds() - cpu0) - (threadCpuSeconds() - main0));
        for (const auto& [name, seconds] : otherThreadsCpuByName()) {
            const auto before = threads0.find(name);
            figures.cpuByThread[name] += seconds - (before == threads0.end() ? 0 : before->second);
        }
    }
    figures.unordered = listener->unordered();
    stream->close();
    listener->waitUntilEnded(std::chrono::seconds(5));
    return figures;
}

// ---- baselines

// The wall time; curl's own CPU goes to cpu.
double curlBaseline(const std::string& scratch, ApiClient& client, const std::vector<Fonts>& fonts,
                    double* cpu) {
    fs::create_directories(scratch);
    std::vector<std::pair<std::string, std::string>> transfers;
    for (const auto& font : fonts)
        transfers.emplace_back(client.apiEndpoint() + FontsApi::fontPath(font.fontId.value_or("")),
                               scratch + "/" + font.fontId.value_or(""));
    const std::string config = scratch + ".curlrc";
    {
        std::ofstream out(config);
        out << curlConfig(
            {std::string(kHeaderDeviceId) + ": " + client.deviceId().value_or(""),
             std::string(kHeaderAuthorization) + ": Bearer " + client.accessToken().value_or("")},
            transfers);
        if (!out)
            throw BenchError("cannot write the curl configuration");
    }
    // -q first: no ~/.curlrc; --fail: an error answer is a failure, not a file.
    const double cpu0 = cpuSecondsOf(RUSAGE_CHILDREN);  // curl's, once it ended
    const auto start = SteadyClock::now();
    const ProcessResult result =
        Process::run("curl", {"-q", "--silent", "--show-error", "--fail", "-K", config}, false);
    const double seconds = secondsSince(start);
    *cpu = cpuSecondsOf(RUSAGE_CHILDREN) - cpu0;
    if (!result.started)
        throw BenchError("curl could not be started");
    if (result.exitStatus != 0)
        throw BenchError("curl ended with status " + std::to_string(result.exitStatus));
    const std::size_t files = countFontFiles(scratch);
    if (files != fonts.size())
        throw BenchError("curl stored " + std::to_string(files) + " of " +
                         std::to_string(fonts.size()) + " files");
    return seconds;
}

double pagingBaseline(ApiClient& client) {
    const auto start = SteadyClock::now();
    pageFontList(client, nullptr);
    return secondsSince(start);
}

std::string percentText(double part, double whole) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.0f%%", whole > 0 ? 100.0 * part / whole : 0.0);
    return buffer;
}

void printBreakdown(const char* title, const SyncFigures& f, TimedFontManager& manager,
                    long downloads) {
    const auto tallies = manager.read([&] {
        return std::vector<TimedFontManager::Tally>{manager.queries, manager.registrations,
                                                    manager.unregistrations, manager.changes};
    });
    std::printf("%s: wall %s\n", title, durationText(f.wall).c_str());
    std::printf("  run on the serial queue (list pages, decisions, list write)  %10s  %4s\n",
                durationText(f.run).c_str(), percentText(f.run, f.wall).c_str());
    if (downloads > 0)
        std::printf("  download chain after the run (%ld downloads, %s each)    %10s  %4s\n",
                    downloads, durationText(f.chain / static_cast<double>(downloads)).c_str(),
                    durationText(f.chain).c_str(), percentText(f.chain, f.wall).c_str());
    else
        std::printf("  after the run until the chain stopped                          %10s  %4s\n",
                    durationText(f.chain).c_str(), percentText(f.chain, f.wall).c_str());
    std::printf("  activation batches and last list write after that              %10s  %4s\n",
                durationText(f.finish).c_str(), percentText(f.finish, f.wall).c_str());
    const char* names[] = {"scopeForFile", "registerFonts", "unregisterFonts",
                           "fontFilesDidChange"};
    for (std::size_t i = 0; i < tallies.size(); ++i)
        if (tallies[i].calls > 0)
            std::printf("  font manager %-18s %6ld calls %6ld files           %10s  %4s\n",
                        names[i], tallies[i].calls, tallies[i].files,
                        durationText(tallies[i].seconds).c_str(),
                        percentText(tallies[i].seconds, f.wall).c_str());
    std::printf("  peak RSS when the last download ended: %s\n",
                megabytesText(f.peakRssAtChainEnd).c_str());
    std::printf("  CPU: this process %s (main thread %s), reference service %s\n",
                durationText(f.processCpu).c_str(), durationText(f.mainCpu).c_str(),
                durationText(f.serverCpu).c_str());
    std::printf("  CPU by thread:");
    for (const auto& [name, seconds] : f.cpuByThread)
        if (seconds >= 0.001)
            std::printf(" %s %s", name.c_str(), durationText(seconds).c_str());
    std::printf("\n");
}

int runBench(const SyncBenchOptions& options) {
    SandboxRoot sandbox(options.keep);
    const long baselineRssAtStart = peakRssKilobytes();

    // The program log, where the resident application writes it.
    if (options.log) {
        const std::string logPath = Const::applicationLogPath().value_or("");
        std::error_code ignored;
        fs::create_directories(fs::path(logPath).parent_path(), ignored);
        std::ofstream{logPath, std::ios::app};  // present from the start, as after an earlier run
        Log::defaultLog().setLogFilePath(logPath, "TAVO");
    } else
        Log::defaultLog().setLogFilePath("", "TAVO");

    // 1. The reference service with one account under contract.
    const std::string seedPath = sandbox.root() + "/seed.json";
    {
        const Json seed = {{"syntheticFonts", {{"count", options.fonts}}},
                           {"accounts",
                            {{{"mailAddress", kMail},
                              {"password", kPassword},
                              {"maxDevices", 5},
                              {"contractIds", {"c-1"}},
                              {"fonts", "all"}}}}};
        std::ofstream out(seedPath);
        out << seed.dump(2);
        if (!out)
            throw BenchError("cannot write the seed");
    }
    const std::string program =
        options.refservice.empty() ? TAVO_REFSERVICE_PROGRAM : options.refservice;
    std::printf("font_sync_bench: %ld fonts, %ld events, sandbox root %s\n", options.fonts,
                options.events, sandbox.root().c_str());
    std::printf("starting %s ...\n", program.c_str());
    std::fflush(stdout);
    const auto serviceStart = SteadyClock::now();
    ServiceProcess service(program,
                           {"--seed", seedPath, "--port", "0", "--sse-port", "0", "--quiet"});
    const ServiceAddresses addresses = service.waitUntilReady(kServiceStartTimeout);
    std::printf("reference service ready in %s at %s (events %s)\n",
                durationText(secondsSince(serviceStart)).c_str(), addresses.api.c_str(),
                addresses.sse.c_str());

    // 2. A signed-in client with the application's serial queue.
    ApiClient client;
    client.setApiEndpoint(addresses.api);
    client.setSseEndpoint(addresses.sse);
    client.setUserAgent("TAVO/" TAVO_VERSION " (bench)");
    client.timeoutIntervalForRequest = 30;
    signIn(client);
    auto queue = std::make_shared<SerialQueue>("TAVO.SerialDispatchQueue");
    client.setSerialDispatchQueue(queue);

    std::vector<Fonts> fonts;
    pageFontList(client, &fonts);
    if (static_cast<long>(fonts.size()) != options.fonts)
        throw BenchError("the account lists " + std::to_string(fonts.size()) + " fonts, not " +
                         std::to_string(options.fonts));

    // 3. Baseline A: curl, one connection, every file.
    std::printf("baseline A: curl fetching %zu files ...\n", fonts.size());
    std::fflush(stdout);
    const double serverCpuBeforeCurl = childCpuSeconds(service.pid());
    double curlCpu = 0;
    const double curlSeconds =
        curlBaseline(sandbox.root() + "/scratch/curl", client, fonts, &curlCpu);
    const double curlServerCpu = childCpuSeconds(service.pid()) - serverCpuBeforeCurl;
    // curl's files stay until the end: removing thousands of files right
    // before the synchronization would slow its file creations on file
    // systems that avoid reusing recently freed inodes (ext4 without a
    // journal scans past each of them).

    // 4. The first synchronization.
    std::string managerName;
    auto inner = realFontManager(&managerName);
    // fontconfig's first load of the sandbox configuration scans the
    // system fonts once; a user's machine has those caches already.
    inner->scopeForFile(sandbox.root() + "/none.ttf");
    auto manager = std::make_shared<TimedFontManager>(inner);
    platform::FontManager::setDefaultManager(manager);
    auto controller = FontManagementController::create(client, manager);
    Client c{client, queue, controller, service.pid()};

    const std::string folder = Const::userFontDirectoryPath().value_or("");
    const long rssBeforeSync = peakRssKilobytes();
    std::printf("first synchronization (font manager: %s) ...\n", managerName.c_str());
    std::fflush(stdout);
    const SyncFigures first = c.synchronize();
    const long rssAfterSync = peakRssKilobytes();
    const std::size_t landed = countFontFiles(folder);
    const auto firstTallies = manager->read([&] { return manager->registrations; });
    printBreakdown("first synchronization", first, *manager, options.fonts);
    std::printf("  curl for comparison: %s (%s each), its CPU %s, reference service CPU %s\n",
                durationText(curlSeconds).c_str(),
                durationText(curlSeconds / static_cast<double>(fonts.size())).c_str(),
                durationText(curlCpu).c_str(), durationText(curlServerCpu).c_str());
    if (landed != fonts.size())
        throw BenchError("the first synchronization left " + std::to_string(landed) + " of " +
                         std::to_string(fonts.size()) + " font files in the font folder");

    // 5. The second synchronization, with nothing to do, and baseline B.
    manager->reset();
    std::printf("second synchronization ...\n");
    std::fflush(stdout);
    const SyncFigures second = c.synchronize();
    printBreakdown("second synchronization", second, *manager, 0);
    const double pagingSeconds = pagingBaseline(client);
    if (countFontFiles(folder) != fonts.size())
        throw BenchError("the second synchronization changed the font folder");

    // 6. Web-side activations over the event stream.
    std::printf("web-side activations: %ld events ...\n", options.events);
    std::fflush(stdout);
    manager->reset();
    const double eventsCpu0 = processCpuSeconds();
    const auto eventsStart = SteadyClock::now();
    FreshView fresh;
#if TAVO_BENCH_FONTCONFIG
    if (auto fontconfig = std::dynamic_pointer_cast<platform::FontconfigFontManager>(inner)) {
        fresh.lists = freshFontconfigLists;
        fresh.linkOf = [fontconfig](const std::string& fileName) {
            return fontconfig->linkPath(fileName);
        };
        fresh.forget = [fontconfig](const std::string& path) {
            fontconfig->unregisterFonts({path}, platform::FontManagerScope::Persistent, nullptr);
        };
    }
#endif
    const LatencyFigures latency =
        measureWebActivations(c, addresses.api, fonts, options.events, fresh);
    {
        const double wall = secondsSince(eventsStart);
        const auto queries = manager->read([&] { return manager->queries; });
        const auto registrations = manager->read([&] { return manager->registrations; });
        std::printf(
            "web-side activations: wall %s, CPU %s; after each file arrived, until its chain "
            "stopped "
            "and it was activated: median %s, max %s\n",
            durationText(wall).c_str(), durationText(processCpuSeconds() - eventsCpu0).c_str(),
            durationText(percentile(latency.settle, 50)).c_str(),
            durationText(percentile(latency.settle, 100)).c_str());
        std::printf("  client CPU per change by thread:");
        for (const auto& [name, seconds] : latency.cpuByThread)
            if (seconds / static_cast<double>(options.events) >= 0.0001)
                std::printf(" %s %s", name.c_str(),
                            durationText(seconds / static_cast<double>(options.events)).c_str());
        std::printf("\n");
        std::printf("  font manager scopeForFile %ld calls %s, registerFonts %ld calls %s\n",
                    queries.calls, durationText(queries.seconds).c_str(), registrations.calls,
                    durationText(registrations.seconds).c_str());
    }
    if (static_cast<long>(latency.total.size()) != options.events)
        throw BenchError("not every web-side activation was measured");
    if (latency.unordered > 0)
        throw BenchError(std::to_string(latency.unordered) +
                         " events arrived again or without an increasing id");

    // 8. The table.
    const double firstRatio = first.wall / curlSeconds;
    const double secondRatio = second.wall / pagingSeconds;
    const bool firstPass = firstRatio <= 1.3;
    const bool secondPass = secondRatio <= 2 && second.wall <= 1;
    const double median = percentile(latency.total, 50), p99 = percentile(latency.total, 99);
    const double changeCpu = percentile(latency.cpu, 50);
    const bool changePass = changeCpu <= 0.050;
    const long rssGrowth = rssAfterSync - rssBeforeSync;
    const bool memoryPass = rssGrowth <= 40 * 1024;
    const std::string n = std::to_string(options.fonts);
    std::vector<ResultRow> rows = {
        {"A: curl, " + n + " files, one connection", durationText(curlSeconds), "", "", "",
         std::nullopt},
        {"first sync, " + n + " downloads", durationText(first.wall), durationText(curlSeconds),
         ratioText(firstRatio), "<= 1.3x A", firstPass},
        {"B: font list paging, " + std::to_string((options.fonts + kLimit - 1) / kLimit) + " pages",
         durationText(pagingSeconds), "", "", "", std::nullopt},
        {"second sync, nothing to do", durationText(second.wall), durationText(pagingSeconds),
         ratioText(secondRatio), "<= 2x B, <= 1 s", secondPass},
        {"web activation, median of " + std::to_string(options.events), durationText(median), "",
         "", "", std::nullopt},
        {"web activation, p99", durationText(p99), "", "", "", std::nullopt},
        {"one change, client CPU, median", durationText(changeCpu), "", "", "<= 50 ms", changePass},
        {"one change, client CPU, p99", durationText(percentile(latency.cpu, 99)), "", "", "",
         std::nullopt},
        {"event delivery, median (admin to delegate)",
         durationText(percentile(latency.delivery, 50)), "", "", "", std::nullopt},
        {"peak RSS after first sync", megabytesText(rssAfterSync), megabytesText(rssBeforeSync),
         "+" + megabytesText(rssGrowth), "<= +40 MB", memoryPass},
    };
    if (!latency.visible.empty()) {
        rows.insert(rows.end() - 1,
                    {"event to visible (fresh fontconfig), median",
                     durationText(percentile(latency.visible, 50)), "", "", "", std::nullopt});
        rows.insert(rows.end() - 1,
                    {"event to visible (fresh fontconfig), p99",
                     durationText(percentile(latency.visible, 99)), "", "", "", std::nullopt});
    }
    std::printf("\n%s", renderTable(rows).c_str());
    std::printf("(peak RSS at start %s; activation of %ld files in %ld register calls, %s)\n",
                megabytesText(baselineRssAtStart).c_str(), firstTallies.files, firstTallies.calls,
                durationText(firstTallies.seconds).c_str());
    std::printf(
        "\nsummary: %s fonts: first sync %s (%s of curl, %s), second sync %s (%s of paging, %s), "
        "web activation median %s p99 %s, event to visible median %s p99 %s, one change CPU %s "
        "(%s), "
        "peak RSS +%s (%s)\n",
        n.c_str(), durationText(first.wall).c_str(), ratioText(firstRatio).c_str(),
        firstPass ? "PASS" : "FAIL", durationText(second.wall).c_str(),
        ratioText(secondRatio).c_str(), secondPass ? "PASS" : "FAIL", durationText(median).c_str(),
        durationText(p99).c_str(), durationText(percentile(latency.visible, 50)).c_str(),
        durationText(percentile(latency.visible, 99)).c_str(), durationText(changeCpu).c_str(),
        changePass ? "PASS" : "FAIL", megabytesText(rssGrowth).c_str(),
        memoryPass ? "PASS" : "FAIL");
    std::fflush(stdout);

    // Quiet down before the sandbox goes: nothing may write into it afterwards.
    controller->waitForActivationBatches();
    controller->store().flush();
    queue->sync([] {});
    MainQueue::main().drain();
    platform::FontManager::setDefaultManager(nullptr);
    controller.reset();
    c.controller.reset();
    Log::defaultLog().flush();
    Log::defaultLog().setLogFilePath("", "TAVO");
    service.stop();
    std::error_code ignored;
    fs::remove_all(sandbox.root() + "/scratch", ignored);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef __GLIBC__
    // The allocator as the resident application sets it up: one heap for
    // every thread.
    mallopt(M_ARENA_MAX, 1);
#endif
    std::string error;
    bool help = false;
    const auto options =
        parseSyncBenchOptions(std::vector<std::string>(argv, argv + argc), &error, &help);
    if (!options) {
        std::fprintf(help ? stdout : stderr, "%s%s%s", error.c_str(), error.empty() ? "" : "\n",
                     syncBenchUsage().c_str());
        return help ? 0 : 2;
    }
    ::signal(SIGPIPE, SIG_IGN);
    try {
        return runBench(*options);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "font_sync_bench: %s\n", e.what());
        return 1;
    }
}
