#include "core/SysInfoPlatform.h"

#include "core/QMySysInfo.h"
#include "core/SysInfoHelpers.h"

#include <QOperatingSystemVersion>

QString SysInfoPlatform::queryMachineModel()
{
    return SysInfoHelpers::identifierFromSysctl(readOutput(QStringLiteral("sysctl hw.model")));
}

int SysInfoPlatform::macintoshVersion()
{
    // The toolkit numbers the 10.x releases x + 2 (10.5 = 7); later systems have no number.
    const QOperatingSystemVersion version = QOperatingSystemVersion::current();
    if (version.type() != QOperatingSystemVersion::MacOS || version.majorVersion() != 10)
        return 0;
    return version.minorVersion() + 2;
}

QString SysInfoPlatform::otherSystemName()
{
    return QString();
}
