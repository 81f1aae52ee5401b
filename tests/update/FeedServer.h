#pragma once

#include "support/TestSupport.h"

#include <QProcess>
#include <QString>

// The release-feed server (feedserver.py) on 127.0.0.1, for as long as the object lives.
class FeedServer
{
public:
    explicit FeedServer(const QString& filesDir = QStringLiteral("."))
    {
        m_Process.start(
            QStringLiteral("python3"),
            {TestSupport::sourceDir() + QStringLiteral("/tests/update/feedserver.py"), filesDir});
        if (m_Process.waitForReadyRead(10000))
            m_nPort = m_Process.readLine().trimmed().toInt();
    }
    ~FeedServer()
    {
        m_Process.kill();
        m_Process.waitForFinished();
    }
    QString url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_nPort).arg(path);
    }
    int port() const { return m_nPort; }

private:
    QProcess m_Process;
    int m_nPort = 0;
};
