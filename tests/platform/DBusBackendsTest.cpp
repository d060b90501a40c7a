// The D-Bus backends against a private dbus-daemon of each test, with fake
// services registered on it by the test itself.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/linux/LoggingUserNotificationCenter.h"
#include "platform/qt/BusConnection.h"
#include "platform/qt/DBusUserNotificationCenter.h"
#include "platform/qt/LogindPowerEvents.h"
#include "support/Sandbox.h"
#include "support/ScopedEnvironment.h"

extern char** environ;

namespace tavo::platform {
namespace {

using test::ScopedEnvironment;

using namespace std::chrono_literals;

// The QCoreApplication of the cases that need one: made by the first of
// them, destroyed after the last case. The cases without one run first.
QCoreApplication* application = nullptr;

class QtApplicationEnvironment : public ::testing::Environment {
public:
    void TearDown() override {
        delete application;
        application = nullptr;
    }
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

void ensureApplication() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "platform_qt_tests";
    static char* argv[] = {name, nullptr};
    application = new QCoreApplication(argc, argv);
}

// Waits for condition, running this thread's Qt events meanwhile (the fake
// services live on it).
bool waitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// Sets an environment variable for the lifetime of the object.
// A dbus-daemon listening in folder, without any service it could start by
// itself; stopped when the object goes.
class PrivateBus {
public:
    explicit PrivateBus(const std::string& folder) {
        const std::string config = folder + "/bus.conf";
        test::Sandbox::writeFile(
            config,
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig>\n"
            "  <type>session</type>\n"
            "  <listen>unix:path=" +
                folder +
                "/socket</listen>\n"
                "  <auth>EXTERNAL</auth>\n"
                "  <policy context=\"default\">\n"
                "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                "    <allow eavesdrop=\"true\"/>\n"
                "    <allow own=\"*\"/>\n"
                "  </policy>\n"
                "</busconfig>\n");
        int pipe[2];
        if (::pipe2(pipe, O_CLOEXEC) != 0)
            return;
        ::fcntl(pipe[1], F_SETFD, 0);  // the daemon writes its address there
        std::string configArgument = "--config-file=" + config;
        std::string printArgument = "--print-address=" + std::to_string(pipe[1]);
        char program[] = "dbus-daemon";
        char nofork[] = "--nofork";
        char* argv[] = {program, configArgument.data(), nofork, printArgument.data(), nullptr};
        // What the daemon says goes to a file, shown when it does not start.
        log_ = folder + "/daemon.log";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int spawned = ::posix_spawnp(&pid_, program, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipe[1]);
        if (spawned != 0) {
            pid_ = -1;
            ::close(pipe[0]);
            return;
        }
        std::string line;
        pollfd fd{pipe[0], POLLIN, 0};
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (line.find('\n') == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            if (::poll(&fd, 1, 100) <= 0)
                continue;
            char buffer[256];
            const ssize_t n = ::read(pipe[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            line.append(buffer, static_cast<size_t>(n));
        }
        ::close(pipe[0]);
        if (line.find('\n') != std::string::npos)
            address_ = line.substr(0, line.find('\n'));
    }

    ~PrivateBus() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    static bool installed() {
        std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "");
        for (std::string folder; std::getline(path, folder, ':');)
            if (!folder.empty() && ::access((folder + "/dbus-daemon").c_str(), X_OK) == 0)
                return true;
        return false;
    }

    // Empty when the daemon did not start.
    const std::string& address() const { return address_; }
    std::string diagnostics() const { return test::Sandbox::readFile(log_); }

private:
    pid_t pid_ = -1;
    std::string address_;
    std::string log_;
};

// A connection of the test's own to the bus, for the fake services.
class TestConnection {
public:
    explicit TestConnection(const std::string& address)
        : name_(QStringLiteral("test-%1").arg(++serial)),
          connection_(QDBusConnection::connectToBus(QString::fromStdString(address), name_)) {}
    ~TestConnection() { QDBusConnection::disconnectFromBus(name_); }
    QDBusConnection& operator*() { return connection_; }
    QDBusConnection* operator->() { return &connection_; }

private:
    static inline std::atomic<int> serial{0};
    QString name_;
    QDBusConnection connection_;
};

// org.freedesktop.Notifications that records every Notify call and answers
// it, or leaves it unanswered.
class FakeNotificationService : public QDBusVirtualObject {
public:
    explicit FakeNotificationService(bool answers) : answers_(answers) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != QStringLiteral("org.freedesktop.Notifications") ||
            message.member() != QStringLiteral("Notify"))
            return false;
        std::lock_guard lock(mutex_);
        calls_.push_back(message);
        if (answers_)
            connection.send(message.createReply(QVariant::fromValue(uint(calls_.size()))));
        return true;
    }

