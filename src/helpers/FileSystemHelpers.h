#pragma once

#include <QByteArray>
#include <QString>

// Paths and showing files to the user.
namespace FileSystemHelpers {

// Appends the native directory separator unless the path already ends with it (an empty path
// becomes the separator alone).
void PathAddSeparator(QString& path);

// Shows an existing file in the desktop's file manager. A missing file shows the folder that
// would hold it when bFallbackToFolder is set, and nothing otherwise. Errors are not reported.
void BrowseLocalFile(const QString& path, bool bFallbackToFolder);

// Opens a folder with the desktop's default handler (the file manager).
void OpenFolder(const QString& folder);

// Platform layer: shows an existing file (the folder fallback is shared code).
void platformRevealFile(const QString& path);

// Platform layer: swaps two existing paths in one atomic step. False with bSupported false when
// the file system cannot (the caller then renames in steps), false with bSupported true when the
// swap failed.
bool platformExchangePaths(const QByteArray& pathA, const QByteArray& pathB, bool& bSupported);

} // namespace FileSystemHelpers
