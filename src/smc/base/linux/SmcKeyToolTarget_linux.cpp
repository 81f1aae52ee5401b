#include "smc/base/SmcKeyToolUtils.h"

#include "smc/applesmc/QAppleSmcTransport.h"
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

// A simulator the caller names comes first, as in the program. The applesmc driver's real
// folder is opened with privileges (its files are opened for writing then, and stay writable
// after the privileges are dropped); a folder the caller names is opened without them.
SmcKeyToolUtils::Target SmcKeyToolUtils::target(const std::string& socketFromEnv,
                                                const std::string& applesmcDirFromEnv)
{
    const bool bDriver = QAppleSmcPosixFiles::folderExists(QAppleSmcPosixFiles::kDriverDir);
    if (!socketFromEnv.empty() || (applesmcDirFromEnv.empty() && !bDriver))
        return target(socketFromEnv);

    const bool bTrusted = applesmcDirFromEnv.empty();
    const std::string dir =
        bTrusted ? std::string(QAppleSmcPosixFiles::kDriverDir) : applesmcDirFromEnv;
    Target result;
    result.pAppleSmc = new QAppleSmcTransport(new QAppleSmcPosixFiles(dir));
    result.pTransport = result.pAppleSmc;
    result.bConnectPrivileged = bTrusted;
    result.bWritePrivileged = false;
    result.description = "the applesmc driver's files at " + dir;
    return result;
}
