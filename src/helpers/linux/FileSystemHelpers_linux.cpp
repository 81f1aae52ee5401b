#include "helpers/FileSystemHelpers.h"

#include <QFileInfo>

// Without a file manager protocol of its own, the file is shown by opening its folder with the
// desktop's default handler, as xdg-open does.
void FileSystemHelpers::platformRevealFile(const QString& path)
{
    OpenFolder(QFileInfo(path).absolutePath());
}
