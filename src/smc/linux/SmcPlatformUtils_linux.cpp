#include "smc/SmcPlatformUtils.h"

#include "smc/QSmcControlMac.h"
#include "smc/QSmcControlNone.h"
#include "smc/QSmcTransportSocket.h"
#include "smc/applesmc/QAppleSmcTransport.h"

// A simulator named by THERMORA_SMC_SOCKET comes first. Otherwise a Mac running Linux shows its
// SMC through the applesmc driver's folder (THERMORA_APPLESMC_DIR names another one, such as a
// copied tree); the protocol backend runs unchanged over either.
QSmcControl* SmcPlatformUtils::createControl()
{
    const QString socketPath = QSmcTransportSocket::socketPathFromEnvironment();
    if (!socketPath.isEmpty())
        return new QSmcControlMac(new QSmcTransportSocket(socketPath));

    const QByteArray dirFromEnv = qgetenv("THERMORA_APPLESMC_DIR");
    const std::string dir = dirFromEnv.isEmpty() ? std::string(QAppleSmcPosixFiles::kDriverDir)
                                                 : dirFromEnv.toStdString();
    if (QAppleSmcPosixFiles::folderExists(dir))
        return new QSmcControlMac(new QAppleSmcTransport(new QAppleSmcPosixFiles(dir)));

    return new QSmcControlNone(
        QStringLiteral("No SMC found: the applesmc driver's folder %1 does not exist, and "
                       "THERMORA_SMC_SOCKET does not name a simulator (start thermora-smcsim "
                       "and set it to the simulator's socket).")
            .arg(QString::fromStdString(dir)));
}
