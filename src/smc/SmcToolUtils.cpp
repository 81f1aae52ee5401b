#include "smc/SmcToolUtils.h"

#include "QsLog/QsLog.h"

#include <QFileInfo>
#include <QProcess>

#include <mutex>

namespace {
// std::mutex rather than QMutex, so that the thread sanitizer sees the lock.
std::mutex g_OverrideMutex;
QString g_ToolPathOverride;
} // namespace

QString SmcToolUtils::toolPath()
{
    QString path;
    {
        std::lock_guard<std::mutex> locker(g_OverrideMutex);
        path = g_ToolPathOverride;
    }
    if (path.isEmpty())
        path = platformToolPath();
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return QString();
    return path;
}

void SmcToolUtils::setToolPathOverride(const QString& path)
{
    std::lock_guard<std::mutex> locker(g_OverrideMutex);
    g_ToolPathOverride = path;
}

void setKey_external(const QString& key, const QString& value)
{
    const QString path = SmcToolUtils::toolPath();
    if (path.isEmpty()) {
        SmcToolUtils::logDiagnostic(QStringLiteral("launchPath is nil"));
        return;
    }

    // The child inherits the environment, so a tool run against the simulator finds it too.
    QProcess tool;
    tool.setStandardOutputFile(QProcess::nullDevice());
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.start(path, {QStringLiteral("-k"), key, QStringLiteral("-w"), value});
    if (!tool.waitForStarted(SmcToolUtils::kToolSafetyLimitMs)) {
        SmcToolUtils::logDiagnostic(QStringLiteral("Exception caught: %1").arg(tool.errorString()));
        return;
    }
    if (!tool.waitForFinished(SmcToolUtils::kToolSafetyLimitMs)) {
        QLOG_ERROR() << "key-writing tool did not exit within"
                     << SmcToolUtils::kToolSafetyLimitMs / 1000 << "s; killed it, write of"
                     << qUtf8Printable(key) << "abandoned";
        tool.kill();
        tool.waitForFinished(-1);
    }
}
