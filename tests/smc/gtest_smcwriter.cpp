// Handing a write to the key-writing tool: it runs with exactly the four arguments and the
// caller's environment, its failure is not examined, and a missing tool is logged.
#include "smc/QSmcControlMac.h"
#include "smc/SmcToolUtils.h"
#include "support/QMemoryLogDestination.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(SmcWriter, RunsTheTool)
{
    QTemporaryDir dir;
    auto pLog = QSharedPointer<QMemoryLogDestination>::create();
    QsLogging::Logger::instance().addDestination(pLog);
    qputenv("THERMORA_SMC_SOCKET", "/tmp/inherited.sock");
    // A stand-in that records its arguments and the socket it inherited, then fails.
    const QString tool = dir.filePath("tool");
    QFile script(tool);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nprintf '%s|' \"$@\" \"$THERMORA_SMC_SOCKET\" > \"$0.args\"\nexit 3\n");
    script.close();
    auto row = [&](const QString& path, bool bExecutable, const QByteArray& value,
                   const QString& recorded, const char* logged) {
        QFile::remove(tool + ".args");
        script.setPermissions(bExecutable ? QFile::ReadOwner | QFile::ExeOwner : QFile::ReadOwner);
        SmcToolUtils::setToolPathOverride(path);
        QsLogging::Logger::instance().waitForWrites();
        const int nBefore = pLog->lines().size();
        QSmcControlMac smc(nullptr);
        EXPECT_EQ(smc.WriteKey("FS! ", reinterpret_cast<const uchar*>(value.constData()),
                               uchar(value.size())),
                  0);
        QFile args(tool + ".args");
        EXPECT_EQ(args.open(QIODevice::ReadOnly) ? QString(args.readAll()) : "-", recorded);
        QsLogging::Logger::instance().waitForWrites();
        const QStringList lines = pLog->lines().mid(nBefore);
        EXPECT_EQ(lines.filter(QRegularExpression(QString("^ERROR.*") + logged)).size(),
                  *logged ? 1 : 0);
        EXPECT_EQ(lines.size(), *logged ? 1 : 0);
    };
    row(tool, true, "\x17\x70", "-k|FS! |-w|1770|/tmp/inherited.sock|", "");
    row(tool, true, QByteArray(), "-k|FS! |-w||/tmp/inherited.sock|", "");
    row(dir.filePath("missing"), true, "\x01", "-", "launchPath is nil");
    row(dir.path(), true, "\x01", "-", "launchPath is nil"); // a folder is no tool
    row(tool, false, "\x01", "-", "Exception caught: ");
    SmcToolUtils::setToolPathOverride(QString());
    EXPECT_EQ(SmcToolUtils::platformToolPath(),
              QFileInfo("/proc/self/exe").canonicalPath() + "/smc");
}
