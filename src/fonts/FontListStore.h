#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "foundation/Clock.h"
#include "foundation/PackedPlist.h"
#include "foundation/PlistValue.h"

namespace tavo {

// The font list "TAVO.font.plist" as the font controller's code sees it: the
// whole list in memory, read from disk at first use, written back atomically
// on a queue of its own. Writes of a long download chain are coalesced (at
// most one every two seconds, never more than a tenth of the time, and a
// first change after a quiet spell waits a quarter of a second), so a
// chain of thousands of fonts does not rewrite a list of thousands of
// records after each one; flush() writes what is pending at once.
//
// A crash loses at most the changes of the last unwritten interval: fonts
// then still marked "downloading" on disk are fetched again, which every
// synchronization tolerates. Before a write, the hook set by the owner runs
// (it makes the installed font files durable, so the list never says
// "installed" for a file the disk does not hold yet).
//
// When the file changes on disk behind the store's back (another program,
// a logout that removes it) and nothing is pending, the next reload() picks
// it up. Thread-safe.
class FontListStore {
public:
    enum class Write { Now, Soon, Coalesced };

    FontListStore();
    ~FontListStore();

    // Re-reads the file when it changed on disk since the store last read or
    // wrote it and nothing is pending.
    void reload();
    // Drops the list in memory with its unwritten changes and waits for a
    // write in progress, so nothing of the old list reaches the disk later
    // (logout: discard, then remove the file). The next use reads the file again.
    void discard();
    // Creates an empty list unless one exists (the file as well).
    void create();
    // Whether there is a list (the file could be read, or it was created).
    bool exists();

    std::optional<PlistDict> list();  // a copy; none without a list
    std::optional<PlistDict> record(const std::string& key);
    // One text of a record, without a copy of the record; empty when absent.
    std::string recordText(const std::string& key, const char* field);
    // Stores a record (creating the list when there is none) and writes.
    // Now waits for the write and returns whether it worked; the others
    // return true at once. A failed write is logged
    // ("code -1: message: not write <path>") whoever asked for it.
    bool setRecord(const std::string& key, PlistDict record, Write write);
    // Replaces the whole list and writes it (see setRecord).
    bool replace(PlistDict list, Write write = Write::Now);

    // The least key whose "Status Type" is "downloading", and their number.
    std::optional<std::string> firstDownloading();
    std::size_t downloadingCount();
    std::set<std::string> downloadingKeys();
    bool isDownloading(const std::string& key);
    // The keys "downloading" with the file name each record gives (may be empty).
    std::vector<std::pair<std::string, std::string>> downloadingFileNames();

    // Writes what is pending and waits; true when nothing was left unwritten.
    bool flush();

    void setBeforeWriteHook(std::function<void()> hook);

private:
    struct FileStamp {
        long long inode = -1, size = -1, mtimeNs = -1;
        bool operator==(const FileStamp&) const = default;
    };
    static std::optional<FileStamp> stampOf(const std::string& path);

    using Lock = std::unique_lock<std::mutex>;

    // Records are packed (a large list lives as long as the process), shared
    // and never changed in place, so a write copies pointers under the lock,
    // not the records.
    using Records = std::map<std::string, std::shared_ptr<const PackedPlist>>;

    void ensureLoaded(Lock& lock);
    void load(Lock& lock);
    void setAll(PlistDict list);
    void indexRecord(const std::string& key, const PackedPlist& record);
    // Marks the list changed and has the writer write it; with wait, until
    // that generation was attempted, and returns whether it was written.
    bool changed(Write write, Lock& lock);
    bool waitForWrite(std::uint64_t generation, Lock& lock);
    void writerLoop();
    // The document of a snapshot, each record's text reused from the last
    // write when the record is the same one; kept for the next write unless
    // most records were new. The writer's thread only.
    const std::string& document(const Records& snapshot);
    void forgetLastDocument();

    std::mutex fileMutex_;  // held while the file is written; taken before mutex_
    std::mutex mutex_;
    std::condition_variable wake_;  // the writer: something to do
    std::condition_variable done_;  // the callers: a write attempt ended
    std::string path_;              // of the list in memory
    bool loaded_ = false;
    std::optional<Records> list_;
    std::set<std::string> downloading_;
    std::optional<FileStamp> stamp_;  // of the file as last read or written
    std::uint64_t generation_ = 0;    // of the list in memory
    std::uint64_t epoch_ = 0;         // raised by discard()
    std::uint64_t attempted_ = 0;     // generation of the last write attempt
    std::uint64_t written_ = 0;       // generation last written
    bool urgent_ = false;
    bool stopping_ = false;
    Clock::SteadyTime nextWrite_{};  // of the clock seam
    std::function<void()> beforeWrite_;
    // The last document written and where each record's text is in it, with
    // the record it is of (held, so that its address names it), in the
    // list's order. The writer's thread only.
    struct Slice {
        std::string key;
        std::shared_ptr<const PackedPlist> record;
        std::size_t offset;
        std::size_t length;
    };
    std::string lastDocument_;
    std::vector<Slice> slices_;
    std::thread writer_;
};

}  // namespace tavo
