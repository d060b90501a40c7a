#pragma once

#include <string>

#include "refservice/Outcome.h"

namespace httplib {
struct Response;
}

namespace tavo::refservice {

// Writes outcomes as the JSON envelope {"code","message","data"}. Accepted
// results go out with HTTP 200, refused ones with 400 (the client counts a 400
// as "server reached"), internal errors with 500.
class Envelope {
public:
    static int httpStatus(int code);
    static std::string text(const Outcome& outcome);
    static void write(httplib::Response& res, const Outcome& outcome);
    // Same envelope with an explicit HTTP status (font downloads answer 404
    // for an unknown font).
    static void write(httplib::Response& res, const Outcome& outcome, int status);
};

}  // namespace tavo::refservice
