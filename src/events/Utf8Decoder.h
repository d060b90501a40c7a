#pragma once

#include <string>
#include <string_view>

namespace tavo {

// Turns a byte stream that arrives in chunks into well-formed UTF-8 text.
// The bytes of a character split across chunks are held back until the
// rest arrives; a byte that can never be part of a character becomes
// U+FFFD, so a faulty sender cannot stop the stream.
class Utf8Decoder {
public:
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

    // The text of the bytes so far, without an unfinished last character.
    std::string decode(std::string_view chunk);
    // Bytes held back for the next chunk (at most three).
    std::size_t pending() const { return pending_.size(); }
    void reset() { pending_.clear(); }

private:
    std::string pending_;
};

}  // namespace tavo
