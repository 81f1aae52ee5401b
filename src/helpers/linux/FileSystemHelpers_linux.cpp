#include "helpers/FileSystemHelpers.h"

#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>

// Without a file manager protocol of its own, the file is shown by opening its folder with the
// desktop's default handler, as xdg-open does.
void FileSystemHelpers::platformRevealFile(const QString& path)
{
    OpenFolder(QFileInfo(path).absolutePath());
}

bool FileSystemHelpers::platformExchangePaths(const QByteArray& pathA, const QByteArray& pathB,
                                              bool& bSupported)
{
    bSupported = true;
    if (renameat2(AT_FDCWD, pathA.constData(), AT_FDCWD, pathB.constData(), RENAME_EXCHANGE) == 0)
        return true;
    bSupported = errno != EINVAL && errno != ENOSYS;
    return false;
}
