#pragma once

#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>

// The release-feed server (feedserver.py) on 127.0.0.1, serving filesDir under /files/, for
// as long as the object lives.
class FeedServer
{
public:
    explicit FeedServer(const QString& filesDir)
    {
        m_Process.start("python3",
                        {TestSupport::sourceDir() + "/tests/update/feedserver.py", filesDir});
        if (m_Process.waitForReadyRead(10000))
            m_nPort = m_Process.readLine().trimmed().toInt();
    }
    ~FeedServer() { m_Process.kill(), m_Process.waitForFinished(); }
    QString url(const QString& path) const
    {
        return QString("http://127.0.0.1:%1%2").arg(m_nPort).arg(path);
    }

private:
    QProcess m_Process;
    int m_nPort = 0;
};

inline void writeScript(const QString& path, const QByteArray& body)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write("#!/bin/sh\n" + body);
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

// A program tree: bin/thermora answers --version and, started, notes its version.
inline void writeTree(const QString& root, const QByteArray& version, bool bRuns = true)
{
    writeScript(root + "/bin/thermora", bRuns ? "[ \"$1\" = --version ] && { echo Thermora " +
                                                    version + "; exit 0; }\necho " + version +
                                                    " >> \"$THERMORA_TEST_MARKER\"\n"
                                              : "exit 3\n");
}

inline QString sha256(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
}

// Standard output; the exit code, -9 for a crash.
inline QString run(const QString& program, const QStringList& args, int* pExit = nullptr)
{
    QProcess process;
    process.start(program, args);
    process.waitForFinished(30000);
    if (pExit)
        *pExit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -9;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}
