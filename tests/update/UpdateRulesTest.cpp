// The rules of the update that need no server: which versions become names
// of folders, the signature check, which archive entries and links are
// refused, and which commands the privileged helper runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "CommandPolicy.h"
#include "TestArchives.h"
#include "foundation/Ed25519.h"
#include "support/Sandbox.h"
#include "update/UpdateArchive.h"
#include "update/UpdateSignature.h"
#include "update/UpdateVersion.h"

namespace fs = std::filesystem;

namespace tavo {
namespace {

TEST(UpdateVersionTest, OnlyPlainNamesAreVersions) {
    for (const char* good : {"2.2.0", "10.0-beta_1", "3+build.7", "1"})
        EXPECT_TRUE(UpdateVersion::isPlain(good)) << good;
    for (const char* bad : {"", ".", "..", "../2.2.0", "2.2/0", "2..0", "/abs", "2.2.0\n", "2 2",
                            "2.2.0\x01", "a\\b"})
        EXPECT_FALSE(UpdateVersion::isPlain(bad)) << bad;
    EXPECT_FALSE(UpdateVersion::isPlain(std::string(65, '1')));
}

TEST(Ed25519Test, Base64IsCanonical) {
    EXPECT_EQ(Ed25519::base64Decode("aGk=").value_or("?"), "hi");
    EXPECT_EQ(Ed25519::base64Decode("  aGk=\n").value_or("?"), "hi");
    EXPECT_EQ(Ed25519::base64Decode("").value_or("?"), "");
    for (const char* bad : {"aGk", "aG=k", "a*k=", "aGl="})
        EXPECT_FALSE(Ed25519::base64Decode(bad).has_value()) << bad;
}

TEST(UpdateSignatureTest, AcceptsOnlyTheKeysSignatureOfTheSameBytes) {
    const std::string key = test::TestArchives::publicKey();
    const std::string pem = test::Sandbox::readFile(test::TestArchives::signingKeyFile());
    const std::string data = "archive bytes";
    const std::string signature = Ed25519::base64Encode(*Ed25519::sign(data, pem));
    EXPECT_EQ(UpdateSignature::problem(data, signature, key), "");
    EXPECT_NE(UpdateSignature::problem(data + "!", signature, key), "");
    std::string flipped = signature;
    flipped[3] = flipped[3] == 'A' ? 'B' : 'A';
    EXPECT_NE(UpdateSignature::problem(data, flipped, key), "");
    EXPECT_NE(UpdateSignature::problem(data, "", key), "");
    EXPECT_NE(UpdateSignature::problem(data, "not base64!", key), "");
    EXPECT_NE(UpdateSignature::problem(data, signature, ""), "") << "no key: nothing is accepted";
    // Another key pair's signature of the same bytes.
    const std::string other = Ed25519::base64Encode(std::string(32, '\x07'));
    EXPECT_NE(UpdateSignature::problem(data, signature, other), "");
}

TEST(UpdateArchiveTest, EntriesMustStayInTheVersionFolder) {
    const std::string top = "TAVO-Ver2.2.0";
    EXPECT_EQ(
        UpdateArchive::entriesProblem({top + "/", top + "/TAVO.app/Contents/Info.plist"}, top), "");
    for (const std::string& bad :
         {std::string("/etc/passwd"), top + "/../evil", std::string("TAVO-Ver2.2.0x/a"),
          std::string("other/TAVO.app"), top + "/a/../../b", top + "\\..\\b", top + "/a\nb"})
        EXPECT_NE(UpdateArchive::entriesProblem({top + "/ok", bad}, top), "") << bad;
    EXPECT_NE(UpdateArchive::entriesProblem({}, top), "");
}

class UpdateArchiveFileTest : public test::SandboxTest {};

TEST_F(UpdateArchiveFileTest, ListsEntriesAndFindsLinksLeadingOut) {
    const std::string zip = sandbox.path("/tmp/a.zip");
    auto entries = test::TestArchives::bundleEntries("2.2.0");
    entries.push_back({"TAVO-Ver2.2.0/TAVO.app/Contents/Current", "MacOS", true, false});
    test::TestArchives::writeZip(zip, entries);
    int status = -1;
    const auto listed = UpdateArchive::listEntries(zip, &status);
    ASSERT_TRUE(listed.has_value());
    EXPECT_EQ(status, 0);
    EXPECT_EQ(listed->size(), 3u);

    test::Sandbox::writeFile(sandbox.path("/tmp/damaged.zip"), "PK\x03\x04 not really");
    EXPECT_FALSE(UpdateArchive::listEntries(sandbox.path("/tmp/damaged.zip"), &status));
    EXPECT_NE(status, 0);

    const std::string folder = sandbox.path("/tmp/TAVO-Ver2.2.0");
    fs::create_directories(folder + "/TAVO.app/Contents");
    fs::create_symlink("Contents", folder + "/TAVO.app/Inside");
    EXPECT_EQ(UpdateArchive::linksProblem(folder), "");
    fs::create_symlink("../../../outside", folder + "/TAVO.app/Contents/Out");
    EXPECT_NE(UpdateArchive::linksProblem(folder), "");
    fs::remove(folder + "/TAVO.app/Contents/Out");
    fs::create_symlink("/etc", folder + "/TAVO.app/Contents/Abs");
    EXPECT_NE(UpdateArchive::linksProblem(folder), "");
}

class CommandPolicyTest : public test::SandboxTest {
protected:
    void SetUp() override {
        root = sandbox.path("/opt/Oskavelle");
        area = sandbox.home() + "/.local/share/Oskavelle/TAVO";
        fs::create_directories(root + "/TAVO-Ver2.1.0");
        fs::create_directories(area + "/TAVO-Ver2.2.0");
        fs::create_symlink(root + "/TAVO-Ver2.1.0", root + "/TAVO");
    }
    helper::CommandPolicy policy() const {
        return helper::CommandPolicy(root, area, "root:root", ::getuid());
    }
    std::string root, area;
};

TEST_F(CommandPolicyTest, RunsTheInstallStepsCommands) {
    const auto p = policy();
    EXPECT_EQ(p.check({"/bin/mv", "-f", area + "/TAVO-Ver2.2.0/", root}), "");
    EXPECT_EQ(p.check({"/bin/chown", "-R", "root:root", root + "/TAVO-Ver2.1.0"}), "");
    EXPECT_EQ(p.check({"/bin/unlink", root + "/TAVO"}), "");
    EXPECT_EQ(p.check({"/bin/ln", "-s", root + "/TAVO-Ver2.1.0", root + "/TAVO"}), "");
    EXPECT_EQ(p.check({"/bin/rm", "-Rf", root + "/TAVO-Ver2.0.0"}), "");
}

TEST_F(CommandPolicyTest, RefusesEverythingElse) {
    const auto p = policy();
    const std::vector<std::vector<std::string>> refused = {
        {"/bin/sh", "-c", "true"},
        {"rm", "-Rf", root + "/TAVO-Ver2.0.0"},  // no full path
        {"/bin/rm", "-Rf", root},                // the root itself
        {"/bin/rm", "-Rf", "/etc"},
        {"/bin/rm", "-Rf", root + "/../../etc"},
        {"/bin/rm", "-Rf", root + "/TAVO/../../x"},
        {"/bin/rm", "-Rf", root + "x/y"},                                // a sibling of the root
        {"/bin/rm", "-rf", "--no-preserve-root", root + "/a"},           // other options
        {"/bin/mv", "-f", "/etc/shadow", root},                          // source outside the area
        {"/bin/mv", "-f", area + "/TAVO-Ver2.2.0", "/usr/bin"},          // target outside the root
        {"/bin/mv", "-f", area + "/missing", root},                      // no such folder
        {"/bin/chown", "-R", "tester:tester", root + "/TAVO-Ver2.1.0"},  // another owner
        {"/bin/chown", "-R", "root:root", root + "/TAVO"},               // through the link
        {"/bin/ln", "-s", "/etc", root + "/TAVO"},
        {"/bin/unlink", "relative/path"},
        {}};
    for (const auto& command : refused) {
        std::string text;
        for (const auto& word : command)
            text += word + " ";
        EXPECT_NE(p.check(command), "") << text;
    }
}

TEST_F(CommandPolicyTest, RefusesAPathThroughALinkLeadingOut) {
    fs::create_directories(sandbox.path("/elsewhere/x"));
    fs::create_symlink(sandbox.path("/elsewhere"), root + "/TAVO-VerEvil");
    EXPECT_NE(policy().check({"/bin/rm", "-Rf", root + "/TAVO-VerEvil/x"}), "");
    // The link itself lies in the root and may go.
    EXPECT_EQ(policy().check({"/bin/rm", "-Rf", root + "/TAVO-VerEvil"}), "");
    // A source that is a link is no folder of the user's.
    fs::create_symlink(sandbox.path("/elsewhere"), area + "/TAVO-Ver9");
    EXPECT_NE(policy().check({"/bin/mv", "-f", area + "/TAVO-Ver9", root}), "");
}

}  // namespace
}  // namespace tavo
