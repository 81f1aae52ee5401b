#include "smc/base/SmcKeyToolUtils.h"

#include "smc/base/mac/QSmcTransportIOKit.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

// The AppleSMC service checks the caller's rights when it writes, so the tool keeps root
// until the write is done; the caller's environment names nothing here.
SmcKeyToolUtils::Target SmcKeyToolUtils::target(const std::string&)
{
    Target result;
    result.pTransport = new QSmcTransportIOKit();
    result.bConnectPrivileged = true;
    result.bWritePrivileged = true;
    result.description = "AppleSMC";
    return result;
}

// There is no applesmc driver on this platform.
SmcKeyToolUtils::Target SmcKeyToolUtils::target(const std::string& socketFromEnv,
                                                const std::string&)
{
    return target(socketFromEnv);
}

// On this platform setgid/setuid by a process with rights set the real, effective and saved
// ids together.
bool SmcKeyToolUtils::dropPrivileges(std::string* pError)
{
    const gid_t realGid = getgid();
    const uid_t realUid = getuid();
    auto fail = [pError](const std::string& reason) {
        if (pError)
            *pError = reason;
        return false;
    };
    if (setgid(realGid) != 0)
        return fail(std::string("cannot drop group privileges: ") + strerror(errno));
    if (setuid(realUid) != 0)
        return fail(std::string("cannot drop user privileges: ") + strerror(errno));
    if (getuid() != realUid || geteuid() != realUid || getgid() != realGid || getegid() != realGid)
        return fail("privileges were not dropped");
    if (realUid != 0 && (setuid(0) == 0 || seteuid(0) == 0))
        return fail("root privileges could be regained");
    return true;
}
