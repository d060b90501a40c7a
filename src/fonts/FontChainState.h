#pragma once

#include <atomic>
#include <mutex>
#include <string>

namespace tavo {

// The state of the download chain and its notices, shared by the chain, the
// synchronization run and the status menu. Flags are atomic and the name is
// guarded, so any thread may read and write them.
class FontChainState {
public:
    // Display name of the font being fetched, shown by the status menu.
    std::string downloadFontName() const;
    void setDownloadFontName(const std::string& value);

    // A download task is in flight (at most one).
    std::atomic<bool> isFontDownloading{false};
    // 1 after one retry for a suspected token expiry, 0 otherwise.
    std::atomic<int> retryDownloadFont{0};
    // The disk-space notice was shown; the regular processing clears it.
    std::atomic<bool> isDiskSpaceInsufficientNotified{false};

private:
    mutable std::mutex mutex_;
    std::string downloadFontName_;
};

}  // namespace tavo
