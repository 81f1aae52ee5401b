#include "update/UpdateConfig.h"

#include "QsLog/QsLog.h"
#include "update/UpdateRecord.h"

#include <QUrl>
#include <QtGlobal>

#ifndef THERMORA_UPDATE_FEED_URL
#define THERMORA_UPDATE_FEED_URL ""
#endif
#ifndef THERMORA_UPDATE_PUBLIC_KEYS
#define THERMORA_UPDATE_PUBLIC_KEYS ""
#endif

namespace {
bool isLocalHttp(const QUrl& url)
{
    const QString host = url.host().toLower();
    return url.scheme() == QLatin1String("http") &&
           (host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost"));
}

bool isHttps(const QUrl& url)
{
    return url.isValid() && url.scheme() == QLatin1String("https") && !url.host().isEmpty();
}

// The variable, when it names a plain-http feed on this machine.
bool localFeedNamed()
{
    return isLocalHttp(QUrl(qEnvironmentVariable("THERMORA_UPDATE_FEED")));
}
} // namespace

QString UpdateConfig::feedUrl()
{
    const QString overridden = qEnvironmentVariable("THERMORA_UPDATE_FEED");
    if (!overridden.isEmpty() && isAllowedUrl(QUrl(overridden)))
        return overridden;
    if (!overridden.isEmpty())
        QLOG_WARN() << "UpdateConfig: THERMORA_UPDATE_FEED is neither https nor a feed on this "
                       "machine; it is ignored";
    const QString builtIn = QStringLiteral(THERMORA_UPDATE_FEED_URL);
    return isHttps(QUrl(builtIn)) ? builtIn : QString();
}

int UpdateConfig::startDelaySecs()
{
    bool bOk = false;
    const int nSecs = qEnvironmentVariable("THERMORA_UPDATE_DELAY").toInt(&bOk);
    return (bOk && nSecs >= 0) ? nSecs : 60;
}

QList<QByteArray> UpdateConfig::publicKeys()
{
    return UpdateRecordUtils::parseKeys(QStringLiteral(THERMORA_UPDATE_PUBLIC_KEYS));
}

bool UpdateConfig::isAllowedUrl(const QUrl& url)
{
    return isHttps(url) || (isLocalHttp(url) && localFeedNamed());
}
