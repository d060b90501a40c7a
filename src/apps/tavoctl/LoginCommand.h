#pragma once

#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tavo {
class ApiClient;
}

namespace tavo::ctl {

// Asks the person (or the script) at the other end for one answer.
class LoginPrompter {
public:
    virtual ~LoginPrompter() = default;
    // One line without its line feed; none at the end of the input. A secret
    // answer is not echoed on a terminal.
    virtual std::optional<std::string> ask(const std::string& prompt, bool secret) = 0;
};

// Answers read line by line from a stream, as a script pipes them in. Each
// prompt is written on a line of its own.
class StreamPrompter : public LoginPrompter {
public:
    StreamPrompter(std::istream& in, std::ostream& out) : in_(in), out_(out) {}
    std::optional<std::string> ask(const std::string& prompt, bool secret) override;

private:
    std::istream& in_;
    std::ostream& out_;
};

// Answers typed on the terminal of standard input; a secret one with echo
// switched off, the terminal restored even when the program is interrupted.
class TerminalPrompter : public LoginPrompter {
public:
    explicit TerminalPrompter(std::ostream& out) : out_(out) {}
    std::optional<std::string> ask(const std::string& prompt, bool secret) override;

private:
    std::ostream& out_;
};

// Sets the client up for a sign-in: server addresses, user agent, timeout,
// and the device key and device id stored for the current user.
void configureClientForSignIn(ApiClient& client);

// `tavoctl login [--mail ADDRESS] [--force]`: signs the current user in as
// the sign-in window does: e-mail address and password, then the two-factor
// code or the device-limit choice when the service asks for them. The tokens
// are stored in the user configuration, where TAVO finds them when it starts.
// Exit status: 0 when signed in (or already signed in without --force), 1
// when the service refused or could not be reached, 2 for wrong arguments.
int runLoginCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// The same with the caller's prompter and client (configureClientForSignIn).
int runLoginCommand(const std::vector<std::string>& args, LoginPrompter& prompter,
                    ApiClient& client, std::ostream& out, std::ostream& err);

}  // namespace tavo::ctl
