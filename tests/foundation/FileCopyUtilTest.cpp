#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Clock.h"
#include "foundation/FileCopyUtil.h"
#include "foundation/MainQueue.h"
#include "support/Sandbox.h"

namespace fs = std::filesystem;

namespace tavo {
namespace {

using namespace std::chrono_literals;

class RecordingDelegate : public FileCopyUtilDelegate {
public:
    void setCopyProgress(float progress) override {
        onMain &= MainQueue::isMainThread();
        progress_.push_back(progress);
    }
    void didFinishedCopyWithError(const std::optional<Error>& error) override {
        onMain &= MainQueue::isMainThread();
        ++finished;
        this->error = error;
    }
    const std::vector<float>& progress() const { return progress_; }

    bool onMain = true;
    int finished = 0;
    std::optional<Error> error;

private:
    std::vector<float> progress_;
};

class FileCopyUtilTest : public test::SandboxTest {
protected:
    void SetUp() override {
        // The 0.1-second start delay and the ticks run in a tenth of the time.
        Clock::setCurrent(std::make_shared<ScaledClock>(0.1));
        util->delegate = delegate;
    }
    void TearDown() override {
        MainQueue::main().drain();
        Clock::setCurrent(nullptr);
    }

    std::string at(const std::string& relative) const { return sandbox.root() + "/" + relative; }

