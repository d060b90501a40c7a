#pragma once

#include <QDBusConnection>
#include <QString>
#include <memory>
#include <string>

namespace tavo::platform {

// A private connection to one message bus, closed when the object goes.
// Qt's shared session and system connections read the bus addresses once
// per process; these read them when they connect, so a program (or a test)
// that points the environment at another bus gets that one.
//
// Needs a QCoreApplication; the object can be used from any thread.
class BusConnection {
public:
    enum class Bus { Session, System };

    // The address of the bus as the environment names it: the
    // DBUS_*_BUS_ADDRESS variable, else the usual place of the bus. Empty
    // when no session bus is named.
    static std::string address(Bus bus);

    // Connects to the bus at address; nullptr, with the reason in *why, when
    // there is no QCoreApplication or the bus cannot be reached. purpose
    // names the connection in Qt's list of connections.
    static std::unique_ptr<BusConnection> open(const std::string& address,
                                               const std::string& purpose, std::string* why);

    ~BusConnection();
    BusConnection(const BusConnection&) = delete;
    BusConnection& operator=(const BusConnection&) = delete;

    QDBusConnection connection() const { return QDBusConnection(name_); }
    // Whether a program owns name on the bus, or the bus starts one on demand.
    bool hasService(const QString& name) const;

private:
    explicit BusConnection(QString name) : name_(std::move(name)) {}

    QString name_;
};

}  // namespace tavo::platform
