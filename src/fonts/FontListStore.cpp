#include "fonts/FontListStore.h"

#include <pthread.h>
#include <sys/stat.h>

#include <algorithm>

#include "foundation/Clock.h"
#include "foundation/Config.h"
#include "foundation/ConfigKeys.h"
#include "foundation/FileUtil.h"
#include "foundation/Log.h"
#include "foundation/PlistXmlWriter.h"

namespace tavo {

namespace {

// Coalesced writes come at most this often (as the clock counts it), and the
// writer never spends more than a tenth of the time writing.
constexpr Clock::Duration kMinimumWriteInterval = std::chrono::seconds(2);
constexpr int kWriteDutyFactor = 10;
// A coalesced change after a quiet spell waits this long for company: a font
// switched on alone is recorded as "downloading" and then as "installed" a
// few milliseconds later, and the end of its chain writes both at once.
constexpr Clock::Duration kCoalesceDelay = std::chrono::milliseconds(250);
// How long the text of the last write is kept for the next one: a subscriber
// switching fonts on the web site does it in bursts.
constexpr Clock::Duration kFragmentLifetime = std::chrono::minutes(10);

bool hasDownloadingStatus(const PackedPlist& record) {
    return record.text(kFontStatusType) == std::string_view(kFontStatusDownloading);
}

}  // namespace

FontListStore::FontListStore()
    : writer_([this] {
          pthread_setname_np(pthread_self(), "fontListWriter");
          writerLoop();
      }) {}

FontListStore::~FontListStore() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        urgent_ = true;
    }
    wake_.notify_all();
    writer_.join();
}

