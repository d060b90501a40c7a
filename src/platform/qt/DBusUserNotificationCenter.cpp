#include "platform/qt/DBusUserNotificationCenter.h"

#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>
#include <atomic>

#include "foundation/Log.h"
#include "foundation/SerialQueue.h"
#include "platform/linux/LoggingUserNotificationCenter.h"
#include "platform/qt/BusConnection.h"

namespace tavo::platform {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr const char* kAppName = "TAVO";
constexpr const char* kUnavailable =
    "User notification: the D-Bus notification service is not available (%@); "
    "notifications go to the log";

QString summaryOf(const UserNotification& notification) {
    return QString::fromStdString(notification.title.empty() ? kAppName : notification.title);
}

QString bodyOf(const UserNotification& notification) {
    std::string body = notification.subtitle;
    if (!body.empty() && !notification.informativeText.empty())
        body += '\n';
    body += notification.informativeText;
    return QString::fromStdString(body);
}

}  // namespace

struct DBusUserNotificationCenter::State {
    std::unique_ptr<BusConnection> bus;
    std::chrono::milliseconds timeout{kReplyTimeout};
    std::string why;  // why the service cannot be used; set before available turns false
    std::atomic<bool> available{false};
    std::atomic<bool> reported{false};
    LoggingUserNotificationCenter fallback;

    // Runs on the queue.
    void deliver(const UserNotification& notification);
    bool send(const UserNotification& notification);
    void reportUnavailable();
};

void DBusUserNotificationCenter::State::deliver(const UserNotification& notification) {
    if (available && !send(notification)) {
        available = false;
        reportUnavailable();
    }
    if (!available)
        fallback.deliver(notification);
}

bool DBusUserNotificationCenter::State::send(const UserNotification& notification) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
    call << QString::fromLatin1(kAppName) << 0u << QString() << summaryOf(notification)
         << bodyOf(notification) << QStringList() << QVariantMap() << -1;
    const QDBusMessage reply =
        bus->connection().call(call, QDBus::Block, static_cast<int>(timeout.count()));
    if (reply.type() == QDBusMessage::ReplyMessage) {
        DLog("User notification: shown by the notification service");
        return true;
    }
    why = (reply.errorName() + QStringLiteral(": ") + reply.errorMessage()).toStdString();
    return false;
}

void DBusUserNotificationCenter::State::reportUnavailable() {
    if (reported.exchange(true))
        return;
    WLog(kUnavailable, why);
}

DBusUserNotificationCenter::DBusUserNotificationCenter(const std::string& busAddress,
                                                       std::chrono::milliseconds replyTimeout)
    : state_(std::make_shared<State>()),
      queue_(std::make_unique<SerialQueue>("TAVO.UserNotifications")) {
    state_->timeout = replyTimeout;
    const std::string address =
        busAddress.empty() ? BusConnection::address(BusConnection::Bus::Session) : busAddress;
    state_->bus = BusConnection::open(address, "notifications", &state_->why);
    state_->available = state_->bus != nullptr;
}

DBusUserNotificationCenter::~DBusUserNotificationCenter() {
    queue_.reset();  // the queued deliveries run first
}

std::shared_ptr<UserNotificationCenter>
DBusUserNotificationCenter::createDesktopUserNotificationCenter() {
    auto center = std::make_shared<DBusUserNotificationCenter>();
    if (center->usesNotificationService())
        return center;
    center->state_->reportUnavailable();
    return std::make_shared<LoggingUserNotificationCenter>();
}

void DBusUserNotificationCenter::deliver(const UserNotification& notification) {
    queue_->async([state = state_, notification] { state->deliver(notification); });
}

bool DBusUserNotificationCenter::usesNotificationService() const {
    return state_->available;
}

}  // namespace tavo::platform
