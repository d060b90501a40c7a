// tavo-update-helper: the one privileged program of the self-update. The
// application starts it once per update (through pkexec, or directly when
// no elevation is needed) and sends it the install step's commands over its
// standard input; it answers each with the command's exit status. It runs
// only the listed tools, with argument lists, on paths inside the
// application root, and never a shell.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "CommandPolicy.h"
#include "foundation/Const.h"
#include "foundation/Process.h"
#include "platform/Layout.h"

namespace {

// The user who asked for the update: pkexec names them; started directly,
// it is the user running this program.
uid_t invokingUser() {
    if (::geteuid() == 0) {
        if (const char* pkexecUid = std::getenv("PKEXEC_UID")) {
            char* end = nullptr;
            const unsigned long uid = std::strtoul(pkexecUid, &end, 10);
            if (end && *end == '\0')
                return static_cast<uid_t>(uid);
        }
    }
    return ::getuid();
}

// One command: NUL-ended fields up to an empty one; false at the end of input.
bool readCommand(std::vector<std::string>* command) {
    command->clear();
    std::string field;
    while (std::getline(std::cin, field, '\0')) {
        if (field.empty())
            return true;
        command->push_back(field);
    }
    return false;
}

}  // namespace

int main() {
    const uid_t user = invokingUser();
    const passwd* account = ::getpwuid(user);
    if (!account) {
        std::cerr << "tavo-update-helper: unknown user " << user << "\n";
        return 2;
    }
    const auto area = tavo::Const::applicationUserAreaDirectoryPath(account->pw_name);
    const tavo::platform::Layout layout = tavo::platform::Layout::current();
    const tavo::helper::CommandPolicy policy(layout.applicationRoot, area.value_or(""),
                                             layout.applicationOwner, user);
    std::cout << "ready" << std::endl;
    std::vector<std::string> command;
    while (readCommand(&command)) {
        const std::string problem = policy.check(command);
        int status = -1;
        if (!problem.empty()) {
            std::cerr << "tavo-update-helper: refused: " << problem << "\n";
        } else {
            const std::vector<std::string> args(command.begin() + 1, command.end());
            const tavo::ProcessResult result = tavo::Process::run(command[0], args, true);
            std::cerr << result.standardError;
            status = result.started ? result.exitStatus : -1;
        }
        std::cout << status << std::endl;
    }
    return 0;
}
