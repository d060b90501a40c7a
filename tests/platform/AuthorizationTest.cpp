#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/Authorization.h"
#include "platform/linux/ProcessAuthorization.h"
#include "support/Sandbox.h"

namespace tavo::platform {
namespace {

using Args = std::vector<std::string>;

class AuthorizationTest : public test::SandboxTest {
protected:
    void TearDown() override { Authorization::setDefaultAuthorization(nullptr); }

    // A stand-in for pkexec: records its arguments, one a line, and exits
    // with the given status.
    std::string fakeElevator(int status) {
        const std::string path = sandbox.path("/usr/bin/fake-pkexec");
        test::Sandbox::writeFile(
            path, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + recordPath() +
                      "'\nexit " + std::to_string(status) + "\n");
        chmod(path.c_str(), 0755);
        return path;
    }
    std::string recordPath() const { return sandbox.path("/elevator-args"); }
};

TEST_F(AuthorizationTest, DefaultAuthorizationRefusesUntilOneIsSet) {
    const std::string marker = sandbox.path("/ran");
    const Args args = {"-c", "touch '" + marker + "'"};
    EXPECT_FALSE(Authorization::defaultAuthorization()->executeWithPrivileges("/bin/sh", args));
    EXPECT_FALSE(test::Sandbox::exists(marker));

    Authorization::setDefaultAuthorization(std::make_shared<ProcessAuthorization>());
    EXPECT_TRUE(Authorization::defaultAuthorization()->executeWithPrivileges("/bin/sh", args));
    EXPECT_TRUE(test::Sandbox::exists(marker));

    Authorization::setDefaultAuthorization(nullptr);
    ASSERT_NE(Authorization::defaultAuthorization(), nullptr);
    EXPECT_FALSE(Authorization::defaultAuthorization()->executeWithPrivileges("/bin/true", {}));
}

TEST_F(AuthorizationTest, InsideTheSandboxTheToolRunsDirectlyWithItsArguments) {
    const std::string out = sandbox.path("/out file");
    ProcessAuthorization authorization(fakeElevator(0));
    ASSERT_TRUE(authorization.executeWithPrivileges(
        "/bin/sh", {"-c", "printf '%s|%s' \"$1\" \"$2\" > \"$0\"", out, "two words", "it's"}));
    EXPECT_EQ(test::Sandbox::readFile(out), "two words|it's");
    // The elevator was not involved.
    EXPECT_FALSE(test::Sandbox::exists(recordPath()));
}

TEST_F(AuthorizationTest, DirectRunJudgesOnlyWhetherTheToolStarted) {
    ProcessAuthorization authorization;
    EXPECT_TRUE(authorization.executeWithPrivileges("/bin/sh", {"-c", "exit 3"}));
    EXPECT_FALSE(authorization.executeWithPrivileges(sandbox.path("/no/such/tool"), {}));
    EXPECT_FALSE(authorization.executeWithPrivileges("", {}));
}

TEST_F(AuthorizationTest, ElevatorGetsToolAndArgumentsAndItsRefusalsMeanFalse) {
    const auto elevated = [](const std::string& elevator) {
        return ProcessAuthorization(elevator, [] { return false; });
    };
    struct Case {
        int status;
        bool expected;
    };
    for (const Case c : {Case{0, true}, Case{1, true}, Case{126, false}, Case{127, false}}) {
        SCOPED_TRACE(c.status);
        auto authorization = elevated(fakeElevator(c.status));
        EXPECT_EQ(authorization.executeWithPrivileges("/opt/tool", {"isPrivileges", "a b"}),
                  c.expected);
        EXPECT_EQ(test::Sandbox::readFile(recordPath()), "/opt/tool\nisPrivileges\na b\n");
    }
    auto missing = elevated(sandbox.path("/no/such/pkexec"));
    EXPECT_FALSE(missing.executeWithPrivileges("/bin/true", {}));
}

}  // namespace
}  // namespace tavo::platform
