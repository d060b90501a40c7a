#include "events/Utf8Decoder.h"

namespace tavo {

namespace {

// Length of the sequence a lead byte starts and the range its second byte
// must lie in (which rules out overlong forms, surrogates and values beyond
// U+10FFFF); 0 for a byte that cannot start a sequence.
int sequenceLength(unsigned char lead, unsigned char* low, unsigned char* high) {
    *low = 0x80;
    *high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (lead == 0xE0)
            *low = 0xA0;
        else if (lead == 0xED)
            *high = 0x9F;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (lead == 0xF0)
            *low = 0x90;
        else if (lead == 0xF4)
            *high = 0x8F;
        return 4;
    }
    return 0;
}

}  // namespace

std::string Utf8Decoder::decode(std::string_view chunk) {
    std::string bytes = std::move(pending_);
    pending_.clear();
    bytes.append(chunk);

    std::string text;
    text.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[at]);
        if (lead < 0x80) {
            text.push_back(static_cast<char>(lead));
            ++at;
            continue;
        }
        unsigned char low = 0;
        unsigned char high = 0;
        const int length = sequenceLength(lead, &low, &high);
        if (length == 0) {
            text.append(kReplacement);
            ++at;
            continue;
        }
        int good = 1;  // bytes of the sequence that are well-formed so far
        while (good < length && at + good < bytes.size()) {
            const auto next = static_cast<unsigned char>(bytes[at + good]);
            if (next < low || next > high)
                break;
            low = 0x80;
            high = 0xBF;
            ++good;
        }
        if (good == length) {
            text.append(bytes, at, static_cast<std::size_t>(length));
        } else if (at + good == bytes.size()) {
            pending_ = bytes.substr(at);  // the rest of the character comes later
        } else {
            text.append(kReplacement);  // a broken sequence: one replacement for it
        }
        at += static_cast<std::size_t>(good);
    }
    return text;
}

}  // namespace tavo
