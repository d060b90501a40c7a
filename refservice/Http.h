#pragma once

// The one place that includes cpp-httplib, so every file sees the same
// configuration: sockets without Nagle's delay (kept-alive downloads would
// otherwise stall on delayed acknowledgements), TLS through OpenSSL.
#ifndef CPPHTTPLIB_TCP_NODELAY
#define CPPHTTPLIB_TCP_NODELAY true
#endif
#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif

#include <httplib.h>
