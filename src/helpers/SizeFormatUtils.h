#pragma once

#include <QString>
#include <QStringList>

// Byte counts for people: "512 B", "1.5 KB", "5 MB".
namespace SizeFormatUtils {

// units: the texts for bytes, kilobytes, megabytes and gigabytes, in that order (missing ones
// read as empty). Up to 1024 bytes the count is shown whole; above, the value in the largest
// unit it reaches, with three significant digits and no trailing zeros.
QString formatSize(qint64 nBytes, const QStringList& units);

} // namespace SizeFormatUtils
