#include "smc/base/SmcKeyToolUtils.h"

#include "smc/base/QSmcSocketClient.h"

// The only service here is the simulator daemon. Its socket at the fixed trusted path may be
// contacted with the tool's privileges (a daemon that accepts writes only from root then takes
// the tool's writes); any other socket the caller names is contacted only after dropping them.
// Once connected, nothing more needs privileges.
SmcKeyToolUtils::Target SmcKeyToolUtils::target(const std::string& socketFromEnv)
{
    Target result;
    const bool bTrusted = socketFromEnv.empty() || socketFromEnv == kTrustedSocketPath;
    const std::string path = bTrusted ? std::string(kTrustedSocketPath) : socketFromEnv;
    result.pTransport = new QSmcSocketClient(path);
    result.bConnectPrivileged = bTrusted;
    result.bWritePrivileged = false;
    result.description = "the SMC simulator at " + path;
    return result;
}
