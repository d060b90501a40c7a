#include "LoginCommand.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <iostream>

#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/Localization.h"
#include "platform/SystemInfo.h"
#include "service/ApiClient.h"
#include "signin/SignInFlow.h"

namespace tavo::ctl {

using signin::SignInFlow;
using signin::StepOutcome;

namespace {

constexpr int kMaxCodeFailures = 3;

// ---- terminal

// The terminal's settings while echo is off, for the signal handler.
struct termios gSavedTerminal;
volatile sig_atomic_t gTerminalSaved = 0;

void restoreTerminalAndRaise(int signal) {
    if (gTerminalSaved)
        tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
    // The handler was reset to the default on entry: the signal ends the
    // program once this handler returns.
    raise(signal);
}

constexpr int kTerminatingSignals[] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP};

// Echo off for the lifetime of the object; the signal handlers put the
// terminal back when the program is interrupted meanwhile.
class EchoOff {
public:
    EchoOff() {
        if (tcgetattr(STDIN_FILENO, &gSavedTerminal) != 0)
            return;
        gTerminalSaved = 1;
        struct sigaction action = {};
        action.sa_handler = restoreTerminalAndRaise;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(kTerminatingSignals); ++i)
            sigaction(kTerminatingSignals[i], &action, &previous_[i]);
        struct termios quiet = gSavedTerminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    ~EchoOff() {
        if (!gTerminalSaved)
            return;
        tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
        gTerminalSaved = 0;
        for (std::size_t i = 0; i < std::size(kTerminatingSignals); ++i)
            sigaction(kTerminatingSignals[i], &previous_[i], nullptr);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    struct sigaction previous_[std::size(kTerminatingSignals)] = {};
};

std::optional<std::string> readLine(std::istream& in) {
    std::string line;
    if (!std::getline(in, line))
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

// ---- the conversation

// Text from the service for the terminal: control characters (escape
// sequences among them) replaced.
std::string printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    }
    return text;
}

bool refreshTokenStored() {
    const auto config = Config::userConfig();
    const auto token =
        config ? Config::decryptedValue(*config, kConfigRefreshTokens) : std::nullopt;
    return token && !token->empty();
}

int usage(std::ostream& err) {
    err << "usage: tavoctl login [--mail ADDRESS] [--force]\n";
    return 2;
}

// The two-factor page: none when the person gave up (told on err).
std::optional<StepOutcome> twoFactorStep(SignInFlow& flow, LoginPrompter& prompter,
                                         std::ostream& err) {
    for (int failures = 0; failures < kMaxCodeFailures;) {
        const auto code = prompter.ask("Two-factor code: ", false);
        if (!code) {
            err << "tavoctl login: no two-factor code given\n";
            return std::nullopt;
        }
        if (!SignInFlow::isValidAuthorizationCode(*code)) {
            err << localized(signin::kCodeNotInputtedText) << "\n";
            ++failures;
            continue;
        }
        StepOutcome outcome = flow.submitCode(*code);
        if (outcome.segue || outcome.closeWindow || outcome.errorText != signin::kWrongCodeText)
            return outcome;
        err << localized(signin::kWrongCodeText) << "\n";
        ++failures;
    }
    err << "tavoctl login: no right code after " << kMaxCodeFailures << " attempts\n";
    return std::nullopt;
}

// The device-limit page: lists the devices, logs out the ones chosen, then
// takes this device into use.
StepOutcome deviceStep(SignInFlow& flow, LoginPrompter& prompter, std::ostream& out,
                       std::ostream& err) {
    std::vector<signin::DeviceEntry> devices = flow.devices();
    out << localized("Currently using TAVO two devices") << "\n"
        << localized("Device description") << "\n";
    if (devices.empty())
        out << "  (the devices could not be listed)\n";
    for (std::size_t i = 0; i < devices.size(); ++i)
        out << "  " << i + 1 << ". " << printable(devices[i].name) << "\n";
    for (;;) {
        const auto answer = prompter.ask("Log out device number (Enter when done): ", false);
        if (!answer || answer->empty())
            break;
        std::size_t number = 0;
        const bool digits =
            answer->find_first_not_of("0123456789") == std::string::npos && answer->size() < 6;
        if (digits)
            number = std::stoul(*answer);
        if (number < 1 || number > devices.size()) {
            err << "tavoctl login: there is no device number " << printable(*answer) << "\n";
            continue;
        }
        signin::DeviceEntry& device = devices[number - 1];
        if (!device.active) {
            err << "tavoctl login: " << printable(device.name) << ": " << localized("Logged out")
                << "\n";
            continue;
        }
        if (flow.releaseDevice(device.deviceId)) {
            device.active = false;
            out << printable(device.name) << ": " << localized("Logged out") << "\n";
        } else {
            err << localized("Failed logout the device") << "\n";
        }
    }
    return flow.takeIntoUse();
}

}  // namespace

