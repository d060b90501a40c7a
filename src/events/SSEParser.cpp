#include "events/SSEParser.h"

#include "foundation/Log.h"

namespace tavo {

namespace {

constexpr std::string_view kBlockEnd = "\n\n";

bool isNewline(char c) {
    return c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

void addField(SSEEvents::Fields& fields, std::string_view line) {
    std::size_t at = 0;
    while (at < line.size() && isBlank(line[at]))
        ++at;
    const std::size_t colon = line.find(':', at);
    if (colon == std::string_view::npos || colon == at)
        return;  // no name, or nothing after it
    const std::string name(line.substr(at, colon - at));
    at = colon + 1;
    while (at < line.size() && isBlank(line[at]))
        ++at;
    if (at == line.size())
        return;  // lines without a value are ignored
    const std::string_view value = line.substr(at);
    auto [it, inserted] = fields.try_emplace(name, value);
    if (!inserted) {
        it->second += '\n';
        it->second += value;
    }
}

}  // namespace

SSEEvents::Fields SSEParser::fieldsOfBlock(std::string_view block) {
    SSEEvents::Fields fields;
    std::size_t start = 0;
    while (start <= block.size()) {
        std::size_t end = start;
        while (end < block.size() && !isNewline(block[end]))
            ++end;
        const std::string_view line = block.substr(start, end - start);
        if (!line.empty() && line.front() != ':')
            addField(fields, line);
        start = end + 1;
    }
    return fields;
}

std::vector<std::optional<SSEEvents>> SSEParser::parse(std::string_view chunk, std::string* text) {
    std::string decoded = decoder_.decode(chunk);
    buffer_.append(decoded);
    if (text)
        *text = std::move(decoded);

    std::vector<std::optional<SSEEvents>> blocks;
    std::size_t start = 0;  // beginning of the first block not taken yet
    for (;;) {
        if (skipping_) {
            buffer_.erase(0, start);
            start = 0;
            searched_ = 0;
            if (!skipOversizedBlock())
                break;
        }
        const std::size_t end = buffer_.find(kBlockEnd, std::max(start, searched_));
        if (end == std::string::npos) {
            // The last byte may be the first half of the next blank line.
            searched_ = buffer_.empty() ? 0 : buffer_.size() - 1;
            // A final line feed may be half of the blank line, not part of the
            // block: a block of just the bound is kept however its end is cut.
            std::size_t unfinished = buffer_.size() - start;
            if (unfinished > 0 && buffer_.back() == '\n')
                --unfinished;
            if (unfinished <= maximumBlockSize_)
                break;
            ELog("Dropped an event block of more than %ld bytes without a blank line",
                 static_cast<long>(maximumBlockSize_));
            skipping_ = true;
            continue;
        }
        const std::string_view block(buffer_.data() + start, end - start);
        if (block.size() > maximumBlockSize_) {
            ELog("Dropped an event block of more than %ld bytes without a blank line",
                 static_cast<long>(maximumBlockSize_));
        } else {
            blocks.push_back(block.empty() ? std::nullopt
                                           : SSEEvents::eventWithFields(fieldsOfBlock(block)));
        }
        start = end + kBlockEnd.size();
        searched_ = start;
    }
    if (start > 0) {
        buffer_.erase(0, start);
        searched_ = searched_ > start ? searched_ - start : 0;
    }
    return blocks;
}

bool SSEParser::skipOversizedBlock() {
    const std::size_t end = buffer_.find(kBlockEnd);
    if (end == std::string::npos) {
        // Keep a final line feed: it may be half of the blank line.
        const bool keepLast = !buffer_.empty() && buffer_.back() == '\n';
        buffer_.assign(keepLast ? "\n" : "");
        return false;
    }
    buffer_.erase(0, end + kBlockEnd.size());
    skipping_ = false;
    return true;
}

void SSEParser::clear() {
    buffer_.clear();
    decoder_.reset();
    searched_ = 0;
    skipping_ = false;
}

}  // namespace tavo
