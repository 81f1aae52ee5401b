#include "core/drives/QDriveSource.h"
#include "core/drives/linux/QDriveSourceLinux.h"
#include "core/drives/sim/QDriveSourceSim.h"
#include "smc/QSmcTransportSocket.h"

// With the simulator serving the SMC, the drives come from the simulated machine too, so that
// what the program shows is one machine. THERMORA_DRIVES=system shows this computer's own
// drives instead.
QDriveSource* createPlatformDriveSource()
{
    const QString socketPath = QSmcTransportSocket::socketPathFromEnvironment();
    if (!socketPath.isEmpty() && qEnvironmentVariable("THERMORA_DRIVES") != QLatin1String("system"))
        return QDriveSourceSim::overSocket(socketPath);
    return new QDriveSourceLinux();
}
