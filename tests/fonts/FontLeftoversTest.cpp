// What a killed program leaves in the user area is removed at the next start,
// unless a running program still writes it.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "fonts/FontInstaller.h"
#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "service/ApiClient.h"
#include "support/Sandbox.h"

namespace tavo::test {
namespace {

class FontLeftoversTest : public SandboxTest {
protected:
    static std::string workspace() { return *ApiClient::downloadFolder(); }
    static std::string fonts() { return *Const::userFontDirectoryPath(); }
    static std::string area() { return FileUtil::parentPath(*Config::fontListPath()); }
};

TEST_F(FontLeftoversTest, DownloadsAndTemporariesOfAKilledRunGoTheRestStays) {
    const std::vector<std::string> leftovers{
        workspace() + "/tavo-download-a1B2c3",                      // a body cut off mid-transfer
        workspace() + "/6F1C0E4A-2B9D-4B7E-9A51-0C3D2E1F4A5B.otf",  // its copy
        fonts() + "/.Sample Sans.ttf.Zx81Qq",                       // an installation's temporary
        area() + "/TAVO.font.plist.k9LmN0",                         // a list's temporary
        area() + "/TAVO.config.plist.AbCdEf",
    };
    const std::vector<std::string> kept{
        fonts() + "/Sample Sans.ttf",    fonts() + "/.hidden-by-the-user.ttf",
        area() + "/TAVO.font.plist",     area() + "/TAVO.config.plist",
        area() + "/TAVO.font.plist.bak", area() + "/TAVO-Ver2.2.0.zip",
    };
    for (const auto& path : leftovers)
        Sandbox::writeFile(path, "partial");
    for (const auto& path : kept)
        Sandbox::writeFile(path, "whole");

    EXPECT_EQ(FontInstaller::removeLeftovers(), leftovers.size());
    for (const auto& path : leftovers)
        EXPECT_FALSE(FileUtil::exists(path)) << path;
    for (const auto& path : kept)
        EXPECT_TRUE(FileUtil::exists(path)) << path;
}

TEST_F(FontLeftoversTest, AFileAnotherProgramStillWritesStays) {
    const std::string inFlight = workspace() + "/tavo-download-Q1w2E3";
    Sandbox::writeFile(inFlight, "arriving");
    // The lock of a download in flight, as another running program holds it.
    const int fd = ::open(inFlight.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    // Another open file description, as another process's clean-up sees it.
    EXPECT_EQ(FontInstaller::removeLeftovers(), 0u);
    EXPECT_TRUE(FileUtil::exists(inFlight));
    ::close(fd);
    EXPECT_EQ(FontInstaller::removeLeftovers(), 1u);
    EXPECT_FALSE(FileUtil::exists(inFlight));
}

TEST_F(FontLeftoversTest, TheDownloadFolderLiesInTheUserArea) {
    const std::string folder = workspace();
    EXPECT_EQ(folder, *Const::applicationDownloadFontTempolaryDirectoryPath() + "/Font");
    EXPECT_EQ(folder.rfind(sandbox.root() + "/", 0), 0u) << folder;
}

}  // namespace
}  // namespace tavo::test
