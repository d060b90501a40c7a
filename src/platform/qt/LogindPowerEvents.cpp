#include "platform/qt/LogindPowerEvents.h"

#include <QDBusError>
#include <QObject>
#include <QThread>
#include <atomic>

#include "foundation/Log.h"
#include "platform/qt/BusConnection.h"

namespace tavo::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSignal = QStringLiteral("PrepareForSleep");

// The callbacks of one start(); stopped turns true in stop().
struct SleepCallbacks {
    std::function<void()> willSleep;
    std::function<void()> didWake;
    std::atomic<bool> stopped{false};
};

// Receives the signal on the watch's thread.
class SleepListener : public QObject {
    Q_OBJECT

public:
    explicit SleepListener(std::shared_ptr<SleepCallbacks> callbacks)
        : callbacks_(std::move(callbacks)) {}

public Q_SLOTS:
    void prepareForSleep(bool start) {
        if (callbacks_->stopped)
            return;
        ILog("Power events: the machine %@", start ? "is going to sleep" : "woke up");
        const std::function<void()>& callback = start ? callbacks_->willSleep : callbacks_->didWake;
        if (callback)
            callback();
    }

private:
    std::shared_ptr<SleepCallbacks> callbacks_;
};

}  // namespace

// One started watch: the bus connection, the thread and the listener that
// lives on it.
struct LogindPowerEvents::Watch {
    std::unique_ptr<BusConnection> bus;
    std::shared_ptr<SleepCallbacks> callbacks = std::make_shared<SleepCallbacks>();
    std::unique_ptr<QThread> thread;
    std::unique_ptr<SleepListener> listener;
    bool subscribed = false;

    // Connects to the bus and subscribes; false with the reason in *why.
    bool open(const std::string& address, std::string* why);
    // No callback starts after this; the thread ends after the running one.
    void end();
    bool isCurrentThread() const { return thread && QThread::currentThread() == thread.get(); }
    // Joins the thread, then lets go of the listener and the connection.
    ~Watch();
};

bool LogindPowerEvents::Watch::open(const std::string& address, std::string* why) {
    bus = BusConnection::open(address, "power", why);
    if (!bus)
        return false;
    if (!bus->hasService(kService)) {
        *why = "logind is not on the system bus";
        return false;
    }
    thread = std::make_unique<QThread>();
    thread->setObjectName(QStringLiteral("TAVO.PowerEvents"));
    listener = std::make_unique<SleepListener>(callbacks);
    listener->moveToThread(thread.get());
    subscribed = bus->connection().connect(kService, kPath, kInterface, kSignal, listener.get(),
                                           SLOT(prepareForSleep(bool)));
    if (!subscribed) {
        *why = "cannot subscribe to PrepareForSleep: " +
               bus->connection().lastError().message().toStdString();
        return false;
    }
    thread->start();
    return true;
}

void LogindPowerEvents::Watch::end() {
    callbacks->stopped = true;
    if (subscribed)
        bus->connection().disconnect(kService, kPath, kInterface, kSignal, listener.get(),
                                     SLOT(prepareForSleep(bool)));
    subscribed = false;
    if (thread)
        thread->quit();
}

LogindPowerEvents::Watch::~Watch() {
    end();
    if (thread)
        thread->wait();
    listener.reset();
    thread.reset();
    bus.reset();
}

LogindPowerEvents::LogindPowerEvents(std::string busAddress) : address_(std::move(busAddress)) {}

LogindPowerEvents::~LogindPowerEvents() {
    stop();
    std::lock_guard lock(mutex_);
    if (ending_ && ending_->isCurrentThread()) {
        // Destroyed from its own callback: the thread cannot join itself, so
        // what it holds stays behind rather than pulling the thread down.
        [[maybe_unused]] Watch* left = ending_.release();
    }
}

std::shared_ptr<PowerEvents> LogindPowerEvents::create() {
    return std::make_shared<LogindPowerEvents>();
}

bool LogindPowerEvents::start(std::function<void()> willSleep, std::function<void()> didWake) {
    std::lock_guard lock(mutex_);
    if (watch_)
        return true;
    auto watch = std::make_unique<Watch>();
    watch->callbacks->willSleep = std::move(willSleep);
    watch->callbacks->didWake = std::move(didWake);
    const std::string address =
        address_.empty() ? BusConnection::address(BusConnection::Bus::System) : address_;
    std::string why;
    if (!watch->open(address, &why)) {
        if (!reportedAbsence_)
            ILog("Power events: not available (%@); sleep and wake go unnoticed", why);
        reportedAbsence_ = true;
        return false;
    }
    watch_ = std::move(watch);
    return true;
}

void LogindPowerEvents::stop() {
    std::unique_ptr<Watch> watch;
    std::unique_ptr<Watch> ended;
    {
        std::lock_guard lock(mutex_);
        watch = std::move(watch_);
        if (ending_ && !ending_->isCurrentThread())
            ended = std::move(ending_);
    }
    ended.reset();  // joins a thread stopped earlier from its own callback
    if (!watch)
        return;
    watch->end();
    if (watch->isCurrentThread()) {
        // From a callback: the thread ends once it returns.
        std::lock_guard lock(mutex_);
        ending_ = std::move(watch);
        return;
    }
    watch.reset();
}

}  // namespace tavo::platform

#include "LogindPowerEvents.moc"
