#pragma once

#include <QString>

// The operating-system facilities behind machine identification; one implementation per
// platform folder.
namespace SysInfoPlatform {

// The machine's model identifier; empty when the platform cannot tell.
QString queryMachineModel();

// The toolkit's Macintosh version number (7 = 10.5 ... 11 = 10.9); 0 off Apple systems.
int macintoshVersion();

// The running system's name and release where it is not macOS ("Linux 6.1.0-13-amd64"), for
// the technical report; empty on macOS, whose name comes from the version number above.
QString otherSystemName();

} // namespace SysInfoPlatform
