#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavo {

// Runs command lines through "/bin/sh -c", and one tool with administrator
// rights. Every call blocks until the command has ended.
class ShellExecute {
public:
    // The standard-error text when it is not empty, otherwise the
    // standard-output text; empty when the output is not UTF-8.
    static std::string execute(const std::string& command);

    // The standard-error text when there is one, otherwise none (success).
    static std::optional<std::string> executeReturnBoolean(const std::string& command);

    // The command's exit status (128 + signal when killed), -1 when the shell
    // could not be started. The output goes where ours goes.
    static int32_t executeReturnInteger(const std::string& command);

    // Runs tool with args through the program's authorization service; false
    // when the rights were refused or the tool could not be run.
    static bool privilegesExecuteWithTool(const std::string& tool,
                                          const std::vector<std::string>& args);
};

}  // namespace tavo
