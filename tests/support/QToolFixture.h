#pragma once

#include "smc/SmcRightsUtils.h"
#include "smc/SmcToolUtils.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

// A tool file with a real owner and mode (the tests run as root), the authorization program
// replaced by a script that counts its runs and then does what the row says.
struct QToolFixture
{
    QToolFixture(int nMode, uint owner, const QString& prompt)
    {
        const QString script = dir.filePath("prompt");
        const QString body = "#!/bin/sh\necho >>" + dir.filePath("runs") + "\n" + prompt;
        QProcess::execute("sh",
                          {"-c",
                           "cd \"$3\" && touch smc && chown $0 smc && chmod $1 smc && "
                           "printf %s \"$2\" >prompt && chmod +x prompt",
                           QString::number(owner), QString::number(nMode, 8), body, dir.path()});
        SmcToolUtils::setToolPathOverride(dir.filePath("smc"));
        SmcRightsUtils::setElevationProgram(prompt.isEmpty() ? dir.filePath("missing") : script);
    }
    ~QToolFixture()
    {
        SmcToolUtils::setToolPathOverride(QString());
        SmcRightsUtils::setElevationProgram(QString());
    }
    int promptRuns() const { return int(QFileInfo(dir.filePath("runs")).size()); }
    QTemporaryDir dir;
};
