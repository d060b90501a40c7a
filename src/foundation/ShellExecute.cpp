#include "foundation/ShellExecute.h"

#include "foundation/Log.h"
#include "foundation/Process.h"
#include "platform/Authorization.h"

namespace tavo {

namespace {

constexpr const char* kShell = "/bin/sh";

// Length of the UTF-8 sequence starting at s[i], 0 when it is malformed.
size_t utf8SequenceLength(const std::string& s, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    size_t length;
    uint32_t minimum;
    uint32_t cp;
    if (c < 0x80)
        return 1;
    if ((c & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + length > s.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return length;
}

bool isUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const size_t n = utf8SequenceLength(s, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

// The bytes as UTF-8 text, each malformed byte replaced by U+FFFD.
std::string lossyUtf8(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const size_t n = utf8SequenceLength(s, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(s, i, n);
            i += n;
        }
    }
    return out;
}

ProcessResult runShell(const std::string& command, bool captureOutput) {
    return Process::run(kShell, {"-c", command}, captureOutput);
}

}  // namespace

std::string ShellExecute::execute(const std::string& command) {
    const ProcessResult result = runShell(command, true);
    if (!result.standardError.empty() && isUtf8(result.standardError))
        return result.standardError;
    return isUtf8(result.standardOutput) ? result.standardOutput : std::string();
}

std::optional<std::string> ShellExecute::executeReturnBoolean(const std::string& command) {
    const ProcessResult result = runShell(command, true);
    if (!result.started)
        return std::string("cannot run ") + kShell;
    if (result.standardError.empty())
        return std::nullopt;
    // Unreadable error text is still a failure, never a success.
    return lossyUtf8(result.standardError);
}

int32_t ShellExecute::executeReturnInteger(const std::string& command) {
    const ProcessResult result = runShell(command, false);
    if (!result.started)
        return -1;
    // run() returns once the shell has ended and been reaped, so the check
    // after the wait finds it finished and its status final.
    TAVO_DLOG("checking task running");
    return result.exitStatus;
}

bool ShellExecute::privilegesExecuteWithTool(const std::string& tool,
                                             const std::vector<std::string>& args) {
    if (tool.empty())
        return false;
    const auto authorization = platform::Authorization::defaultAuthorization();
    return authorization && authorization->executeWithPrivileges(tool, args);
}

}  // namespace tavo
