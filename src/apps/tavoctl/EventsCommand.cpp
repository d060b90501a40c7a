#include "EventsCommand.h"

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <optional>
#include <thread>

#include "ApiCommand.h"
#include "SignInProblem.h"
#include "events/LastEventId.h"
#include "events/NotificationsApi.h"
#include "foundation/Clock.h"
#include "foundation/Config.h"
#include "service/ApiClient.h"

namespace tavo::ctl {

namespace {

using namespace std::chrono_literals;

constexpr double kReconnectDelay = 5;
constexpr auto kPollInterval = 100ms;

std::atomic<bool> gInterrupted{false};

extern "C" void onSignal(int) {
    gInterrupted = true;
}

// The application's last event id; the command starts after it.
std::optional<std::string> storedLastEventId() {
    const auto config = Config::userConfig();
    return config ? LastEventId::fromConfig(*config) : std::nullopt;
}

// Prints what the stream delivers and remembers how it ended.
class Printer : public ServerSentEventDelegate {
public:
    explicit Printer(std::ostream& out) : out_(out) {}

    void serverSentEventDidOpen(const std::shared_ptr<ServerSentEvent>& sse) override {
        print("# connected to " + sse->URL());
    }
    void serverSentEvent(const std::shared_ptr<ServerSentEvent>&, const SSEEvents& e) override {
        if (auto kept = LastEventId::fromEvent(e.identifier())) {
            std::lock_guard lock(mutex_);
            lastEventId_ = std::move(kept);
        }
        print("id=" + e.identifier().value_or("(none)") + " event=" + e.event().value_or("(none)") +
              " data=" + e.data().value_or(""));
    }
    void serverSentEvent(const std::shared_ptr<ServerSentEvent>& sse,
                         const std::optional<Error>& error) override {
        const auto response = sse->httpUrlResponse();
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
            status_ = response ? response->statusCode : 0;
        }
        print(
            "# stream ended: " +
            (response ? "HTTP " + std::to_string(response->statusCode) : std::string("no answer")) +
            (error ? ", " + error->text() : std::string()));
        changed_.notify_all();
    }
    void serverSentEventDidClose(const std::shared_ptr<ServerSentEvent>&) override {
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
        }
        print("# closed");
        changed_.notify_all();
    }

    void print(const std::string& line) {
        std::lock_guard lock(outMutex_);
        out_ << line << std::endl;
    }
    // Waits a little for the stream to end; whether it has.
    bool waitForEnd(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [this] { return ended_; });
    }
    void reset() {
        std::lock_guard lock(mutex_);
        ended_ = false;
        status_ = 0;
    }
    long status() const {
        std::lock_guard lock(mutex_);
        return status_;
    }
    std::optional<std::string> lastEventId() const {
        std::lock_guard lock(mutex_);
        return lastEventId_;
    }
    void setLastEventId(std::optional<std::string> id) {
        std::lock_guard lock(mutex_);
        lastEventId_ = id;
    }

private:
    std::ostream& out_;
    std::mutex outMutex_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool ended_ = false;
    long status_ = 0;
    std::optional<std::string> lastEventId_;
};

// Waits for the duration (as the clock measures it) unless interrupted first.
bool pause(double seconds, const std::function<bool()>& interrupted) {
    const auto until =
        std::chrono::steady_clock::now() + Clock::current().realDelay(tavo::seconds(seconds));
    while (std::chrono::steady_clock::now() < until) {
        if (interrupted())
            return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            kPollInterval, until - std::chrono::steady_clock::now()));
    }
    return !interrupted();
}

}  // namespace

int runEventsCommand(std::ostream& out, ApiClient& client,
                     const std::function<bool()>& interrupted) {
    if (!client.deviceId() || !client.accessToken() || client.accessToken()->empty()) {
        out << "tavoctl: no signed-in user: " << signInProblem() << std::endl;
        return 1;
    }
    auto printer = std::make_shared<Printer>(out);
    printer->setLastEventId(storedLastEventId());
    for (;;) {
        const auto lastEventId = printer->lastEventId();
        printer->print("# opening " + client.sseEndpoint() + kSSEPath +
                       " (Last-Event-ID: " + lastEventId.value_or("none") + ")");
        printer->reset();
        auto stream =
            NotificationsApi(client).getNotificationsAsyncWithLastEventId(lastEventId, printer);
        while (!printer->waitForEnd(kPollInterval)) {
            if (interrupted()) {
                stream->close();
                printer->waitForEnd(2s);
                return 0;
            }
        }
        const long status = printer->status();
        if (status != 0 && status != 200) {
            printer->print("tavoctl: the server refused the stream");
            return 1;
        }
        printer->print("# reconnecting in 5 seconds");
        if (!pause(kReconnectDelay, interrupted))
            return 0;
    }
}

int runEventsCommand(std::ostream& out) {
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction previousInt = {};
    struct sigaction previousTerm = {};
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
    gInterrupted = false;

    ApiClient& client = ApiClient::defaultApiClient();
    configureClientFromUserConfig(client);
    const int status = runEventsCommand(out, client, [] { return gInterrupted.load(); });

    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
    return status;
}

}  // namespace tavo::ctl
