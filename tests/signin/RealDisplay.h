#pragma once

#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

namespace tavo::test {

// A real X display of the test program's own: an Xvfb server on a display
// number nobody uses, the openbox window manager and the trayer panel, and
// xdotool to move the pointer and type. Started before the program's
// QApplication, which then runs on it; stopped at the end.
class RealDisplay {
public:
    // Starts everything; why not, when it could not (a program missing, a
    // server that would not start).
    static std::string start();
    static void stop();
    // Whether the display runs; otherwise why not.
    static bool running();
    static const std::string& whyNot();

    // xdotool with arguments; true when it succeeded.
    static bool xdotool(const QStringList& arguments);
    // Clicks the left button at the global point.
    static bool clickAt(const QPoint& point);

private:
    static bool startProgram(QProcess& process, const QString& program,
                             const QStringList& arguments);
};

}  // namespace tavo::test