    std::vector<QDBusMessage> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    const bool answers_;
    mutable std::mutex mutex_;
    std::vector<QDBusMessage> calls_;
};

// Events in the order the callbacks ran, and whether one ran on this thread.
struct PowerRecord {
    std::mutex mutex;
    std::vector<std::string> events;
    bool onCallerThread = false;
    std::thread::id caller = std::this_thread::get_id();

    std::function<void()> recorder(const std::string& event) {
        return [this, event] {
            std::lock_guard lock(mutex);
            events.push_back(event);
            onCallerThread = onCallerThread || std::this_thread::get_id() == caller;
        };
    }
    std::vector<std::string> snapshot() {
        std::lock_guard lock(mutex);
        return events;
    }
};

// ---- without a QCoreApplication (these run before any case makes one)

class DBusBackendsWithoutApplicationTest : public test::SandboxTest {
protected:
    void SetUp() override {
        if (QCoreApplication::instance())
            GTEST_SKIP() << "a QCoreApplication exists already; run this case alone";
    }
};

TEST_F(DBusBackendsWithoutApplicationTest, FallBackAndDoNotCrash) {
    test::LogCapture log(sandbox.path("/log.txt"));
    const auto center = DBusUserNotificationCenter::createDesktopUserNotificationCenter();
    EXPECT_NE(dynamic_cast<LoggingUserNotificationCenter*>(center.get()), nullptr);
    center->deliver({"Fallback title", "", ""});

    {
        DBusUserNotificationCenter direct;
        EXPECT_FALSE(direct.usesNotificationService());
        direct.deliver({"Direct title", "", ""});
    }  // waits for the queued delivery

    LogindPowerEvents events;
    EXPECT_FALSE(events.start([] {}, [] {}));
    events.stop();

    const std::string text = log.text();
    EXPECT_NE(text.find("title=[Fallback title]"), std::string::npos) << text;
    EXPECT_NE(text.find("title=[Direct title]"), std::string::npos) << text;
    EXPECT_NE(text.find("no QCoreApplication"), std::string::npos) << text;
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

// ---- with a QCoreApplication, without a bus

class DBusBackendsWithoutBusTest : public test::SandboxTest {
protected:
    void SetUp() override { ensureApplication(); }
    test::LogCapture log{sandbox.path("/log.txt")};
};

TEST_F(DBusBackendsWithoutBusTest, DesktopCenterFallsBackToTheLog) {
    const ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS",
                                "unix:path=" + sandbox.path("/no-such-socket"));
    const auto center = DBusUserNotificationCenter::createDesktopUserNotificationCenter();
    ASSERT_NE(dynamic_cast<LoggingUserNotificationCenter*>(center.get()), nullptr);
    center->deliver({"Fonts", "Synchronized", "Your fonts are up to date."});

    const std::string text = log.text();
    EXPECT_EQ(occurrences(text, "D-Bus notification service is not available"), 1u) << text;
    EXPECT_NE(
        text.find("title=[Fonts], subtitle=[Synchronized], text=[Your fonts are up to date.]"),
        std::string::npos)
        << text;
}

// Threads of this process with that name.
size_t threadsNamed(const std::string& name) {
    size_t count = 0;
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return 0;
    while (dirent* entry = readdir(tasks)) {
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string each;
        if (entry->d_name[0] != '.' && std::getline(comm, each) && each == name)
            ++count;
    }
    closedir(tasks);
    return count;
}

TEST_F(DBusBackendsWithoutBusTest, AMissingBusSocketIsToldWithoutStartingQtsBusThread) {
    const size_t busThreads = threadsNamed("QDBusConnection");
    std::string why;
    const std::string socket = sandbox.path("/no-such-socket");
    EXPECT_FALSE(BusConnection::open("unix:path=" + socket + ",guid=0", "test", &why));
    EXPECT_EQ(why, "no bus listens at " + socket);
    EXPECT_EQ(threadsNamed("QDBusConnection"), busThreads);
}

TEST_F(DBusBackendsWithoutBusTest, PowerEventsDoNotStartWithoutASystemBus) {
    const ScopedEnvironment bus("DBUS_SYSTEM_BUS_ADDRESS",
                                "unix:path=" + sandbox.path("/no-such-socket"));
    const auto events = LogindPowerEvents::create();
    EXPECT_FALSE(events->start([] {}, [] {}));
    EXPECT_FALSE(events->start([] {}, [] {}));
    events->stop();
    EXPECT_EQ(occurrences(log.text(), "Power events: not available"), 1u) << log.text();
}

// ---- against a private bus

class PrivateBusTest : public test::SandboxTest {
protected:
    void SetUp() override {
        if (!PrivateBus::installed())
            GTEST_SKIP() << "dbus-daemon is not installed";
        ensureApplication();
        bus_.emplace(sandbox.path("/dbus"));
        ASSERT_FALSE(bus_->address().empty())
            << "dbus-daemon did not start: " << bus_->diagnostics();
        fakes_.emplace(bus_->address());
        ASSERT_TRUE((*fakes_)->isConnected());
    }

