// `tavoctl login` against the reference service: answers from a script, the
// two-factor code and the device-limit choice, in-process and as a program.
#include <gtest/gtest.h>

#include <sstream>

#include "LoginCommand.h"
#include "foundation/Localization.h"
#include "foundation/Process.h"
#include "signin/SignInFixture.h"
#include "support/ScopedEnvironment.h"

namespace tavo::test {
namespace {

class TavoctlLoginTest : public SignInFixture {
protected:
    void SetUp() override {
        SignInFixture::SetUp();
        storeServerAddresses();
    }

    // Runs the command in-process with these lines as the answers.
    int login(const std::string& answers, const std::vector<std::string>& args = {}) {
        std::istringstream in(answers);
        out.str("");
        err.str("");
        ApiClient tool;
        ctl::configureClientForSignIn(tool);
        ctl::StreamPrompter prompter(in, out);
        return ctl::runLoginCommand(args, prompter, tool, out, err);
    }

    // Runs the program with the answers piped into its standard input.
    ProcessResult program(const std::string& answers, const std::string& args = "") {
        ScopedEnvironment root("TAVO_ROOT", sandbox.root());
        const std::string tool = bundlesDirectory() + "/TAVO.app/Contents/MacOS/tavoctl";
        return Process::run("/bin/sh",
                            {"-c", "printf '%s' " + Process::shellQuote(answers) + " | " +
                                       Process::shellQuote(tool) + " login " + args});
    }

    bool signedIn() const { return !stored(kConfigRefreshTokens).value_or("").empty(); }

