#pragma once

#include <string>
#include <string_view>

namespace tavo {

// The text of a log message as it goes into the file: exactly one line of
// valid UTF-8, whatever the message holds (a server's message, a font's name).
//
// Escapes, each standing for one character of the message, so that the
// original can always be told back:
//   \\  the backslash itself      \n \r \t \0  line feed, return, tab, NUL
//   \xNN  any other ASCII control character (and DEL), and every byte that
//         is no part of a well-formed UTF-8 character
//   \uNNNN  the C1 control characters and the Unicode line and paragraph
//         separators, which some readers take for line breaks
// Everything else is copied as it stands.
class LogText {
public:
    static std::string escaped(std::string_view message);
};

}  // namespace tavo
