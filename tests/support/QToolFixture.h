#pragma once

#include "smc/SmcRightsUtils.h"
#include "smc/SmcToolUtils.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

// A tool file (a folder when nMode has 040000) with a real owner and mode (tests run as root);
// the authorization program is a script that counts its runs, then does what it is told.
struct QToolFixture
{
    QToolFixture(int nMode, uint owner, const QString& prompt)
    {
        const QString body = "#!/bin/sh\necho >>" + dir.filePath("runs") + "\n" + prompt;
        const QString create = nMode & 040000 ? "mkdir" : "touch";
        QProcess::execute("sh", {"-c",
                                 "cd \"$3\" && " + create +
                                     " smc && chown $0 smc && chmod $1 smc && "
                                     "printf %s \"$2\" >prompt && chmod +x prompt",
                                 QString::number(owner), QString::number(nMode & 07777, 8), body,
                                 dir.path()});
        SmcToolUtils::setToolPathOverride(dir.filePath("smc"));
        SmcRightsUtils::setElevationProgram(dir.filePath(prompt.isEmpty() ? "missing" : "prompt"));
    }
    ~QToolFixture()
    {
        SmcToolUtils::setToolPathOverride(QString());
        SmcRightsUtils::setElevationProgram(QString());
    }
    int promptRuns() const { return int(QFileInfo(dir.filePath("runs")).size()); }
    QTemporaryDir dir;
};
