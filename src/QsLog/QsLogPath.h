#pragma once

#include <QString>

namespace QsLogging {

// Where the program's log file goes: "Thermora.log" on the user's desktop when the home folder
// has a "Desktop" folder, otherwise in the per-user application data folder (created if
// needed).
QString defaultLogPath();

} // namespace QsLogging
