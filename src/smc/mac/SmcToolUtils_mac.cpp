#include "smc/SmcRightsUtils.h"
#include "smc/SmcToolUtils.h"

#include "QsLog/QsLog.h"

#include <CoreFoundation/CoreFoundation.h>

#include <syslog.h>

// The tool is the bundle's resource "smc" with an empty type; absent = no path.
QString SmcToolUtils::platformToolPath()
{
    CFBundleRef bundle = CFBundleGetMainBundle();
    if (!bundle)
        return QString();
    CFURLRef url = CFBundleCopyResourceURL(bundle, CFSTR("smc"), nullptr, nullptr);
    if (!url)
        return QString();
    QString path;
    char buffer[4096];
    if (CFURLGetFileSystemRepresentation(url, true, reinterpret_cast<UInt8*>(buffer),
                                         sizeof(buffer)))
        path = QString::fromUtf8(buffer);
    CFRelease(url);
    return path;
}

void SmcToolUtils::logDiagnostic(const QString& message)
{
    syslog(LOG_ERR, "%s", qUtf8Printable(message));
    QLOG_ERROR() << qUtf8Printable(message);
}

// The system's administrator prompt through a script run with administrator privileges.
QString SmcRightsUtils::platformElevationProgram()
{
    return QStringLiteral("/usr/bin/osascript");
}

QStringList SmcRightsUtils::platformElevationArguments(const QString& toolPath)
{
    QString quoted = toolPath;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    const QString shell = QStringLiteral("chown root:admin '%1' && chmod 6555 '%1'").arg(quoted);
    QString escaped = shell;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return {QStringLiteral("-e"),
            QStringLiteral("do shell script \"%1\" with administrator privileges").arg(escaped)};
}
