#include "helpers/FileSystemHelpers.h"

#include "helpers/ProcessHelpers.h"

#include <cerrno>
#include <stdio.h>

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

// APFS and HFS+ swap two entries in one step.
bool FileSystemHelpers::platformExchangePaths(const QByteArray& pathA, const QByteArray& pathB,
                                              bool& bSupported)
{
    bSupported = true;
    if (renamex_np(pathA.constData(), pathB.constData(), RENAME_SWAP) == 0)
        return true;
    bSupported = errno != ENOTSUP && errno != EINVAL;
    return false;
}
