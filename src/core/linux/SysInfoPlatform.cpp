#include "core/SysInfoPlatform.h"

#include "core/SysInfoHelpers.h"

// Without the Apple model query the identifier comes from a simulated controller named by
// THERMORA_SMC_SOCKET, or from the firmware tables of Apple hardware running Linux.
QString SysInfoPlatform::queryMachineModel()
{
    SysInfoHelpers::ModelSources sources;
    sources.simulatorSocket = qEnvironmentVariable("THERMORA_SMC_SOCKET");
    return SysInfoHelpers::modelFromSources(sources);
}

int SysInfoPlatform::macintoshVersion()
{
    return 0;
}
