#pragma once

#include <curl/curl.h>

namespace tavo {

// What every transfer of TAVO shares, whatever it carries: no signals, http
// and https only (redirects too), TLS always verified, the CA file named by
// TAVO_CA_BUNDLE when set (tests), the error text into errorText.
void applyCurlPolicy(CURL* handle, long maximumRedirects, char* errorText);

}  // namespace tavo