    bool copyAndWait(const std::string& source, const std::string& target) {
        util->copyFileAtPath(source, target);
        return MainQueue::main().runUntil([&] { return delegate->finished > 0; }, 5s);
    }

    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<FileCopyUtil> util = std::make_shared<FileCopyUtil>();
};

TEST_F(FileCopyUtilTest, FileCopyReportsProgressUpToOneThenFinishes) {
    const std::string source = at("src/TAVO.bin");
    test::Sandbox::writeFile(source, std::string(1 << 20, 'x'));
    ASSERT_TRUE(copyAndWait(source, at("dst/TAVO.bin")));

    EXPECT_EQ(delegate->finished, 1);
    EXPECT_FALSE(delegate->error.has_value());
    EXPECT_TRUE(delegate->onMain);
    ASSERT_FALSE(delegate->progress().empty());
    EXPECT_FLOAT_EQ(delegate->progress().back(), 1.0f);
    for (float p : delegate->progress()) {
        EXPECT_GE(p, 0.0f);
        EXPECT_LE(p, 1.0f);
    }
    EXPECT_EQ(test::Sandbox::readFile(at("dst/TAVO.bin")), test::Sandbox::readFile(source));
    EXPECT_FALSE(util->isDirectory);
    EXPECT_EQ(util->timer, nullptr);
}

TEST_F(FileCopyUtilTest, CopyReplacesAnExistingTarget) {
    test::Sandbox::writeFile(at("src/app/new.txt"), "new");
    test::Sandbox::writeFile(at("dst/app/stale.txt"), "stale");
    ASSERT_TRUE(copyAndWait(at("src/app"), at("dst/app")));
    EXPECT_FALSE(delegate->error.has_value());
    EXPECT_EQ(test::Sandbox::readFile(at("dst/app/new.txt")), "new");
    EXPECT_FALSE(fs::exists(at("dst/app/stale.txt")));

    Error error;
    test::Sandbox::writeFile(at("one.txt"), "fresh");
    test::Sandbox::writeFile(at("two.txt"), "old contents");
    ASSERT_TRUE(FileCopyUtil::syncCopyAtPath(at("one.txt"), at("two.txt"), &error));
    EXPECT_EQ(test::Sandbox::readFile(at("two.txt")), "fresh");
}

TEST_F(FileCopyUtilTest, CopyIntoAMissingFolderChainCreatesIt) {
    test::Sandbox::writeFile(at("LOGforRELEASE.command"), "#!/bin/sh\n");
    ASSERT_TRUE(copyAndWait(at("LOGforRELEASE.command"), at("a/b/c/LOGforRELEASE.command")));
    EXPECT_FALSE(delegate->error.has_value());
    EXPECT_EQ(test::Sandbox::readFile(at("a/b/c/LOGforRELEASE.command")), "#!/bin/sh\n");

    Error error;
    ASSERT_TRUE(FileCopyUtil::syncCopyAtPath(at("LOGforRELEASE.command"),
                                             at("x/y/LOGforRELEASE.command"), &error));
    EXPECT_TRUE(fs::exists(at("x/y/LOGforRELEASE.command")));
}

TEST_F(FileCopyUtilTest, FolderTreeIsCopiedWithItsLinks) {
    test::Sandbox::writeFile(at("TAVO.app/Contents/Info.plist"), "<plist/>");
    test::Sandbox::writeFile(at("TAVO.app/Contents/MacOS/TAVO"), std::string(4096, 'b'));
    test::Sandbox::writeFile(at("TAVO.app/Contents/Resources/deep/er/icon.png"), "png");
    fs::create_symlink("MacOS/TAVO", at("TAVO.app/Contents/current"));
    ASSERT_TRUE(copyAndWait(at("TAVO.app"), at("Oskavelle/TAVO-Ver2/TAVO.app")));

    EXPECT_FALSE(delegate->error.has_value());
    EXPECT_TRUE(util->isDirectory);
    EXPECT_FLOAT_EQ(delegate->progress().back(), 1.0f);
    const std::string copy = at("Oskavelle/TAVO-Ver2/TAVO.app");
    EXPECT_EQ(test::Sandbox::readFile(copy + "/Contents/Resources/deep/er/icon.png"), "png");
    ASSERT_TRUE(fs::is_symlink(copy + "/Contents/current"));
    EXPECT_EQ(fs::read_symlink(copy + "/Contents/current"), "MacOS/TAVO");
    EXPECT_EQ(FileCopyUtil::getDirectoryFileSizeAtPath(copy),
              FileCopyUtil::getDirectoryFileSizeAtPath(at("TAVO.app")));
}

TEST_F(FileCopyUtilTest, TheCopyKeepsItsInstanceAlive) {
    test::Sandbox::writeFile(at("src.txt"), "data");
    util->copyFileAtPath(at("src.txt"), at("dst.txt"));
    std::weak_ptr<FileCopyUtil> watch = util;
    util.reset();
    ASSERT_TRUE(MainQueue::main().runUntil([&] { return delegate->finished > 0; }, 5s));
    EXPECT_EQ(test::Sandbox::readFile(at("dst.txt")), "data");
    MainQueue::main().drain();
    EXPECT_TRUE(watch.expired());  // and lets go of it afterwards
}

TEST_F(FileCopyUtilTest, MissingSourceIsReportedAsAnError) {
    ASSERT_TRUE(copyAndWait(at("absent"), at("dst/absent")));
    ASSERT_TRUE(delegate->error.has_value());
    EXPECT_NE(delegate->error->code, 0);
    EXPECT_EQ(util->timer, nullptr);
    for (float p : delegate->progress())
        EXPECT_LT(p, 1.0f);

    Error error;
    EXPECT_FALSE(FileCopyUtil::syncCopyAtPath(at("absent"), at("elsewhere"), &error));
    EXPECT_NE(error.code, 0);
}

TEST_F(FileCopyUtilTest, ATargetHoldingTheSourceIsRefusedAndNothingIsLost) {
    test::Sandbox::writeFile(at("app/Contents/file"), "keep");
    ASSERT_TRUE(copyAndWait(at("app/Contents"), at("app")));
    EXPECT_TRUE(delegate->error.has_value());
    EXPECT_EQ(test::Sandbox::readFile(at("app/Contents/file")), "keep");

    Error error;
    EXPECT_FALSE(FileCopyUtil::syncCopyAtPath(at("app"), at("app"), &error));
    EXPECT_FALSE(FileCopyUtil::syncCopyAtPath(at("app"), at("app/Contents/inner"), &error));
    EXPECT_FALSE(
        FileCopyUtil::syncCopyAtPath(at("app/Contents/file"), at("app/./Contents/file"), &error));
    EXPECT_EQ(test::Sandbox::readFile(at("app/Contents/file")), "keep");
}

TEST_F(FileCopyUtilTest, ProgressIsTheTargetShareOfTheSourceSize) {
    test::Sandbox::writeFile(at("s/a"), std::string(300, 'a'));
    test::Sandbox::writeFile(at("s/sub/b"), std::string(100, 'b'));
    test::Sandbox::writeFile(at("t/a"), std::string(100, 'a'));
    util->sourcePath = at("s");
    util->targetPath = at("t");
    util->isDirectory = true;
    util->checkFileSize();
    test::Sandbox::writeFile(at("t/sub/b"), std::string(400, 'b'));  // more than the source
    util->checkFileSize();
    util->sourcePath = at("empty");
    util->targetPath = at("t/missing");
    util->isDirectory = false;
    test::Sandbox::writeFile(at("empty"), "");
    util->checkFileSize();  // an empty source: nothing copied yet
    test::Sandbox::writeFile(at("t/missing"), "");
    util->checkFileSize();  // ... and complete once the target is there
    EXPECT_EQ(delegate->progress(), (std::vector<float>{0.25f, 1.0f, 0.0f, 1.0f}));
}

TEST_F(FileCopyUtilTest, DirectorySizeCountsRegularFilesAndNoLinks) {
    test::Sandbox::writeFile(at("tree/a"), std::string(10, 'a'));
    test::Sandbox::writeFile(at("tree/sub/b"), std::string(20, 'b'));
    test::Sandbox::writeFile(at("outside/big"), std::string(1000, 'c'));
    fs::create_symlink(at("outside/big"), at("tree/link-to-file"));
    fs::create_symlink(at("outside"), at("tree/sub/link-to-folder"));
    EXPECT_EQ(FileCopyUtil::getDirectoryFileSizeAtPath(at("tree")), 30u);
    EXPECT_EQ(FileCopyUtil::getDirectoryFileSizeAtPath(at("nowhere")), 0u);
}

TEST_F(FileCopyUtilTest, AnUnsharedInstanceReportsInsteadOfCrashing) {
    FileCopyUtil local;
    local.delegate = delegate;
    test::Sandbox::writeFile(at("f"), "f");
    local.copyFileAtPath(at("f"), at("g"));
    ASSERT_TRUE(MainQueue::main().runUntil([&] { return delegate->finished > 0; }, 1s));
    EXPECT_TRUE(delegate->error.has_value());
}

}  // namespace
}  // namespace tavo
