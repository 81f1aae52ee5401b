#include "helpers/ProcessHelpers.h"

#include <QProcess>

void ProcessHelpers::startProcessAndWaitForFinished(const QString& commandLine, int nStartTimeoutMs,
                                                    int nFinishTimeoutMs)
{
    QStringList arguments = QProcess::splitCommand(commandLine);
    if (arguments.isEmpty())
        return;
    const QString program = arguments.takeFirst();
    runAndWait(program, arguments, nStartTimeoutMs, nFinishTimeoutMs);
}

bool ProcessHelpers::runAndWait(const QString& program, const QStringList& arguments,
                                int nStartTimeoutMs, int nFinishTimeoutMs)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(nStartTimeoutMs))
        return false;
    if (process.waitForFinished(nFinishTimeoutMs))
        return true;
    // Killed here rather than by the destructor, which would only warn about it.
    process.kill();
    process.waitForFinished(-1);
    return false;
}