std::optional<std::string> StreamPrompter::ask(const std::string& prompt, bool) {
    out_ << prompt << "\n" << std::flush;
    return readLine(in_);
}

std::optional<std::string> TerminalPrompter::ask(const std::string& prompt, bool secret) {
    out_ << prompt << std::flush;
    if (!secret)
        return readLine(std::cin);
    EchoOff quiet;
    return readLine(std::cin);
}

void configureClientForSignIn(ApiClient& client) {
    client.setApiEndpoint(Config::deliveServerName());
    client.setSseEndpoint(Config::noticeServerName());
    client.setUserAgent(Const::userAgent(platform::SystemInfo::osVersionText()));
    client.timeoutIntervalForRequest = 10;
    client.setDeviceKey(std::string());
    const auto config = Config::userConfig();
    if (!config)
        return;
    if (auto key = Config::decryptedValue(*config, kConfigDeviceKey); key && !key->empty())
        client.setDeviceKey(*key);
    if (auto id = Config::decryptedValue(*config, kConfigDeviceId); id && !id->empty())
        client.setDeviceId(*id);
}

int runLoginCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    ApiClient& client = ApiClient::defaultApiClient();
    configureClientForSignIn(client);
    if (::isatty(STDIN_FILENO) == 1) {
        TerminalPrompter prompter(out);
        return runLoginCommand(args, prompter, client, out, err);
    }
    StreamPrompter prompter(std::cin, out);
    return runLoginCommand(args, prompter, client, out, err);
}

int runLoginCommand(const std::vector<std::string>& args, LoginPrompter& prompter,
                    ApiClient& client, std::ostream& out, std::ostream& err) {
    std::optional<std::string> mailAddress;
    bool force = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--mail" && i + 1 < args.size() && !mailAddress)
            mailAddress = args[++i];
        else if (args[i] == "--force")
            force = true;
        else
            return usage(err);
    }
    if (!force && refreshTokenStored()) {
        out << "Already signed in (tavoctl login --force signs in again).\n";
        return 0;
    }
    if (!mailAddress)
        mailAddress = prompter.ask("E-mail address: ", false);
    const auto password = mailAddress ? prompter.ask("Password: ", true) : std::nullopt;
    if (!mailAddress || !password) {
        err << "tavoctl login: no " << (mailAddress ? "password" : "e-mail address") << " given\n";
        return 1;
    }
    const auto check = SignInFlow::inputCheck(*mailAddress, *password);
    if (!check.ok()) {
        if (!check.mailAddressValid)
            err << localized("Mail address input error") << "\n";
        if (!check.passwordValid)
            err << localized("Password input error") << "\n";
        return 1;
    }

    SignInFlow flow(client);
    std::optional<StepOutcome> outcome = flow.login(*mailAddress, *password);
    while (outcome) {
        const std::string segue = outcome->segue.value_or("");
        if (segue == signin::kSegueTwoAuthorization) {
            outcome = twoFactorStep(flow, prompter, err);
        } else if (segue == signin::kSegueThirdUnitNgDialog) {
            outcome = deviceStep(flow, prompter, out, err);
        } else if (segue == signin::kSegueLoginCompletion) {
            if (!refreshTokenStored()) {
                err << "tavoctl login: the sign-in could not be stored in "
                    << Config::userConfigPath().value_or("(no user area)") << "\n";
                return 1;
            }
            out << "Signed in as " << *mailAddress << ".\n";
            return 0;
        } else if (segue == signin::kSegueLogin) {
            err << "tavoctl login: this computer was not taken into use: the account still uses "
                   "its "
                   "maximum number of devices\n";
            return 1;
        } else {
            err << localized(outcome->errorText.value_or(signin::kNetworkErrorText)) << "\n";
            return 1;
        }
    }
    return 1;
}

}  // namespace tavo::ctl
