#include "fonts/FontChainState.h"

namespace tavo {

std::string FontChainState::downloadFontName() const {
    std::lock_guard lock(mutex_);
    return downloadFontName_;
}

void FontChainState::setDownloadFontName(const std::string& value) {
    std::lock_guard lock(mutex_);
    downloadFontName_ = value;
}

}  // namespace tavo
