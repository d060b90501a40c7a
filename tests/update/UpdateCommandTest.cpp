// `tavoctl update` against the reference service: the versions it reports,
// the check with its progress, and the apply in the foreground.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "UpdateCommand.h"
#include "UpdateFixture.h"
#include "foundation/ConfigKeys.h"

namespace fs = std::filesystem;

namespace tavo {
namespace {

class UpdateCommandTest : public test::UpdateFixture {
protected:
    int run(const std::vector<std::string>& args) {
        out.str("");
        err.str("");
        return ctl::runUpdateCommand(args, out, err, client, controller);
    }
    bool printed(const std::string& text) const {
        return out.str().find(text) != std::string::npos;
    }
    std::ostringstream out, err;
};

TEST_F(UpdateCommandTest, ReportsTheVersions) {
    offer("2.2.0", true);
    ASSERT_EQ(run({}), 0) << err.str();
    EXPECT_TRUE(printed("running version: 2.1.0\n")) << out.str();
    EXPECT_TRUE(printed("specified version: (none)\n")) << out.str();
    EXPECT_TRUE(printed("offered version: 2.2.0 (forced)\n")) << out.str();
    EXPECT_TRUE(printed("downloaded version: (none)\n")) << out.str();
    EXPECT_TRUE(printed("forced: no\n")) << out.str();

    ASSERT_EQ(run({"--check"}), 0) << err.str();
    EXPECT_TRUE(printed("Downloading 100%")) << out.str();
    EXPECT_TRUE(printed("Downloaded version 2.2.0 (forced)\n")) << out.str();
    ASSERT_EQ(run({}), 0);
    EXPECT_TRUE(printed("downloaded version: 2.2.0\n")) << out.str();
    EXPECT_TRUE(printed("forced: yes\n")) << out.str();

    ASSERT_EQ(run({"--check"}), 0);
    EXPECT_TRUE(printed("No new version to download\n")) << out.str();
}

TEST_F(UpdateCommandTest, CheckFailsWhenTheArchiveIsNotSigned) {
    offer("2.2.0", false, "bad");
    EXPECT_EQ(run({"--check"}), 1);
    EXPECT_FALSE(fs::exists(updateFolder() + "TAVO-Ver2.2.0.zip"));
}

TEST_F(UpdateCommandTest, AppliesTheDownloadedUpdate) {
    EXPECT_EQ(run({"--apply"}), 2) << "nothing downloaded yet";
    placeDownloaded("2.2.0");
    ASSERT_EQ(run({"--apply"}), 0) << err.str();
    EXPECT_TRUE(printed("Updated to version 2.2.0")) << out.str();
    EXPECT_EQ(fs::read_symlink(root() + "/TAVO").string(), root() + "/TAVO-Ver2.2.0");
    ASSERT_EQ(workspace->launches().size(), 1u);
    EXPECT_EQ(workspace->launches()[0].arguments, std::vector<std::string>{"-Updated"});
    EXPECT_EQ(configText(kConfigSpecifiedVersion), "2.2.0");
}

TEST_F(UpdateCommandTest, ApplyRefusesANonAdministrator) {
    placeDownloaded("2.2.0");
    makeAdministrator(false);
    EXPECT_EQ(run({"--apply"}), 2);
    EXPECT_NE(err.str().find("administrator"), std::string::npos);
    EXPECT_FALSE(fs::exists(root() + "/TAVO-Ver2.2.0"));
}

TEST_F(UpdateCommandTest, ApplyReportsAFailure) {
    placeDownloaded("2.2.0");
    fs::remove(updateFolder() + "TAVO-Ver2.2.0.zip.sig");
    EXPECT_EQ(run({"--apply"}), 1);
    EXPECT_EQ(fs::read_symlink(root() + "/TAVO").string(), root() + "/TAVO-Ver2.1.0");
}

TEST_F(UpdateCommandTest, WrongArgumentsAreRefused) {
    EXPECT_EQ(run({"--now"}), 2);
    EXPECT_EQ(run({"--check", "--apply"}), 2);
}

}  // namespace
}  // namespace tavo
