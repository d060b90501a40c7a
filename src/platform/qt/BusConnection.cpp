#include "platform/qt/BusConnection.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusReply>
#include <atomic>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace tavo::platform {

namespace {

// Where the system bus listens when the environment names no other place.
constexpr const char* kSystemBusDefault = "unix:path=/var/run/dbus/system_bus_socket";

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool isSocket(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// The socket of a "unix:path=" address; none for other kinds of address.
std::optional<std::string> socketPathOf(const std::string& address) {
    constexpr std::string_view kUnixPath = "unix:path=";
    if (address.rfind(kUnixPath, 0) != 0)
        return std::nullopt;
    const std::string rest = address.substr(kUnixPath.size());
    return rest.substr(0, rest.find(','));
}

}  // namespace

std::string BusConnection::address(Bus bus) {
    if (bus == Bus::System) {
        const std::string named = environmentValue("DBUS_SYSTEM_BUS_ADDRESS");
        return named.empty() ? kSystemBusDefault : named;
    }
    const std::string named = environmentValue("DBUS_SESSION_BUS_ADDRESS");
    if (!named.empty())
        return named;
    // Session managers of systemd start one bus per user at a known place.
    const std::string runtime = environmentValue("XDG_RUNTIME_DIR");
    if (!runtime.empty() && isSocket(runtime + "/bus"))
        return "unix:path=" + runtime + "/bus";
    return {};
}

std::unique_ptr<BusConnection> BusConnection::open(const std::string& address,
                                                   const std::string& purpose, std::string* why) {
    if (!QCoreApplication::instance()) {
        *why = "the program has no QCoreApplication";
        return nullptr;
    }
    if (address.empty()) {
        *why = "no bus address is set";
        return nullptr;
    }
    // Without a bus there is nothing to connect to: asking Qt would start
    // its D-Bus thread for good all the same.
    if (const auto socket = socketPathOf(address); socket && !isSocket(*socket)) {
        *why = "no bus listens at " + *socket;
        return nullptr;
    }
    static std::atomic<unsigned> serial{0};
    const QString name =
        QStringLiteral("tavo-%1-%2").arg(QString::fromStdString(purpose)).arg(++serial);
    QDBusConnection connection =
        QDBusConnection::connectToBus(QString::fromStdString(address), name);
    if (!connection.isConnected()) {
        const QDBusError error = connection.lastError();
        *why = "cannot connect to " + address + ": " +
               (error.isValid() ? error.message().toStdString() : std::string("unknown error"));
        QDBusConnection::disconnectFromBus(name);
        return nullptr;
    }
    return std::unique_ptr<BusConnection>(new BusConnection(name));
}

BusConnection::~BusConnection() {
    QDBusConnection::disconnectFromBus(name_);
}

bool BusConnection::hasService(const QString& name) const {
    QDBusConnectionInterface* bus = connection().interface();
    if (!bus)
        return false;
    const QDBusReply<bool> owned = bus->isServiceRegistered(name);
    if (owned.isValid() && owned.value())
        return true;
    const QDBusReply<QStringList> activatable = bus->activatableServiceNames();
    return activatable.isValid() && activatable.value().contains(name);
}

}  // namespace tavo::platform
