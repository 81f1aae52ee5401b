#include "core/drives/QDriveSource.h"
#include "core/drives/linux/QDriveSourceLinux.h"
#include "core/drives/sim/QDriveSourceSim.h"
#include "smc/QSmcTransportSocket.h"

// With the simulator serving the SMC, the drives come from the simulated machine too, so that
// what the program shows is one machine. THERMORA_DRIVES=system shows this computer's own
// drives instead. THERMORA_DRIVES_ROOT names a folder that stands for "/" (its sys/ and dev/
// are read instead of the system's): a copied tree to replay, or an empty folder for no drives
// (the tests use one, so that the build machine's own disks never show up in them).
QDriveSource* createPlatformDriveSource()
{
    const QString socketPath = QSmcTransportSocket::socketPathFromEnvironment();
    if (!socketPath.isEmpty() && qEnvironmentVariable("THERMORA_DRIVES") != QLatin1String("system"))
        return QDriveSourceSim::overSocket(socketPath);
    const QString root = qEnvironmentVariable("THERMORA_DRIVES_ROOT");
    if (!root.isEmpty())
        return new QDriveSourceLinux(root + QLatin1String("/sys"), root + QLatin1String("/dev"));
    return new QDriveSourceLinux();
}
