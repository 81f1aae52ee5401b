#include "core/SysInfoPlatform.h"

#include "QsLog/QsLog.h"
#include "core/SysInfoHelpers.h"
#include "smc/QSmcTransportSocket.h"

#include <sys/utsname.h>

namespace {
QString askSimulator(const QString& socketPath)
{
    QString error;
    const QString model = QSmcTransportSocket::queryModel(socketPath, 5000, &error);
    if (model.isEmpty())
        QLOG_WARN() << "SysInfo: no model from the SMC simulator at" << socketPath << error;
    return model;
}
} // namespace

// Without the Apple model query the identifier comes from a simulated controller named by
// THERMORA_SMC_SOCKET, or from the firmware tables of Apple hardware running Linux.
QString SysInfoPlatform::queryMachineModel()
{
    SysInfoHelpers::ModelSources sources;
    sources.simulatorSocket = QSmcTransportSocket::socketPathFromEnvironment();
    sources.simulatorModel = &askSimulator;
    // THERMORA_DMI_DIR names another folder with sys_vendor and product_name (a copied tree).
    const QString dmiDir = qEnvironmentVariable("THERMORA_DMI_DIR");
    if (!dmiDir.isEmpty())
        sources.dmiDir = dmiDir;
    return SysInfoHelpers::modelFromSources(sources);
}

int SysInfoPlatform::macintoshVersion()
{
    return 0;
}

QString SysInfoPlatform::otherSystemName()
{
    struct utsname names;
    if (::uname(&names) != 0)
        return QStringLiteral("Linux");
    return QStringLiteral("%1 %2").arg(QString::fromLocal8Bit(names.sysname),
                                       QString::fromLocal8Bit(names.release));
}
