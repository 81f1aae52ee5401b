#include "smc/base/SmcKeyToolUtils.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

// setresgid/setresuid set the real, effective and saved ids together, so nothing is left
// to switch back to. The group goes first: after the user id is dropped it could not be.
bool SmcKeyToolUtils::dropPrivileges(std::string* pError)
{
    const gid_t realGid = getgid();
    const uid_t realUid = getuid();
    auto fail = [pError](const std::string& reason) {
        if (pError)
            *pError = reason;
        return false;
    };

    if (setresgid(realGid, realGid, realGid) != 0)
        return fail(std::string("cannot drop group privileges: ") + strerror(errno));
    if (setresuid(realUid, realUid, realUid) != 0)
        return fail(std::string("cannot drop user privileges: ") + strerror(errno));

    uid_t ruid, euid, suid;
    gid_t rgid, egid, sgid;
    if (getresuid(&ruid, &euid, &suid) != 0 || getresgid(&rgid, &egid, &sgid) != 0 ||
        ruid != realUid || euid != realUid || suid != realUid || rgid != realGid ||
        egid != realGid || sgid != realGid)
        return fail("privileges were not dropped");
    // A caller who is not root must not be able to become root again.
    if (realUid != 0 && (setuid(0) == 0 || seteuid(0) == 0))
        return fail("root privileges could be regained");
    return true;
}
