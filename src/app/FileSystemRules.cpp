#include "app/FileSystemRules.h"

#include <QList>
#include <QSet>

namespace {

// File systems that map every file to one owner chosen at mount time: chown and the
// set-user-ID bit cannot be given to the tool there.
const QSet<QString>& foreignOwnershipTypes()
{
    static const QSet<QString> types = {
        QStringLiteral("vfat"),  QStringLiteral("msdos"),   QStringLiteral("umsdos"),
        QStringLiteral("fat"),   QStringLiteral("exfat"),   QStringLiteral("ntfs"),
        QStringLiteral("ntfs3"), QStringLiteral("fuseblk"), QStringLiteral("fuse"),
        QStringLiteral("smb"),   QStringLiteral("smbfs"),   QStringLiteral("smb2"),
        QStringLiteral("smb3"),  QStringLiteral("cifs"),    QStringLiteral("ncpfs"),
        QStringLiteral("hfs"),
    };
    return types;
}

// Mount points in mountinfo escape blank, tab, line feed and backslash as \ooo.
QString unescapeMountPath(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (int i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3') {
            bool bOk = false;
            const int nCode = field.mid(i + 1, 3).toInt(&bOk, 8);
            if (bOk) {
                out.append(char(nCode));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return QString::fromUtf8(out);
}

bool mountPointHolds(const QString& mountPoint, const QString& path)
{
    if (mountPoint == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path == mountPoint || path.startsWith(mountPoint + QLatin1Char('/'));
}

} // namespace

namespace FileSystemRulesUtils {

bool linuxAllowsSetUid(const QString& typeName, bool bNoSuid)
{
    if (bNoSuid)
        return false;
    const QString type = typeName.trimmed().toLower();
    if (type.startsWith(QLatin1String("fuse.")))
        return false;
    return !foreignOwnershipTypes().contains(type);
}

bool macAllowsSetUid(const QString& typeName)
{
    return typeName.left(3) == QLatin1String("hfs") || typeName.left(5) == QLatin1String("afpfs");
}

QString typeFromMountInfo(const QByteArray& mountInfo, const QString& path)
{
    QString bestType;
    int nBestLength = -1;
    for (const QByteArray& line : mountInfo.split('\n')) {
        // "id parent major:minor root mount-point options [optional...] - type source super"
        const QList<QByteArray> fields = line.split(' ');
        const int nSeparator = fields.indexOf(QByteArray("-"));
        if (fields.size() < 5 || nSeparator < 6 || nSeparator + 1 >= fields.size())
            continue;
        const QString mountPoint = unescapeMountPath(fields[4]);
        if (!mountPointHolds(mountPoint, path))
            continue;
        // ">=": a later mount on the same point hides the earlier one.
        if (mountPoint.size() >= nBestLength) {
            nBestLength = mountPoint.size();
            bestType = QString::fromUtf8(fields[nSeparator + 1]);
        }
    }
    return bestType;
}

QString typeFromMagic(quint64 nMagic)
{
    struct MagicName
    {
        quint64 nMagic;
        const char* name;
    };
    static const MagicName names[] = {
        {0xEF53, "ext4"},         {0x9123683E, "btrfs"},    {0x58465342, "xfs"},
        {0x01021994, "tmpfs"},    {0x794C7630, "overlay"},  {0x6969, "nfs"},
        {0x4D44, "vfat"},         {0x2011BAB0, "exfat"},    {0x5346544E, "ntfs"},
        {0x7366746E, "ntfs3"},    {0x65735546, "fuseblk"},  {0x517B, "smb"},
        {0xFF534D42, "cifs"},     {0xFE534D42, "smb2"},     {0x4244, "hfs"},
        {0x482B, "hfsplus"},      {0x9660, "iso9660"},      {0x15013346, "udf"},
        {0x2FC12FC1, "zfs"},      {0xF2F52010, "f2fs"},     {0x3153464A, "jfs"},
        {0x52654973, "reiserfs"}, {0x01161970, "gfs2"},     {0x73717368, "squashfs"},
        {0x01021997, "9p"},       {0x62656572, "sysfs"},    {0x9FA0, "proc"},
        {0x28CD3D45, "cramfs"},   {0xCA451A4E, "bcachefs"},
    };
    for (const MagicName& entry : names) {
        if (entry.nMagic == nMagic)
            return QString::fromLatin1(entry.name);
    }
    return QStringLiteral("0x") + QString::number(nMagic, 16);
}

} // namespace FileSystemRulesUtils
