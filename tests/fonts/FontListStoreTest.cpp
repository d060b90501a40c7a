// The in-memory font list and its writes to "TAVO.font.plist".
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "fonts/FontListStore.h"
#include "foundation/Clock.h"
#include "foundation/Config.h"
#include "foundation/FileUtil.h"
#include "support/Sandbox.h"

namespace tavo::test {
namespace {

using namespace std::chrono_literals;

PlistDict recordWithStatus(const char* status) {
    return {{kFontStatusType, status}, {kFontFileName, "A.ttf"}};
}

class FontListStoreTest : public SandboxTest {
protected:
    static std::optional<PlistDict> onDisk() { return Config::fontList(); }
    FontListStore store;
};

TEST_F(FontListStoreTest, NoListUntilCreated) {
    EXPECT_FALSE(store.exists());
    EXPECT_FALSE(store.record("1"));
    store.create();
    EXPECT_TRUE(store.exists());
    ASSERT_TRUE(onDisk());
    EXPECT_TRUE(onDisk()->empty());
}

TEST_F(FontListStoreTest, ImmediateWritesAreOnDiskWhenTheyReturn) {
    ASSERT_TRUE(
        store.setRecord("7", recordWithStatus(kFontStatusInstalled), FontListStore::Write::Now));
    ASSERT_TRUE(onDisk());
    EXPECT_EQ(onDisk()->count("7"), 1u);
    ASSERT_TRUE(store.replace({{"8", PlistValue(recordWithStatus(kFontStatusInstalled))}}));
    EXPECT_EQ(onDisk()->count("7"), 0u);
    EXPECT_EQ(onDisk()->count("8"), 1u);
}

TEST_F(FontListStoreTest, CoalescedWritesReachTheDiskSoonAndAtFlush) {
    store.create();
    // Many changes in a row: the disk follows without a write per change.
    for (int i = 0; i < 200; ++i)
        store.setRecord(std::to_string(i), recordWithStatus(kFontStatusInstalled),
                        FontListStore::Write::Coalesced);
    EXPECT_EQ(store.list()->size(), 200u) << "memory is current at once";
    EXPECT_TRUE(store.flush());
    EXPECT_EQ(onDisk()->size(), 200u);

    store.setRecord("last", recordWithStatus(kFontStatusInstalled),
                    FontListStore::Write::Coalesced);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!onDisk()->count("last") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(onDisk()->count("last"), 1u) << "written without a flush";
}

TEST_F(FontListStoreTest, AChangeAfterAQuietSpellIsWrittenWithTheOneThatFollows) {
    store.create();
    int writes = 0;
    store.setBeforeWriteHook([&] { ++writes; });
    // A font switched on alone: "downloading", then "installed" at the end
    // of its chain a moment later, which flushes: one write for both.
    store.setRecord("9", recordWithStatus(kFontStatusDownloading), FontListStore::Write::Coalesced);
    store.setRecord("9", recordWithStatus(kFontStatusInstalled), FontListStore::Write::Coalesced);
    EXPECT_TRUE(store.flush());
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(onDisk()->count("9"), 1u);
    store.setBeforeWriteHook({});
}

TEST_F(FontListStoreTest, EachWriteHoldsTheRecordsAsTheyAreNow) {
    store.create();
    for (const char* key : {"1", "2", "3"})
        store.setRecord(key, recordWithStatus(kFontStatusDownloading), FontListStore::Write::Now);
    // One record changed, one replaced by an equal copy, one removed: the
    // next writes show each as it is, not as it was last written.
    store.setRecord("2", recordWithStatus(kFontStatusInstalled), FontListStore::Write::Now);
    ASSERT_TRUE(onDisk());
    EXPECT_EQ(*plistGet<std::string>(*onDisk()->at("2").get<PlistDict>(), kFontStatusType),
              kFontStatusInstalled);
    auto list = *store.list();
    list.erase("1");
    ASSERT_TRUE(store.replace(std::move(list)));
    const PlistDict disk = *onDisk();
    EXPECT_EQ(disk.count("1"), 0u);
    EXPECT_EQ(*plistGet<std::string>(*disk.at("2").get<PlistDict>(), kFontStatusType),
              kFontStatusInstalled);
    EXPECT_EQ(*plistGet<std::string>(*disk.at("3").get<PlistDict>(), kFontStatusType),
              kFontStatusDownloading);
    EXPECT_EQ(disk, *store.list());
}

// A clock that makes every pause nothing and remembers what was asked of it.
class RecordingClock : public Clock {
public:
    Duration realDelay(Duration duration) const override {
        std::lock_guard lock(mutex_);
        asked_.push_back(duration);
        return Duration::zero();
    }
    std::vector<Duration> asked() const {
        std::lock_guard lock(mutex_);
        return asked_;
    }

private:
    mutable std::mutex mutex_;
    mutable std::vector<Duration> asked_;
};

TEST_F(FontListStoreTest, TheIntervalBetweenCoalescedWritesIsTheClocks) {
    auto clock = std::make_shared<RecordingClock>();
    Clock::setCurrent(clock);
    store.create();
    // Two coalesced changes, one after the other's write: the second waits
    // the interval of the clock, which here takes no time at all.
    store.setRecord("1", recordWithStatus(kFontStatusInstalled), FontListStore::Write::Coalesced);
    const auto deadline = std::chrono::steady_clock::now() + 1500ms;
    while (!onDisk()->count("1") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    store.setRecord("2", recordWithStatus(kFontStatusInstalled), FontListStore::Write::Coalesced);
    while (!onDisk()->count("2") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    Clock::setCurrent(nullptr);
    EXPECT_EQ(onDisk()->count("2"), 1u) << "not held back two real seconds";
    const auto asked = clock->asked();
    EXPECT_NE(std::find(asked.begin(), asked.end(), std::chrono::seconds(2)), asked.end());
}

TEST_F(FontListStoreTest, PendingChangesAreWrittenWhenTheStoreEnds) {
    {
        FontListStore local;
        local.create();
        local.setRecord("9", recordWithStatus(kFontStatusInstalled),
                        FontListStore::Write::Coalesced);
    }
    EXPECT_EQ(onDisk()->count("9"), 1u);
}

TEST_F(FontListStoreTest, ReloadPicksUpAChangeOnDisk) {
    store.setRecord("1", recordWithStatus(kFontStatusInstalled), FontListStore::Write::Now);
    std::this_thread::sleep_for(10ms);  // a distinct modification time
    ASSERT_TRUE(
        Config::writeFontList({{"2", PlistValue(recordWithStatus(kFontStatusDownloading))}}));
    store.reload();
    EXPECT_FALSE(store.record("1"));
    EXPECT_TRUE(store.record("2"));
    EXPECT_EQ(store.firstDownloading(), "2");

    std::filesystem::remove(*Config::fontListPath());  // a logout removes the list
    store.reload();
    EXPECT_FALSE(store.exists());
}

TEST_F(FontListStoreTest, DownloadingIndexFollowsEveryChange) {
    store.replace({{"30", PlistValue(recordWithStatus(kFontStatusDownloading))},
                   {"10", PlistValue(recordWithStatus(kFontStatusInstalled))},
                   {"20", PlistValue(recordWithStatus(kFontStatusDownloading))}});
    EXPECT_EQ(store.downloadingCount(), 2u);
    EXPECT_EQ(store.firstDownloading(), "20");
    store.setRecord("20", recordWithStatus(kFontStatusInstalled), FontListStore::Write::Coalesced);
    EXPECT_EQ(store.firstDownloading(), "30");
    store.setRecord("30", recordWithStatus(kFontStatusNotInstalled),
                    FontListStore::Write::Coalesced);
    EXPECT_FALSE(store.firstDownloading());
    EXPECT_EQ(store.downloadingCount(), 0u);
}

TEST_F(FontListStoreTest, ListOfAnotherUserAreaIsAnotherList) {
    store.setRecord("1", recordWithStatus(kFontStatusInstalled), FontListStore::Write::Now);
    Sandbox other;  // a new sandbox root: another home, another list
    store.reload();
    EXPECT_FALSE(store.exists());
}

TEST_F(FontListStoreTest, DiscardDropsPendingChangesAndForgetsTheList) {
    store.setRecord("1", recordWithStatus(kFontStatusInstalled), FontListStore::Write::Now);
    store.setRecord("2", recordWithStatus(kFontStatusDownloading), FontListStore::Write::Coalesced);
    std::filesystem::remove(*Config::fontListPath());  // a logout removes the list
    store.discard();
    EXPECT_FALSE(store.exists());
    EXPECT_TRUE(store.flush());
    EXPECT_FALSE(FileUtil::exists(*Config::fontListPath())) << "not written back";
}

TEST_F(FontListStoreTest, FailedWriteIsReportedAndMemoryKept) {
    store.create();
    const auto folder = FileUtil::parentPath(*Config::fontListPath());
    std::filesystem::permissions(
        folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    if (::access(folder.c_str(), W_OK) == 0) {
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
        GTEST_SKIP() << "running as root: permissions do not stop the write";
    }
    EXPECT_FALSE(
        store.setRecord("1", recordWithStatus(kFontStatusInstalled), FontListStore::Write::Now));
    EXPECT_TRUE(store.record("1"));
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    EXPECT_TRUE(store.flush() || store.setRecord("1", recordWithStatus(kFontStatusInstalled),
                                                 FontListStore::Write::Now));
    EXPECT_EQ(onDisk()->count("1"), 1u);
}

}  // namespace
}  // namespace tavo::test
