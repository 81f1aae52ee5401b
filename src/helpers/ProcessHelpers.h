#pragma once

#include <QString>
#include <QStringList>

// Running an external command and waiting for it. Exit codes and output are not read; a
// command still running after the finish time-out is killed.
namespace ProcessHelpers {

// commandLine: the program and its arguments in one string, split as QProcess splits it
// (blanks separate, double quotes group). Time-outs in milliseconds (-1: no limit).
void startProcessAndWaitForFinished(const QString& commandLine, int nStartTimeoutMs,
                                    int nFinishTimeoutMs);
// The same with the arguments already separated. True when the program started and finished
// within the time-outs.
bool runAndWait(const QString& program, const QStringList& arguments, int nStartTimeoutMs,
                int nFinishTimeoutMs);

} // namespace ProcessHelpers
