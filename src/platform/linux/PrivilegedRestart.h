#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tavo::platform {

// The start of a program that restarts itself once with administrator
// rights (the installer and the uninstaller). The unprivileged instance
// shows no window: it starts the elevated instance with the single argument
// "isPrivileges", reads the one line that instance writes back on its
// standard output and ends with the status that line names.
//
// Elevation goes through pkexec with the program /usr/bin/env, which puts
// the display variables back (pkexec clears them) before it starts our own
// executable: the elevated windows reach the user's display without a
// polkit action of our own being installed. Inside a sandbox root, or when
// the process is root already, nothing is elevated.
class PrivilegedRestart {
public:
    static constexpr const char* kPrivilegesArgument = "isPrivileges";
    // The elevator's statuses for a dismissed or refused prompt.
    static constexpr int kElevatorDismissed = 126;
    static constexpr int kElevatorNotAuthorized = 127;
    // The longest line read back.
    static constexpr std::size_t kMaximumLine = 128;

    // Whether the program was started with exactly the one argument
    // "isPrivileges".
    static bool isPrivileged(const std::vector<std::string>& arguments);
    // Whether a restart is needed at all: not inside a sandbox root, not root.
    static bool needsElevation();

    // The user the procedure is for: the one who started the program, not
    // root. Under pkexec that is the user of PKEXEC_UID.
    static std::string currentUser();

    // The display and session variables of this process as NAME=value.
    static std::vector<std::string> displayEnvironment();
    // The elevator's command line for executable; empty when the executable
    // is not an absolute path or holds a '=' (env would take it for a
    // variable).
    static std::vector<std::string> elevatedCommand(const std::string& elevator,
                                                    const std::string& executable,
                                                    const std::vector<std::string>& environment);

    enum class Outcome {
        NotStarted,  // the elevator could not be run
        Cancelled,   // the user dismissed the prompt or could not authenticate
        Finished,    // the elevated instance ended or wrote its line
    };
    struct Result {
        Outcome outcome = Outcome::NotStarted;
        int code = 0;                     // spawn error, or the elevator's exit status
        std::optional<std::string> line;  // the line read back, without its line feed
        // What the unprivileged instance exits with: 0 for a cancelled
        // prompt and for the line "0", 1 otherwise.
        int exitStatus() const;
    };
    // Runs argv with a pipe on its standard output, reads one line of at
    // most kMaximumLine bytes (waiting until it is written or the instance
    // ends), then waits for the instance to end.
    static Result run(const std::vector<std::string>& argv);

    // The elevated instance's answer: its status as one line on standard
    // output. Nothing else of the program may write to standard output.
    static void writeStatus(int status);

    // The whole restart of the unprivileged instance: pkexec on this
    // program's own executable with the display passed through, each outcome
    // logged under the program's name ("Installer", "Uninstaller"). Returns
    // what that instance exits with.
    static int restartElevated(const std::string& programName);
    // Whether windows can be shown: a display, or Qt's offscreen platform.
    static bool hasDisplay();

    // What the start of such a program decided.
    struct Start {
        std::optional<int> exitStatus;  // set: the program ends now with it
        bool supportedOs = true;
        bool administrator = false;
    };
    // The start the installer and the uninstaller share, after their first
    // log line: the system check logged, no going on without a display
    // (withoutDisplay says what to use instead), and the restart for an
    // administrator who is not privileged yet.
    static Start start(const std::string& programName, const std::string& user, bool privileged,
                       const std::string& withoutDisplay);
};

}  // namespace tavo::platform
