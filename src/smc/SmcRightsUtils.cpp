#include "smc/SmcRightsUtils.h"

#include "QsLog/QsLog.h"
#include "smc/SmcToolUtils.h"
#include "smc/smc.h"

#include <QFile>
#include <QProcess>

#include <mutex>

#include <sys/stat.h>

namespace {
// The prompt waits for a person; after this long the attempt counts as refused.
constexpr int kPromptLimitMs = 5 * 60 * 1000;

std::mutex g_ProgramMutex;
QString g_ElevationProgram;
} // namespace

bool SmcRightsUtils::checkRights(const QString& toolPath)
{
    if (toolPath.isEmpty())
        return false;
    struct stat info;
    if (stat(QFile::encodeName(toolPath).constData(), &info) != 0)
        return false;
    return S_ISREG(info.st_mode) && info.st_uid == 0 && (info.st_mode & S_ISUID) != 0 &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool SmcRightsUtils::checkRights()
{
    return checkRights(SmcToolUtils::toolPath());
}

void SmcRightsUtils::setElevationProgram(const QString& program)
{
    std::lock_guard<std::mutex> locker(g_ProgramMutex);
    g_ElevationProgram = program;
}

QString SmcRightsUtils::elevationProgram()
{
    std::lock_guard<std::mutex> locker(g_ProgramMutex);
    return g_ElevationProgram.isEmpty() ? platformElevationProgram() : g_ElevationProgram;
}

QStringList SmcRightsUtils::elevationCommand(const QString& toolPath)
{
    return QStringList{elevationProgram()} + platformElevationArguments(toolPath);
}

bool SmcRightsUtils::setRights()
{
    const QString toolPath = SmcToolUtils::toolPath();
    if (toolPath.isEmpty()) {
        QLOG_WARN() << "No key-writing tool to give rights to";
        return false;
    }
    QStringList command = elevationCommand(toolPath);
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(command.takeFirst(), command);
    if (!process.waitForStarted()) {
        QLOG_WARN() << "Authorization program" << elevationProgram()
                    << "could not be started:" << process.errorString();
        return false;
    }
    if (!process.waitForFinished(kPromptLimitMs)) {
        process.kill();
        process.waitForFinished(-1);
        QLOG_WARN() << "Authorization program did not finish; gave up";
        return false;
    }
    const bool bOk = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!bOk)
        QLOG_WARN() << "Authorization refused or cancelled, exit code" << process.exitCode();
    return bOk;
}

bool SmcRightsUtils::isToolUsed()
{
    QSmcControl* pSmc = QSmcControl::instance();
    return pSmc && pSmc->writesThroughTool();
}
