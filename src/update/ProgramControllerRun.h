#pragma once

#include <atomic>
#include <string>

#include "update/ProgramController.h"

namespace tavo {

// What the worker and the install step of one update share. The worker
// fills it before it hands the run to the main queue; from then on only
// the install step and the relaunch touch it.
struct ProgramController::Run {
    std::string version;
    std::string currentVersion;
    std::string temporaryDirectory;  // with a trailing "/"
    std::string archivePath;
    std::atomic<bool> success{true};
    std::string errorMessage;  // the install step's failure; empty while all goes well
};

}  // namespace tavo
