#include "smc/SmcKeyToolUtils.h"

#include "smc/sim/QSmcTransportSocket.h"

// The only service here is the simulator daemon. Its socket at the fixed trusted path may be
// contacted with the tool's privileges (a daemon that accepts writes only from root then takes
// the tool's writes); any other socket the caller names is contacted only after dropping them.
// Once connected, nothing more needs privileges.
SmcKeyToolUtils::Target SmcKeyToolUtils::target(const QByteArray& socketFromEnv)
{
    Target result;
    const bool bTrusted = socketFromEnv.isEmpty() || socketFromEnv == kTrustedSocketPath;
    const QString path =
        bTrusted ? QString::fromLatin1(kTrustedSocketPath) : QString::fromLocal8Bit(socketFromEnv);
    result.pTransport = new QSmcTransportSocket(path);
    result.bConnectPrivileged = bTrusted;
    result.bWritePrivileged = false;
    result.description = QStringLiteral("the SMC simulator at %1").arg(path);
    return result;
}
