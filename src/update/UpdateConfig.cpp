#include "update/UpdateConfig.h"

#include <QtGlobal>

#ifndef THERMORA_UPDATE_FEED_URL
#define THERMORA_UPDATE_FEED_URL ""
#endif

QString UpdateConfig::feedUrl()
{
    const QString overridden = qEnvironmentVariable("THERMORA_UPDATE_FEED");
    return overridden.isEmpty() ? QStringLiteral(THERMORA_UPDATE_FEED_URL) : overridden;
}

int UpdateConfig::startDelaySecs()
{
    bool bOk = false;
    const int nSecs = qEnvironmentVariable("THERMORA_UPDATE_DELAY").toInt(&bOk);
    return (bOk && nSecs >= 0) ? nSecs : 60;
}
