#include "helpers/FileSystemHelpers.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

void FileSystemHelpers::PathAddSeparator(QString& path)
{
    if (!path.endsWith(QDir::separator()))
        path += QDir::separator();
}

void FileSystemHelpers::OpenFolder(const QString& folder)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void FileSystemHelpers::BrowseLocalFile(const QString& path, bool bFallbackToFolder)
{
    const QFileInfo info(path);
    if (info.exists())
        platformRevealFile(info.absoluteFilePath());
    else if (bFallbackToFolder)
        OpenFolder(info.absolutePath());
}
