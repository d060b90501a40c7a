#include "foundation/LogText.h"

#include <cstddef>
#include <cstdint>

namespace tavo {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void appendByte(std::string& out, unsigned char byte) {
    out += "\\x";
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0x0f];
}

void appendCodePoint(std::string& out, char32_t codePoint) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += kHexDigits[(codePoint >> shift) & 0x0f];
}

bool isContinuation(unsigned char byte, unsigned char low = 0x80, unsigned char high = 0xbf) {
    return byte >= low && byte <= high;
}

// The length of the well-formed UTF-8 character (beyond ASCII) at the start
// of text, with its code point; 0 when the bytes there form none (a stray
// continuation byte, an overlong form, a surrogate, a cut sequence).
std::size_t characterLength(std::string_view text, char32_t* codePoint) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        if (lead == 0xe0)
            low = 0xa0;  // no overlong forms
        else if (lead == 0xed)
            high = 0x9f;  // no surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        if (lead == 0xf0)
            low = 0x90;
        else if (lead == 0xf4)
            high = 0x8f;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || !isContinuation(byte(1), low, high))
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (!isContinuation(byte(i)))
            return 0;
    char32_t value = lead & (0xff >> (length + 1));
    for (std::size_t i = 1; i < length; ++i)
        value = (value << 6) | (byte(i) & 0x3f);
    *codePoint = value;
    return length;
}

bool escapedCodePoint(char32_t codePoint) {
    return (codePoint >= 0x80 && codePoint <= 0x9f) || codePoint == 0x2028 || codePoint == 0x2029;
}

}  // namespace

std::string LogText::escaped(std::string_view message) {
    std::string out;
    out.reserve(message.size());
    for (std::size_t i = 0; i < message.size();) {
        const auto byte = static_cast<unsigned char>(message[i]);
        if (byte >= 0x20 && byte < 0x7f) {
            if (byte == '\\')
                out += "\\\\";
            else
                out += static_cast<char>(byte);
            ++i;
            continue;
        }
        if (byte < 0x80) {
            switch (byte) {
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                case '\0':
                    out += "\\0";
                    break;
                default:
                    appendByte(out, byte);
            }
            ++i;
            continue;
        }
        char32_t codePoint = 0;
        const std::size_t length = characterLength(message.substr(i), &codePoint);
        if (length == 0) {
            appendByte(out, byte);
            ++i;
        } else {
            if (escapedCodePoint(codePoint))
                appendCodePoint(out, codePoint);
            else
                out.append(message.substr(i, length));
            i += length;
        }
    }
    return out;
}

}  // namespace tavo
