#pragma once

#include <string>

namespace tavo::ctl {

// Why the current user has no sign-in the commands can use, for their
// "no signed-in user" message: there is no user configuration, it could not
// be read (which file, and the system's or the parser's reason), it holds no
// device id or no refresh token, or else the server did not accept the
// stored refresh token.
std::string signInProblem();

}  // namespace tavo::ctl
