#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "events/SSEEvents.h"
#include "events/Utf8Decoder.h"

namespace tavo {

// The event-stream text format: UTF-8 lines "name: value", blocks ended by
// an empty line ("\n\n" only; "\r\n\r\n" does not end one), lines starting
// with ":" are comments, a field that occurs twice is joined with "\n".
// Chunks may split lines, blocks and characters anywhere.
class SSEParser {
public:
    // A block that grows beyond this without its blank line is dropped, with
    // everything up to its blank line, and the stream goes on.
    static constexpr std::size_t kMaximumBlockSize = std::size_t{1} << 20;

    explicit SSEParser(std::size_t maximumBlockSize = kMaximumBlockSize)
        : maximumBlockSize_(maximumBlockSize) {}

    // Takes the next chunk; returns one entry per block it completed, in
    // order: the block's event, or none for a block that makes none (empty,
    // comments only). The decoded text of the chunk goes to text when given.
    std::vector<std::optional<SSEEvents>> parse(std::string_view chunk,
                                                std::string* text = nullptr);
    void clear();

    // Text received and not yet part of a complete block.
    const std::string& buffer() const { return buffer_; }

    // The fields of one block (without its blank line).
    static SSEEvents::Fields fieldsOfBlock(std::string_view block);

private:
    // While dropping an oversized block: discards text up to its blank line.
    // False when the blank line has not arrived yet.
    bool skipOversizedBlock();

    std::size_t maximumBlockSize_;
    Utf8Decoder decoder_;
    std::string buffer_;
    std::size_t searched_ = 0;  // buffer_ holds no "\n\n" before this offset
    bool skipping_ = false;
};

}  // namespace tavo
