#pragma once

#include <string>

namespace tavo {

// Whether a user is an administrator of the machine.
class AccountPrivilege {
public:
    // True when user is listed by name as a member of the administrators'
    // group; a user whose primary group it is, but who is not listed, is not.
    static bool isMenberAdminGroup(const std::string& user);
};

}  // namespace tavo
