#pragma once

#include "support/TestSupport.h"
#include "update/UpdateFeed.h"
#include "update/UpdateRecord.h"

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>

// feedserver.py on 127.0.0.1 for the object's lifetime, serving filesDir under /files/.
class FeedServer
{
public:
    explicit FeedServer(const QString& filesDir)
    {
        m_Process.start("python3",
                        {TestSupport::sourceDir() + "/tests/update/feedserver.py", filesDir});
        m_Process.waitForReadyRead(10000);
        m_Base = "http://127.0.0.1:" + QString::fromLatin1(m_Process.readLine().trimmed());
    }
    ~FeedServer() { m_Process.kill(), m_Process.waitForFinished(); }
    QString url(const QString& path) const { return m_Base + path; }

private:
    QProcess m_Process;
    QString m_Base;
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
    const QByteArray body = "echo >> \"$THERMORA_TEST_MARKER.ran\"\n"
                            "[ \"$1\" = --version ] && { echo Thermora " +
                            version + "; exit 0; }\necho " + version +
                            " >> \"$THERMORA_TEST_MARKER\"\n";
    writeScript(root + "/bin/thermora", bRuns ? body : "exit 3\n");
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

// tests/update/keys/NAME.pub: the test publishers' public keys.
inline QByteArray testKey(const QString& name)
{
    QFile file(TestSupport::sourceDir() + "/tests/update/keys/" + name + ".pub");
    file.open(QIODevice::ReadOnly);
    return QByteArray::fromBase64(file.readAll().trimmed());
}

// dir/NAME.rec: a record of the file (version, size and hash as given, or the file's own),
// signed by the release tool with the test key keyName unless that is empty.
inline QUpdateDownload
signedRecord(const QString& dir, const QString& name, const QString& file, const QString& version,
             const QString& keyName = "test", qint64 nSizeDelta = 0,
             const QDateTime& expires = QDateTime(QDate(2099, 1, 1), QTime(0, 0), Qt::UTC))
{
    QUpdateRecord record{version,
                         "linux",
                         QFileInfo(file).fileName(),
                         QFileInfo(file).size() + nSizeDelta,
                         sha256(file).toLatin1(),
                         expires};
    QFile out(dir + "/" + name + ".rec");
    out.open(QIODevice::WriteOnly | QIODevice::Truncate);
    out.write(UpdateRecordUtils::format(record));
    out.close();
    QFile::remove(out.fileName() + ".sig");
    if (!keyName.isEmpty())
        run(TestSupport::binDir() + "/thermora-update",
            {"sign", "--key", TestSupport::sourceDir() + "/tests/update/keys/" + keyName + ".key",
             out.fileName()});
    QFile sig(out.fileName() + ".sig");
    out.open(QIODevice::ReadOnly);
    return {QString(), out.readAll(),
            sig.open(QIODevice::ReadOnly) ? QByteArray::fromBase64(sig.readAll().trimmed())
                                          : QByteArray()};
}