    void TearDown() override {
        fakes_.reset();
        bus_.reset();
    }

    const std::string& address() const { return bus_->address(); }
    QDBusConnection& fakes() { return **fakes_; }

    // Registers a fake notification service on the bus.
    void registerNotificationService(FakeNotificationService* service) {
        ASSERT_TRUE(fakes().registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"),
                                                  service));
        ASSERT_TRUE(fakes().registerService(QStringLiteral("org.freedesktop.Notifications")));
    }

    void emitPrepareForSleep(bool start) {
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"));
        signal << start;
        ASSERT_TRUE(fakes().send(signal));
    }

    test::LogCapture log{sandbox.path("/log.txt")};

private:
    std::optional<PrivateBus> bus_;
    std::optional<TestConnection> fakes_;
};

using DBusUserNotificationCenterTest = PrivateBusTest;

TEST_F(DBusUserNotificationCenterTest, NotifyCarriesTitleAndJoinedTexts) {
    FakeNotificationService service(true);
    registerNotificationService(&service);
    DBusUserNotificationCenter center(address());

    struct Case {
        UserNotification notification;
        QString summary;
        QString body;
    };
    const std::vector<Case> cases = {
        {{"Title", "Subtitle", "Text"}, "Title", "Subtitle\nText"},
        {{"", "", "Only text"}, "TAVO", "Only text"},
        {{"Title", "Subtitle", ""}, "Title", "Subtitle"},
        {{"", "", ""}, "TAVO", ""},
        {{"Ünïcødé ✓", "", "Zeile\nzwei"}, "Ünïcødé ✓", "Zeile\nzwei"},
    };
    for (const Case& c : cases)
        center.deliver(c.notification);
    ASSERT_TRUE(waitUntil([&] { return service.calls().size() == cases.size(); }))
        << service.calls().size() << " calls arrived";

    const std::vector<QDBusMessage> calls = service.calls();
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].summary.toStdString());
        const QDBusMessage& call = calls[i];
        EXPECT_EQ(call.path(), QStringLiteral("/org/freedesktop/Notifications"));
        ASSERT_EQ(call.signature(), QStringLiteral("susssasa{sv}i"));
        const QList<QVariant> arguments = call.arguments();
        EXPECT_EQ(arguments[0].toString(), QStringLiteral("TAVO"));
        EXPECT_EQ(arguments[1].toUInt(), 0u);
        EXPECT_EQ(arguments[2].toString(), QString());
        EXPECT_EQ(arguments[3].toString(), cases[i].summary);
        EXPECT_EQ(arguments[4].toString(), cases[i].body);
        EXPECT_TRUE(arguments[5].toStringList().isEmpty());
        EXPECT_TRUE(qdbus_cast<QVariantMap>(arguments[6]).isEmpty());
        EXPECT_EQ(arguments[7].toInt(), -1);
    }
    EXPECT_TRUE(center.usesNotificationService());
    EXPECT_EQ(log.text().find("not available"), std::string::npos) << log.text();
}

TEST_F(DBusUserNotificationCenterTest, WithoutTheServiceEveryNotificationGoesToTheLog) {
    DBusUserNotificationCenter center(address());
    center.deliver({"First", "", ""});
    center.deliver({"Second", "", ""});
    ASSERT_TRUE(waitUntil([&] { return log.text().find("title=[Second]") != std::string::npos; }))
        << log.text();

    const std::string text = log.text();
    EXPECT_NE(text.find("title=[First]"), std::string::npos) << text;
    EXPECT_EQ(occurrences(text, "D-Bus notification service is not available"), 1u) << text;
    EXPECT_NE(text.find("org.freedesktop.DBus.Error.ServiceUnknown"), std::string::npos) << text;
    EXPECT_FALSE(center.usesNotificationService());
}

TEST_F(DBusUserNotificationCenterTest, GivesUpOnAServiceThatDoesNotAnswer) {
    FakeNotificationService silent(false);
    registerNotificationService(&silent);
    DBusUserNotificationCenter center(address(), 200ms);
    center.deliver({"Unanswered", "", ""});
    center.deliver({"Afterwards", "", ""});
    ASSERT_TRUE(waitUntil([&] {
        return log.text().find("title=[Afterwards]") != std::string::npos;
    })) << log.text();

    const std::string text = log.text();
    EXPECT_NE(text.find("title=[Unanswered]"), std::string::npos) << text;
    EXPECT_EQ(occurrences(text, "D-Bus notification service is not available"), 1u) << text;
    // The second one went straight to the log.
    EXPECT_EQ(silent.calls().size(), 1u);
}

