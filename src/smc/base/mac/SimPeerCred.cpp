#include "smc/base/SimSocketUtils.h"

#include <sys/types.h>
#include <unistd.h>

// Apple systems tell the peer's effective ids of a Unix-domain socket through getpeereid.
bool SimSocketUtils::peerUid(int fd, uint32_t& nUid)
{
    uid_t uid = 0;
    gid_t gid = 0;
    if (::getpeereid(fd, &uid, &gid) != 0)
        return false;
    nUid = uid;
    return true;
}
