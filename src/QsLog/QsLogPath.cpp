#include "QsLog/QsLogPath.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace QsLogging {

QString defaultLogPath()
{
    const QString fileName = QStringLiteral("Thermora.log");
    const QString desktop = QDir::homePath() + QStringLiteral("/Desktop");
    if (QFileInfo(desktop).isDir())
        return desktop + QLatin1Char('/') + fileName;

    // No desktop folder (a server or a minimal session): keep the log with the program's data.
    const QString dataDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(dataDir);
    return dataDir + QLatin1Char('/') + fileName;
}

} // namespace QsLogging