    std::ostringstream out, err;
};

TEST_F(TavoctlLoginTest, PipedAnswersSignInAndTheNextRunIsAlreadySignedIn) {
    const auto first = program(std::string(kMail) + "\n" + kPassword + "\n");
    ASSERT_TRUE(first.started);
    EXPECT_EQ(first.exitStatus, 0) << first.standardOutput << first.standardError;
    EXPECT_NE(first.standardOutput.find("Signed in as user@example.com."), std::string::npos)
        << first.standardOutput;
    EXPECT_EQ(first.standardOutput.find(kPassword), std::string::npos);
    EXPECT_TRUE(signedIn());
    EXPECT_EQ(requestCount("/api/v1/login"), 1u);

    const auto second = program(std::string(kMail) + "\n" + kPassword + "\n");
    EXPECT_EQ(second.exitStatus, 0);
    EXPECT_NE(second.standardOutput.find("Already signed in"), std::string::npos)
        << second.standardOutput;
    EXPECT_EQ(requestCount("/api/v1/login"), 1u);

    // Signing in again keeps the device registered before.
    const auto again = program(std::string(kPassword) + "\n", "--force --mail user@example.com");
    EXPECT_EQ(again.exitStatus, 0) << again.standardError;
    EXPECT_EQ(requestCount("/api/v1/login"), 2u);
    EXPECT_EQ(requestCount("/api/v1/deviceId"), 1u);
}

TEST_F(TavoctlLoginTest, TheProgramAsksForTheSecondFactor) {
    const auto result = program(std::string(kTwoFactorMail) + "\n" + kPassword + "\n00000000\n" +
                                kTwoFactorCode + "\n");
    EXPECT_EQ(result.exitStatus, 0) << result.standardOutput << result.standardError;
    EXPECT_NE(result.standardOutput.find("Two-factor code: "), std::string::npos);
    EXPECT_NE(result.standardOutput.find("Signed in as second@example.com."), std::string::npos);
    // The program reads the English texts of its bundle.
    EXPECT_NE(result.standardError.find("This code is not right"), std::string::npos)
        << result.standardError;
    EXPECT_TRUE(signedIn());
}

TEST_F(TavoctlLoginTest, WrongCodesStopAfterThreeAttempts) {
    EXPECT_EQ(login(std::string(kTwoFactorMail) + "\n" + kPassword +
                    "\n1234\n00000000\n11111111\n" + kTwoFactorCode + "\n"),
              1);
    EXPECT_EQ(requestCount("/api/v1/auth2fact"), 2u);  // the short code is refused here
    EXPECT_NE(err.str().find(localized(signin::kCodeNotInputtedText)), std::string::npos)
        << err.str();
    EXPECT_NE(err.str().find("3 attempts"), std::string::npos) << err.str();
    EXPECT_FALSE(signedIn());

    EXPECT_EQ(login(std::string(kTwoFactorMail) + "\n" + kPassword + "\n"), 1);  // no code at all
    EXPECT_FALSE(signedIn());
}

TEST_F(TavoctlLoginTest, AtTheDeviceLimitTheChosenDeviceIsLoggedOut) {
    ASSERT_EQ(login(std::string(kLimitMail) + "\n" + kPassword + "\n7\nx\n2\n2\n\n"), 0)
        << err.str();
    EXPECT_NE(out.str().find("  1. office-mac ada\n  2. studio-mac ada\n"), std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("Signed in as limit@example.com."), std::string::npos);
    EXPECT_NE(err.str().find("no device number 7"), std::string::npos);
    // The second "2" names a device already logged out: one request.
    EXPECT_EQ(requestCount("/api/v1/device/out-of-use"), 1u);
    const std::string released = requests("/api/v1/device/out-of-use")[0]["body"].dump();
    EXPECT_NE(released.find("DEVICE0000000002"), std::string::npos) << released;
    EXPECT_TRUE(signedIn());
}

TEST_F(TavoctlLoginTest, AtTheDeviceLimitWithoutAChoiceNothingIsTakenIntoUse) {
    EXPECT_EQ(login(std::string(kLimitMail) + "\n" + kPassword + "\n"), 1);
    EXPECT_NE(err.str().find("maximum number of devices"), std::string::npos) << err.str();
    EXPECT_EQ(requestCount("/api/v1/device/in-use"), 1u);
    EXPECT_FALSE(signedIn());
    EXPECT_NE(login(std::string(kMail) + "\n" + kPassword + "\n"), 2);
    EXPECT_EQ(out.str().find("Already signed in"), std::string::npos) << out.str();
}

// Answers the e-mail address and the password, then ends the program (as
// Ctrl-C would) at the question which device to log out.
class InterruptedAtTheDeviceChoice : public ctl::LoginPrompter {
public:
    struct Interrupted {};
    InterruptedAtTheDeviceChoice(std::string mail, std::string password)
        : mail_(std::move(mail)), password_(std::move(password)) {}
    std::optional<std::string> ask(const std::string& prompt, bool) override {
        if (prompt.find("E-mail") != std::string::npos)
            return mail_;
        if (prompt.find("Password") != std::string::npos)
            return password_;
        throw Interrupted{};
    }

private:
    std::string mail_, password_;
};

TEST_F(TavoctlLoginTest, AnInterruptedDeviceChoiceLeavesTheMachineSignedOut) {
    ApiClient tool;
    ctl::configureClientForSignIn(tool);
    InterruptedAtTheDeviceChoice prompter(kLimitMail, kPassword);
    EXPECT_THROW(ctl::runLoginCommand({}, prompter, tool, out, err),
                 InterruptedAtTheDeviceChoice::Interrupted);
    EXPECT_EQ(requestCount("/api/v1/devices"), 1u);  // the device page was shown
    EXPECT_FALSE(signedIn());
    // The next run signs in again instead of taking the limited sign-in.
    ASSERT_EQ(login(std::string(kLimitMail) + "\n" + kPassword + "\n1\n\n"), 0) << err.str();
    EXPECT_TRUE(signedIn());
}

TEST_F(TavoctlLoginTest, RefusalsPrintTheTextAndExit1) {
    EXPECT_EQ(login(std::string(kMail) + "\nwrong\n"), 1);
    EXPECT_EQ(err.str(), localized(signin::kWrongCredentialsText) + "\n");
    EXPECT_EQ(login(std::string(kLockedMail) + "\n" + kPassword + "\n"), 1);
    EXPECT_EQ(err.str(), localized(signin::kAccountLockedText) + "\n");
    dropOnce("/api/v1/login");
    EXPECT_EQ(login(std::string(kMail) + "\n" + kPassword + "\n"), 1);
    EXPECT_EQ(err.str(), localized(signin::kNetworkErrorText) + "\n");
    EXPECT_FALSE(signedIn());
}

TEST_F(TavoctlLoginTest, InputIsCheckedBeforeAnythingIsSent) {
    EXPECT_EQ(login("\n" + std::string(129, 'p') + "\n"), 1);
    EXPECT_NE(err.str().find(localized("Mail address input error")), std::string::npos);
    EXPECT_NE(err.str().find(localized("Password input error")), std::string::npos);
    EXPECT_EQ(login(std::string(kMail) + "\n"), 1);  // the input ends before the password
    EXPECT_NE(err.str().find("no password"), std::string::npos);
    EXPECT_EQ(requestCount("/api/v1/deviceId") + requestCount("/api/v1/login"), 0u);

    EXPECT_EQ(login("", {"--colour"}), 2);
    EXPECT_EQ(login("", {"--mail"}), 2);
}

}  // namespace
}  // namespace tavo::test