TEST_F(DBusUserNotificationCenterTest, DesktopCenterUsesTheSessionBus) {
    FakeNotificationService service(true);
    registerNotificationService(&service);
    const ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", address());
    const auto center = DBusUserNotificationCenter::createDesktopUserNotificationCenter();
    ASSERT_NE(dynamic_cast<DBusUserNotificationCenter*>(center.get()), nullptr);
    center->deliver({"Over the bus", "", ""});
    ASSERT_TRUE(waitUntil([&] { return service.calls().size() == 1; }));
    EXPECT_EQ(service.calls().front().arguments()[3].toString(), QStringLiteral("Over the bus"));
}

class LogindPowerEventsTest : public PrivateBusTest {
protected:
    void SetUp() override {
        PrivateBusTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_TRUE(fakes().registerService(QStringLiteral("org.freedesktop.login1")));
    }
};

TEST_F(LogindPowerEventsTest, PrepareForSleepBecomesWillSleepThenDidWake) {
    PowerRecord record, again;
    LogindPowerEvents events(address());
    ASSERT_TRUE(events.start(record.recorder("sleep"), record.recorder("wake")));
    EXPECT_TRUE(events.start([] {}, [] {}));  // already started: the first callbacks stay

    emitPrepareForSleep(true);
    emitPrepareForSleep(false);
    ASSERT_TRUE(waitUntil([&] { return record.snapshot().size() == 2; }));
    EXPECT_EQ(record.snapshot(), (std::vector<std::string>{"sleep", "wake"}));
    EXPECT_FALSE(record.onCallerThread);

    // Started again after a stop, it listens again.
    events.stop();
    ASSERT_TRUE(events.start(again.recorder("sleep"), again.recorder("wake")));
    emitPrepareForSleep(true);
    ASSERT_TRUE(waitUntil([&] { return again.snapshot().size() == 1; }));
    EXPECT_EQ(record.snapshot().size(), 2u);
}

TEST_F(LogindPowerEventsTest, NoCallbackAfterStop) {
    PowerRecord stopped, witness;
    LogindPowerEvents events(address());
    LogindPowerEvents witnessEvents(address());
    ASSERT_TRUE(events.start(stopped.recorder("sleep"), stopped.recorder("wake")));
    ASSERT_TRUE(witnessEvents.start(witness.recorder("sleep"), witness.recorder("wake")));
    events.stop();
    events.stop();

    emitPrepareForSleep(true);
    emitPrepareForSleep(false);
    ASSERT_TRUE(waitUntil([&] { return witness.snapshot().size() == 2; }));
    EXPECT_TRUE(stopped.snapshot().empty());
}

TEST_F(LogindPowerEventsTest, StopFromACallbackEndsTheWatch) {
    PowerRecord record, witness;
    // Declared before the watches: a callback may still be running while
    // they are destroyed.
    const auto sleep = record.recorder("sleep");
    LogindPowerEvents events(address());
    LogindPowerEvents witnessEvents(address());
    ASSERT_TRUE(events.start(
        [&] {
            sleep();
            events.stop();
        },
        record.recorder("wake")));
    ASSERT_TRUE(witnessEvents.start(witness.recorder("sleep"), witness.recorder("wake")));

    emitPrepareForSleep(true);
    // Each watch has a thread of its own: the witness may hear both signals
    // before the stopped watch hears the first, so wait for that one too.
    ASSERT_TRUE(waitUntil([&] { return record.snapshot().size() == 1; }));
    emitPrepareForSleep(false);
    ASSERT_TRUE(waitUntil([&] { return witness.snapshot().size() == 2; }));
    EXPECT_EQ(record.snapshot(), (std::vector<std::string>{"sleep"}));
    // Leaving the scope joins the thread the callback stopped.
}

TEST_F(LogindPowerEventsTest, DoesNotStartWithoutLogindOnTheBus) {
    ASSERT_TRUE(fakes().unregisterService(QStringLiteral("org.freedesktop.login1")));
    LogindPowerEvents events(address());
    EXPECT_FALSE(events.start([] {}, [] {}));
    EXPECT_FALSE(events.start([] {}, [] {}));
    const std::string text = log.text();
    EXPECT_EQ(occurrences(text, "Power events: not available"), 1u) << text;
    EXPECT_NE(text.find("logind is not on the system bus"), std::string::npos) << text;
}

}  // namespace
}  // namespace tavo::platform
