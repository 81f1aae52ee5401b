#include "smc/SmcPlatformUtils.h"

#include "smc/QSmcControlMac.h"
#include "smc/QSmcControlNone.h"
#include "smc/QSmcTransportSocket.h"

// This machine reaches an SMC only through the simulator daemon named by THERMORA_SMC_SOCKET;
// the protocol backend runs unchanged over its socket. Without it there is no SMC yet: a
// backend for the Linux applesmc driver (sysfs) is a later addition and would be chosen here.
QSmcControl* SmcPlatformUtils::createControl()
{
    const QString socketPath = QSmcTransportSocket::socketPathFromEnvironment();
    if (socketPath.isEmpty())
        return new QSmcControlNone(
            QStringLiteral("THERMORA_SMC_SOCKET is not set: start thermora-smcsim and set it to "
                           "the simulator's socket."));
    return new QSmcControlMac(new QSmcTransportSocket(socketPath));
}
