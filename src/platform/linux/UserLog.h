#pragma once

#include <string>

namespace tavo::platform {

// The log of a program that may run elevated (the installer and the
// uninstaller): it goes to the log folder of the user who started the
// program, and stays theirs when the elevated instance writes it.
class UserLog {
public:
    // Points the program's log at <home of user>/<user logs>/<program>.log,
    // creating the folders and the file. Run as root, every folder and the
    // file it created below the home are given to the user. False when the
    // user has no home or the log stays root's.
    static bool open(const std::string& user, const std::string& program);
};

}  // namespace tavo::platform
