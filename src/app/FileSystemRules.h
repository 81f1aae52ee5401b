#pragma once

#include <QByteArray>
#include <QString>

// Which file systems can hold a working set-user-ID tool, and how to learn a folder's file
// system from the kernel's mount table. Pure functions, so every platform can test them.
namespace FileSystemRulesUtils {

// Linux: the tool works unless the mount ignores set-user-ID bits or the file system has no
// Unix ownership of its own (FAT, exFAT, NTFS, FUSE, SMB/CIFS, ...).
bool linuxAllowsSetUid(const QString& typeName, bool bNoSuid);
// macOS: only HFS and AFP volumes keep the ownership and mode bits the tool relies on.
bool macAllowsSetUid(const QString& typeName);

// The type of the mount that holds the path, from the text of /proc/self/mountinfo: the
// mount point that is the longest prefix of the path, the last one listed when several are
// stacked. Empty when no line matches.
QString typeFromMountInfo(const QByteArray& mountInfo, const QString& path);
// A readable name for a statfs f_type magic number ("0x..." when it is not known).
QString typeFromMagic(quint64 nMagic);

} // namespace FileSystemRulesUtils
