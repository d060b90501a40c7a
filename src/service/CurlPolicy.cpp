#include "service/CurlPolicy.h"

#include <cstdlib>

namespace tavo {

void applyCurlPolicy(CURL* handle, long maximumRedirects, char* errorText) {
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, maximumRedirects);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    if (const char* ca = std::getenv("TAVO_CA_BUNDLE"))
        curl_easy_setopt(handle, CURLOPT_CAINFO, ca);
}

}  // namespace tavo
