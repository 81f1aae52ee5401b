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
