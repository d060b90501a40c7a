#include "RealDisplay.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>
#include <cstdlib>

namespace tavo::test {

namespace {

constexpr int kFirstDisplay = 91;
constexpr int kLastDisplay = 160;
constexpr int kStartMs = 30000;

std::unique_ptr<QProcess> server;
std::unique_ptr<QProcess> windowManager;
std::unique_ptr<QProcess> panel;
std::string reason = "not started";
QString display;

bool displayInUse(int number) {
    return QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)) ||
           QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number));
}

// Whether the lock file of display number names the process: two test
// programs may pick the same free number at once, and only one server wins.
bool ownsDisplay(int number, qint64 pid) {
    QFile lock(QStringLiteral("/tmp/.X%1-lock").arg(number));
    if (!lock.open(QIODevice::ReadOnly))
        return false;
    bool ok = false;
    const qint64 owner = QString::fromLatin1(lock.readAll()).trimmed().toLongLong(&ok);
    return ok && owner == pid;
}

// Polls until ready holds or the time is up.
template <typename Ready>
bool pollUntil(Ready ready, int timeoutMs = kStartMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (ready())
            return true;
        QThread::msleep(20);
    }
    return ready();
}

void end(std::unique_ptr<QProcess>& process) {
    if (!process)
        return;
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(3000)) {
            process->kill();
            process->waitForFinished(3000);
        }
    }
    process.reset();
}

}  // namespace

bool RealDisplay::startProgram(QProcess& process, const QString& program,
                               const QStringList& arguments) {
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start();
    return process.waitForStarted(kStartMs);
}

std::string RealDisplay::start() {
    for (const char* program : {"Xvfb", "openbox", "trayer", "xdotool"}) {
        if (QStandardPaths::findExecutable(QString::fromUtf8(program)).isEmpty()) {
            reason = std::string(program) +
                     " is not installed (scripts/setup installs xvfb, openbox, trayer, xdotool)";
            return reason;
        }
    }
    for (int number = kFirstDisplay; number <= kLastDisplay; ++number) {
        if (displayInUse(number))
            continue;
        server = std::make_unique<QProcess>();
        const QString name = QStringLiteral(":%1").arg(number);
        if (!startProgram(*server, QStringLiteral("Xvfb"),
                          {name, QStringLiteral("-screen"), QStringLiteral("0"),
                           QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                           QStringLiteral("tcp")})) {
            server.reset();
            continue;
        }
        const bool up = pollUntil([&] {
            return server->state() != QProcess::Running ||
                   (ownsDisplay(number, server->processId()) &&
                    QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)));
        });
        if (up && server->state() == QProcess::Running) {
            display = name;
            break;
        }
        end(server);  // another server took the number meanwhile
    }
    if (!server) {
        reason = "no free X display number for Xvfb";
        return reason;
    }
    qputenv("DISPLAY", display.toUtf8());
    qputenv("QT_QPA_PLATFORM", "xcb");
    // The tray must be the panel's, not a desktop's notifier on the session bus.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    windowManager = std::make_unique<QProcess>();
    panel = std::make_unique<QProcess>();
    if (!startProgram(*windowManager, QStringLiteral("openbox"), {}) ||
        // A window shown before openbox has taken over the display may never
        // be exposed; it answers for the desktops once it has.
        !pollUntil([] { return xdotool({QStringLiteral("get_num_desktops")}); }) ||
        !startProgram(
            *panel, QStringLiteral("trayer"),
            {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
             QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
             QStringLiteral("--height"), QStringLiteral("24")})) {
        reason = "openbox or trayer did not start, or openbox never took over the display";
        stop();
        return reason;
    }
    reason.clear();
    return reason;
}

void RealDisplay::stop() {
    end(panel);
    end(windowManager);
    end(server);
}

bool RealDisplay::running() {
    return reason.empty() && server && server->state() == QProcess::Running;
}

const std::string& RealDisplay::whyNot() {
    return reason;
}

bool RealDisplay::xdotool(const QStringList& arguments) {
    QProcess process;
    process.setProgram(QStringLiteral("xdotool"));
    process.setArguments(arguments);
    process.start();
    if (!process.waitForStarted(kStartMs))
        return false;
    // The application keeps answering the display meanwhile.
    QDeadlineTimer deadline(kStartMs);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        process.waitForFinished(10);
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool RealDisplay::clickAt(const QPoint& point) {
    // No --sync: it waits for ever when the pointer is there already.
    return xdotool({QStringLiteral("mousemove"), QString::number(point.x()),
                    QString::number(point.y())}) &&
           xdotool({QStringLiteral("click"), QStringLiteral("1")});
}

}  // namespace tavo::test
