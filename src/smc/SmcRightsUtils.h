#pragma once

#include <QString>
#include <QStringList>

// The rights the key-writing tool needs to write SMC keys for an ordinary user, and the
// administrator's step that gives it them.
//
// Required state: a regular file owned by root with the set-user-ID bit, and no write bit for
// group or others (anyone who could rewrite a set-user-ID root file would own the machine).
// The group is not looked at: with no group write bit it grants nothing. The administrator's
// step makes the file root:root, mode 4755 (as the package installs it).
namespace SmcRightsUtils {

// True when the file at path has the required state; false also when it cannot be examined.
bool checkRights(const QString& toolPath);
// The same for the program's own tool (SmcToolUtils::toolPath()); false when there is none.
bool checkRights();

// The command that gives the tool its rights as administrator: program first, then its
// arguments. The platform's authorization program asks for the administrator's password.
QStringList elevationCommand(const QString& toolPath);
// Replaces the authorization program ("pkexec" here); empty restores it. Tests use it.
void setElevationProgram(const QString& program);
QString elevationProgram();

// Runs the elevation command for the program's tool and waits for it. False when the
// authorization program is missing or did not succeed (refused, cancelled); the caller checks
// the result with checkRights() either way.
bool setRights();

// Writes of the process-wide key layer go through the tool: only then do its rights matter.
bool isToolUsed();

// Platform layer: the authorization program and the command line it runs as administrator.
QString platformElevationProgram();
QStringList platformElevationArguments(const QString& toolPath);

} // namespace SmcRightsUtils
