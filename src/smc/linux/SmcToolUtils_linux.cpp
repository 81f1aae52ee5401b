#include "smc/SmcToolUtils.h"

#include "QsLog/QsLog.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

// The tool ships beside the program's executable.
QString SmcToolUtils::platformToolPath()
{
    QString dir;
    if (QCoreApplication::instance())
        dir = QCoreApplication::applicationDirPath();
    else
        dir = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).path();
    return dir.isEmpty() ? QString() : dir + QStringLiteral("/smc");
}

// No system log is needed here: the log file and standard error carry it.
void SmcToolUtils::logDiagnostic(const QString& message)
{
    QLOG_ERROR() << qUtf8Printable(message);
    fprintf(stderr, "%s\n", qUtf8Printable(message));
    fflush(stderr);
}
