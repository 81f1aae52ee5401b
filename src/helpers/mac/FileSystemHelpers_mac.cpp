#include "helpers/FileSystemHelpers.h"

#include "helpers/ProcessHelpers.h"

// The Finder selects the file and comes to the front.
void FileSystemHelpers::platformRevealFile(const QString& path)
{
    const QString script =
        QStringLiteral("tell application \"Finder\" to reveal POSIX file \"%1\"").arg(path);
    ProcessHelpers::runAndWait(QStringLiteral("/usr/bin/osascript"), {QStringLiteral("-e"), script},
                               30000, 30000);
    ProcessHelpers::runAndWait(
        QStringLiteral("/usr/bin/osascript"),
        {QStringLiteral("-e"), QStringLiteral("tell application \"Finder\" to activate")}, 30000,
        30000);
}