std::optional<FontListStore::FileStamp> FontListStore::stampOf(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return FileStamp{static_cast<long long>(st.st_ino), static_cast<long long>(st.st_size),
                     static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

void FontListStore::setAll(PlistDict list) {
    // A record equal to the one in memory stays that one: the writer then
    // reuses its text instead of rendering it again.
    Records previous = list_ ? std::move(*list_) : Records{};
    list_.emplace();
    downloading_.clear();
    auto old = previous.begin();
    // Each record leaves the list once packed, so the list and its packed
    // form are not both held whole.
    while (!list.empty()) {
        auto node = list.extract(list.begin());
        const std::string& key = node.key();
        while (old != previous.end() && old->first < key)
            ++old;
        auto packed = std::make_shared<const PackedPlist>(node.mapped());
        if (old != previous.end() && old->first == key && *old->second == *packed)
            packed = old->second;
        indexRecord(key, *packed);
        list_->emplace_hint(list_->end(), std::move(node.key()), std::move(packed));
    }
}

void FontListStore::load(Lock&) {
    path_ = Config::fontListPath().value_or("");
    stamp_ = stampOf(path_);
    const std::optional<PlistDict> list = Config::fontList();
    if (list)
        setAll(std::move(*list));
    else {
        list_.reset();
        downloading_.clear();
    }
    loaded_ = true;
    attempted_ = written_ = generation_;
}

void FontListStore::ensureLoaded(Lock& lock) {
    if (!loaded_)
        load(lock);
}

void FontListStore::reload() {
    Lock lock(mutex_);
    // The user's list is found anew by its path (a store outlives sandbox
    // roots in tests): another path is another list.
    if (loaded_ && path_ == Config::fontListPath().value_or("")) {
        if (generation_ != written_ || stampOf(path_) == stamp_)
            return;  // pending changes win over the file; or nothing changed
        ILog("The font list changed on disk: %@", path_);
    }
    load(lock);
}

void FontListStore::discard() {
    std::lock_guard file(fileMutex_);
    Lock lock(mutex_);
    ++epoch_;
    loaded_ = false;
    list_.reset();
    downloading_.clear();
    attempted_ = written_ = generation_;
    done_.notify_all();
}

void FontListStore::create() {
    reload();
    Lock lock(mutex_);
    if (list_)
        return;
    Config::createFontPlist();
    load(lock);
}

bool FontListStore::exists() {
    Lock lock(mutex_);
    ensureLoaded(lock);
    return list_.has_value();
}

std::optional<PlistDict> FontListStore::list() {
    Records records;
    {
        Lock lock(mutex_);
        ensureLoaded(lock);
        if (!list_)
            return std::nullopt;
        records = *list_;
    }
    PlistDict list;
    for (const auto& [key, record] : records)
        list.emplace_hint(list.end(), key, record->value());
    return list;
}

std::string FontListStore::recordText(const std::string& key, const char* field) {
    std::shared_ptr<const PackedPlist> record;
    {
        Lock lock(mutex_);
        ensureLoaded(lock);
        if (!list_)
            return {};
        const auto it = list_->find(key);
        if (it == list_->end())
            return {};
        record = it->second;  // records never change in place
    }
    return std::string(record->text(field).value_or(std::string_view()));
}

std::optional<PlistDict> FontListStore::record(const std::string& key) {
    std::shared_ptr<const PackedPlist> record;
    {
        Lock lock(mutex_);
        ensureLoaded(lock);
        if (!list_)
            return std::nullopt;
        const auto it = list_->find(key);
        if (it == list_->end())
            return std::nullopt;
        record = it->second;
    }
    PlistValue value = record->value();
    auto* dict = value.get<PlistDict>();
    return dict ? std::optional<PlistDict>(std::move(*dict)) : std::nullopt;
}

void FontListStore::indexRecord(const std::string& key, const PackedPlist& record) {
    if (hasDownloadingStatus(record))
        downloading_.insert(key);
    else
        downloading_.erase(key);
}

bool FontListStore::setRecord(const std::string& key, PlistDict record, Write write) {
    auto shared = std::make_shared<const PackedPlist>(PlistValue(std::move(record)));
    Lock lock(mutex_);
    ensureLoaded(lock);
    if (!list_)
        list_.emplace();
    indexRecord(key, *shared);
    (*list_)[key] = std::move(shared);
    return changed(write, lock);
}

bool FontListStore::replace(PlistDict list, Write write) {
    Lock lock(mutex_);
    ensureLoaded(lock);
    setAll(std::move(list));
    return changed(write, lock);
}

std::optional<std::string> FontListStore::firstDownloading() {
    Lock lock(mutex_);
    ensureLoaded(lock);
    if (downloading_.empty())
        return std::nullopt;
    return *downloading_.begin();
}

std::size_t FontListStore::downloadingCount() {
    Lock lock(mutex_);
    ensureLoaded(lock);
    return downloading_.size();
}

std::set<std::string> FontListStore::downloadingKeys() {
    Lock lock(mutex_);
    ensureLoaded(lock);
    return downloading_;
}

bool FontListStore::isDownloading(const std::string& key) {
    Lock lock(mutex_);
    ensureLoaded(lock);
    return downloading_.contains(key);
}

std::vector<std::pair<std::string, std::string>> FontListStore::downloadingFileNames() {
    Lock lock(mutex_);
    ensureLoaded(lock);
    std::vector<std::pair<std::string, std::string>> named;
    named.reserve(downloading_.size());
    for (const std::string& key : downloading_) {
        std::string_view fileName;
        if (list_)
            if (const auto it = list_->find(key); it != list_->end())
                fileName = it->second->text(kFontFileName).value_or(std::string_view());
        named.emplace_back(key, std::string(fileName));
    }
    return named;
}

bool FontListStore::changed(Write write, Lock& lock) {
    const bool writerIdle = attempted_ == generation_;
    if (write == Write::Coalesced && writerIdle) {
        Clock& clock = Clock::current();
        nextWrite_ = std::max(nextWrite_, clock.steadyNow() + clock.realDelay(kCoalesceDelay));
    }
    ++generation_;
    if (write != Write::Coalesced)
        urgent_ = true;
    // A writer that has a write planned already keeps its plan: a download
    // chain's changes do not wake it once per font.
    if (writerIdle || write != Write::Coalesced)
        wake_.notify_all();
    return write == Write::Now ? waitForWrite(generation_, lock) : true;
}

bool FontListStore::waitForWrite(std::uint64_t generation, Lock& lock) {
    done_.wait(lock, [&] { return attempted_ >= generation; });
    return written_ >= generation;
}

bool FontListStore::flush() {
    Lock lock(mutex_);
    if (!loaded_ || written_ == generation_)
        return true;
    urgent_ = true;
    wake_.notify_all();
    return waitForWrite(generation_, lock);
}

void FontListStore::setBeforeWriteHook(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    beforeWrite_ = std::move(hook);
}

const std::string& FontListStore::document(const Records& snapshot) {
    // Straight from the shared records: no copy of the list, and only the
    // records changed since the last write are rendered again; the others'
    // text is copied from the last document. Both lists are in key order.
    const auto sameAsLast = [this](auto& last, const std::string& key,
                                   const std::shared_ptr<const PackedPlist>& record) {
        while (last != slices_.end() && last->key < key)
            ++last;
        return last != slices_.end() && last->key == key && last->record == record;
    };
    // Most records changed since the last write (a long download chain):
    // so will they by the next one. The last text goes before this one is
    // made and this one after its write, so that a chain holds one document
    // at a time; the write after that keeps its text again.
    bool keep = true;
    if (!slices_.empty()) {
        std::size_t same = 0;
        auto last = slices_.begin();
        for (const auto& [key, record] : snapshot)
            same += sameAsLast(last, key, record) ? 1 : 0;
        if (same * 2 < snapshot.size()) {
            forgetLastDocument();
            keep = false;
        }
    }

    std::string out(PlistXmlWriter::kHeader);
    out.reserve(std::max(lastDocument_.size(), snapshot.size() * 640));
    std::vector<Slice> slices;
    if (keep)
        slices.reserve(snapshot.size());
    out += snapshot.empty() ? "<dict/>\n" : "<dict>\n";
    auto last = slices_.begin();
    for (const auto& [key, record] : snapshot) {
        const std::size_t offset = out.size();
        if (sameAsLast(last, key, record)) {
            out.append(lastDocument_, last->offset, last->length);
        } else {
            PlistXmlWriter::appendKey(out, key, 1);
            PlistXmlWriter::appendValue(out, record->value(), 1);
        }
        if (keep)
            slices.push_back({key, record, offset, out.size() - offset});
    }
    if (!snapshot.empty())
        out += "</dict>\n";
    out += PlistXmlWriter::kFooter;
    lastDocument_ = std::move(out);
    slices_ = std::move(slices);  // none: the document goes after its write
    return lastDocument_;
}

void FontListStore::forgetLastDocument() {
    std::string().swap(lastDocument_);
    std::vector<Slice>().swap(slices_);
}

void FontListStore::writerLoop() {
    Lock lock(mutex_);
    for (;;) {
        const auto due = [&] {
            return attempted_ != generation_ &&
                   (urgent_ || Clock::current().steadyNow() >= nextWrite_);
        };
        if (attempted_ == generation_) {
            urgent_ = false;
            if (stopping_)
                return;
            // The records' texts serve a run of writes; a quiet list does
            // not keep them.
            const auto work = [&] { return stopping_ || attempted_ != generation_; };
            const Clock::Duration lifetime = Clock::current().realDelay(kFragmentLifetime);
            // Nothing kept, or a clock of tests that takes no time: no
            // timer, so an idle store never wakes.
            if (lastDocument_.empty() || lifetime <= Clock::Duration::zero())
                wake_.wait(lock, work);
            else if (!wake_.wait_for(lock, lifetime, work))
                forgetLastDocument();
            continue;
        }
        if (!due()) {
            // A wait of the clock's time: the clock may be one of tests.
            wake_.wait_for(lock, nextWrite_ - Clock::current().steadyNow(),
                           [&] { return urgent_ || stopping_; });
            continue;
        }
        urgent_ = false;
        const std::uint64_t generation = generation_;
        const std::string path = path_;
        const std::optional<Records> snapshot = list_;
        const auto hook = beforeWrite_;
        const std::uint64_t epoch = epoch_;
        lock.unlock();

        std::unique_lock file(fileMutex_);
        lock.lock();
        const bool discarded = epoch != epoch_;
        lock.unlock();
        const auto started = Clock::current().steadyNow();
        if (hook && !discarded)
            hook();
        bool ok = false;
        if (!discarded && snapshot && !path.empty() &&
            path == Config::fontListPath().value_or("")) {
            FileUtil::createDirectories(FileUtil::parentPath(path));
            ok = Config::writeFontListDocument(document(*snapshot));
            if (slices_.empty())
                forgetLastDocument();
        }
        file.unlock();
        const Clock::Duration took = Clock::current().steadyNow() - started;

        if (!ok && snapshot && !discarded)
            ILog("code %ld: message: not write %@", -1L, path);
        lock.lock();
        attempted_ = std::max(attempted_, generation);
        if (ok && path == path_) {
            written_ = std::max(written_, generation);
            stamp_ = stampOf(path);
        }
        Clock& clock = Clock::current();
        nextWrite_ = clock.steadyNow() +
                     std::max(clock.realDelay(kMinimumWriteInterval), took * kWriteDutyFactor);
        done_.notify_all();
    }
}

}  // namespace tavo
