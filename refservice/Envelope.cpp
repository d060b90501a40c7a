#include "refservice/Envelope.h"

#include "refservice/Http.h"

namespace tavo::refservice {

int Envelope::httpStatus(int code) {
    if (code == kSucceeded || code == kTwoFARequired)
        return 200;
    if (code == kInternalServerError)
        return 500;
    return 400;
}

std::string Envelope::text(const Outcome& outcome) {
    nlohmann::json body = {{"code", outcome.code}, {"message", outcome.message}};
    if (!outcome.data.is_null())
        body["data"] = outcome.data;
    return body.dump();
}

void Envelope::write(httplib::Response& res, const Outcome& outcome) {
    write(res, outcome, httpStatus(outcome.code));
}

void Envelope::write(httplib::Response& res, const Outcome& outcome, int status) {
    res.status = status;
    res.set_content(text(outcome), "application/json");
}

}  // namespace tavo::refservice
