// libFuzzer target for the event-stream parser and its UTF-8 decoder.
//
// Input: byte 0 chooses the block-size limit (0: the default, else that many
// bytes, so the dropping of oversized blocks is reached), byte 1 the number
// of cuts (up to 15), the next bytes the length of each chunk, the rest is
// the stream. The stream is parsed once in one piece and once in those
// chunks: both must give the same events and the same text, the text must be
// well-formed UTF-8, and every event must survive its archiving.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "events/SSEEvents.h"
#include "events/SSEParser.h"
#include "service/Utf8.h"

namespace {

using tavo::SSEEvents;
using tavo::SSEParser;
using Blocks = std::vector<std::optional<SSEEvents>>;

void append(Blocks& all, Blocks more) {
    for (auto& block : more)
        all.push_back(std::move(block));
}

void checkArchiving(const SSEEvents& event) {
    tavo::PlistDict coder;
    event.encodeWithCoder(coder);
    const auto decoded = SSEEvents::initWithCoder(coder);
    FUZZ_CHECK(decoded && *decoded == event);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::size_t limit = data[0] == 0 ? SSEParser::kMaximumBlockSize : data[0];
    const std::size_t cuts = data[1] % 16;
    if (size < 2 + cuts)
        return 0;
    std::vector<std::size_t> lengths(data + 2, data + 2 + cuts);
    const std::string_view stream(reinterpret_cast<const char*>(data) + 2 + cuts, size - 2 - cuts);

    SSEParser whole(limit);
    std::string wholeText;
    const Blocks wholeBlocks = whole.parse(stream, &wholeText);
    FUZZ_CHECK(tavo::isValidUtf8(wholeText));
    // A byte becomes at most a replacement character.
    FUZZ_CHECK(whole.buffer().size() <= 3 * stream.size());

    SSEParser chunked(limit);
    std::string chunkedText;
    Blocks chunkedBlocks;
    std::size_t at = 0;
    for (std::size_t length : lengths) {
        const std::string_view chunk = stream.substr(at, length);
        std::string text;
        append(chunkedBlocks, chunked.parse(chunk, &text));
        chunkedText += text;
        at += chunk.size();
    }
    std::string text;
    append(chunkedBlocks, chunked.parse(stream.substr(at), &text));
    chunkedText += text;

    FUZZ_CHECK(chunkedText == wholeText);
    FUZZ_CHECK(chunkedBlocks == wholeBlocks);
    FUZZ_CHECK(chunked.buffer() == whole.buffer());

    for (const auto& block : wholeBlocks) {
        if (block)
            checkArchiving(*block);
    }

    // The same text parsed again after clear() gives the same events.
    whole.clear();
    FUZZ_CHECK(whole.parse(stream) == wholeBlocks);
    return 0;
}
