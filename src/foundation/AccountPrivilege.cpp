#include "foundation/AccountPrivilege.h"

#include "foundation/Log.h"
#include "platform/SystemInfo.h"

namespace tavo {

bool AccountPrivilege::isMenberAdminGroup(const std::string& user) {
    ILog("Start check user %@ in admin group", user.empty() ? std::string("(empty)") : user);
    bool isAdmin = false;
    const auto group = platform::SystemInfo::adminGroupName();
    if (!user.empty() && group) {
        for (const std::string& member : platform::SystemInfo::groupMembers(*group)) {
            ILog("current user: [%s](%u): in admin group user: [%s](%u)", user, user.size(), member,
                 member.size());
            if (member == user) {
                isAdmin = true;
                break;
            }
        }
    }
    ILog("End check user %@ in admin group(%@)", user, isAdmin ? "with admin" : "no admin");
    return isAdmin;
}

}  // namespace tavo
