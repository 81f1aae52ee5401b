#include "smc/SmcRightsUtils.h"
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

// polkit's pkexec asks for an administrator's password through the desktop's agent; it answers
// 126 when the user dismisses the prompt and 127 when not authorized.
QString SmcRightsUtils::platformElevationProgram()
{
    return QStringLiteral("pkexec");
}

// One shell under pkexec, so that the administrator is asked once for both steps.
QStringList SmcRightsUtils::platformElevationArguments(const QString& toolPath)
{
    return {QStringLiteral("/bin/sh"), QStringLiteral("-c"),
            QStringLiteral("chown root:root \"$0\" && chmod 4755 \"$0\""), toolPath};
}
