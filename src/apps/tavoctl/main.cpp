// tavoctl: the command-line companion of TAVO. It reads the places and files
// of the current user (inside the sandbox root when TAVO_ROOT is set).
#include <malloc.h>

#include <iostream>
#include <string>
#include <vector>

#include "ApiCommand.h"
#include "ConfigCommand.h"
#include "EventsCommand.h"
#include "FontIdCommand.h"
#include "FontsCommand.h"
#include "InstallCommand.h"
#include "LoginCommand.h"
#include "PathsCommand.h"
#include "SyncCommand.h"
#include "UninstallCommand.h"
#include "UpdateCommand.h"

namespace {

int usage(std::ostream& out, int status) {
    out << "usage: tavoctl <command> [arguments]\n"
           "  paths                 every place of the current layout\n"
           "  config [--reveal]     the configuration files as JSON (secrets masked)\n"
           "  fontid FILE...        whether each file is one of the service's fonts\n"
           "  events                the notification stream, event by event, until interrupted\n"
           "  api [--device-id ID] OPERATION [name=value ...]\n"
           "                        calls the delivery API as the application does\n"
           "  sync                  one font synchronization with its downloads, in the "
           "foreground\n"
           "  fonts [--json]        the local font list and whether fontconfig sees each file\n"
           "  login [--mail ADDRESS] [--force]\n"
           "                        signs the current user in (answers may come from a pipe)\n"
           "  update [--check | --apply]\n"
           "                        the versions of the self-update; --check downloads the next\n"
           "                        one, --apply installs a downloaded one and starts it\n"
           "  install [--no-launch] INSTALLER.app\n"
           "                        installs TAVO for every user from an installer bundle,\n"
           "                        printing each step, then starts it\n"
           "  uninstall [--version VERSION]\n"
           "                        removes TAVO for every user, printing each step\n";
    return status;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef __GLIBC__
    // One heap for every thread, as in TAVO: a synchronization's transfer
    // and queue threads would each keep a heap of what they freed.
    mallopt(M_ARENA_MAX, 1);
#endif
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return usage(std::cerr, 2);
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "paths" && rest.empty())
        return tavo::ctl::runPathsCommand(std::cout);
    if (command == "config" && (rest.empty() || (rest.size() == 1 && rest[0] == "--reveal")))
        return tavo::ctl::runConfigCommand(std::cout, !rest.empty());
    if (command == "events" && rest.empty())
        return tavo::ctl::runEventsCommand(std::cout);
    if (command == "api")
        return tavo::ctl::runApiCommand(rest, std::cout, std::cerr);
    if (command == "sync" && rest.empty())
        return tavo::ctl::runSyncCommand(std::cout, std::cerr);
    if (command == "fonts")
        return tavo::ctl::runFontsCommand(rest, std::cout, std::cerr);
    if (command == "login")
        return tavo::ctl::runLoginCommand(rest, std::cout, std::cerr);
    if (command == "update")
        return tavo::ctl::runUpdateCommand(rest, std::cout, std::cerr);
    if (command == "install")
        return tavo::ctl::runInstallCommand(rest, std::cout, std::cerr);
    if (command == "uninstall")
        return tavo::ctl::runUninstallCommand(rest, std::cout, std::cerr);
    if (command == "fontid")
        return tavo::runFontIdCommand(rest, std::cout);
    if (command == "help" || command == "--help" || command == "-h")
        return usage(std::cout, 0);
    std::cerr << "tavoctl: unknown command or arguments: " << command << "\n";
    return usage(std::cerr, 2);
}
