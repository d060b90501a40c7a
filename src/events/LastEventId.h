#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "foundation/PlistValue.h"

namespace tavo {

// The id of the last event received, kept as the text the server sent: the
// "Last-Event-ID" of a reconnection must name exactly that event. The
// service's ids are decimal numbers, some beyond what 64 bits hold, so the
// id is never read as a number and written back.
class LastEventId {
public:
    // Longer ids are not kept: no server of ours sends them, and they would
    // go out in every request of the stream.
    static constexpr std::size_t kMaximumLength = 128;

    // The id to keep of an event's id: one to kMaximumLength decimal digits,
    // taken as they stand. None for anything else (a sign, white space, other
    // characters), since it could not go back as it came.
    static std::optional<std::string> fromEvent(const std::optional<std::string>& identifier);

    // The stored id of a user configuration: an integer, as it has always
    // been stored, or a text of digits (an id no integer holds). None when
    // absent or of any other form.
    static std::optional<std::string> fromConfig(const PlistDict& config);

    // What to store for an id: an integer when it is the plain decimal form
    // of one, so that earlier versions still read it, and the text otherwise.
    static PlistValue toConfigValue(const std::string& identifier);
};

}  // namespace tavo
