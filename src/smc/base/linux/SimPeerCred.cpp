#include "smc/base/SimSocketUtils.h"

#include <sys/socket.h>

// Linux tells the peer's credentials of a Unix-domain socket through SO_PEERCRED.
bool SimSocketUtils::peerUid(int fd, uint32_t& nUid)
{
    ucred credentials{};
    socklen_t nLength = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &nLength) != 0)
        return false;
    nUid = credentials.uid;
    return true;
}
