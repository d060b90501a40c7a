#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "SignInProblem.h"

namespace tavo {
class ApiClient;
}

namespace tavo::ctl {

// `tavoctl api OPERATION [name=value ...]`: calls one endpoint operation
// through the endpoint classes and prints the decoded envelope as JSON.
// Without a client of the caller's, the program's client is set up from the
// server configuration and the stored credentials (an access token is
// fetched with the stored refresh token). Exit status: 0 when the server
// accepted the call, 1 when it refused it or could not be reached, 2 for a
// usage error.
int runApiCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runApiCommand(const std::vector<std::string>& args, ApiClient& client, std::ostream& out,
                  std::ostream& err);

// Points the client at the configured servers with the stored credentials.
void configureClientFromUserConfig(ApiClient& client);

}  // namespace tavo::ctl
