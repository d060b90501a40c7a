#pragma once

#include <map>
#include <optional>
#include <string>

#include "foundation/Error.h"

namespace tavo {

// The status line and headers of an HTTP answer. Header names are lower case.
struct HttpUrlResponse {
    long statusCode = 0;
    std::map<std::string, std::string> headers;
    std::string url;  // the address finally answered, after redirects

    std::string header(const std::string& name) const;  // empty when absent
    std::string mimeType() const;                       // content type without parameters
    std::string suggestedFilename() const;              // from Content-Disposition, else the URL
};

// One exchange with a server.
struct Response {
    std::optional<std::string> body;  // UTF-8 text; none when absent or not UTF-8
    std::optional<HttpUrlResponse> httpUrlResponse;  // none when no answer arrived
    std::optional<Error> error;                      // the transport's failure
    std::optional<std::string> contentData;          // a downloaded file's bytes

    long statusCode() const { return httpUrlResponse ? httpUrlResponse->statusCode : 0; }
};

}  // namespace tavo
