// The protocol backend: the call structures it sends and what it makes of the answers; and the
// program's writes through the key-writing tool (arguments, environment, a missing tool).
#include "helpers/QClock.h"
#include "smc/QSmcControlMac.h"
#include "smc/QSmcTransportInProcess.h"
#include "smc/SmcToolUtils.h"
#include "support/QMemoryLogDestination.h"
#include "support/QSimMachine.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

using SimMachineUtils::request;

namespace {

// Records every call; fails a chosen command or patches the reported size, as a bad service.
class QRecordingTransport : public QSmcTransportInProcess
{
public:
    using QSmcTransportInProcess::QSmcTransportInProcess;
    int call(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output) override
    {
        m_Sent.append(QByteArray(reinterpret_cast<const char*>(&input), sizeof input).toHex());
        EXPECT_EQ(selector, 2u);
        if (input.command == m_nFailCommand) {
            memset(&output, 0x77, sizeof(output));
            return kSmcReturnError;
        }
        const int nResult = QSmcTransportInProcess::call(selector, input, output);
        if (m_nPatchedSize >= 0 && input.command == SmcCmdReadKeyInfo)
            output.dataSize = uint32_t(m_nPatchedSize);
        return nResult;
    }
    QStringList m_Sent; // every structure sent, byte for byte
    int m_nFailCommand = -1;
    int m_nPatchedSize = -1;
};

QString structure(const SMCKeyData_t& data)
{
    return QByteArray(reinterpret_cast<const char*>(&data), sizeof data).toHex();
}

class SmcProtocol : public ::testing::Test
{
protected:
    SmcProtocol()
    {
        m_Sim.setKeys({{"F0Mx", "fpe2", "\x17\x70"},
                       {"F0Tg", "fpe2", "\x07\xd0"},
                       {"FNum", "ui8 ", "\x01"},
                       {"FS! ", "ui16", QByteArray(2, 0), 0xD4},
                       {"TC0P", "sp78", "\x2d\x80"}});
        EXPECT_TRUE(m_Smc.Open());
    }
    QManualClock m_Clock; // never stepped: the values stay as set
    QSimSmc m_Sim{&m_Clock};
    QRecordingTransport* m_pRecorder = new QRecordingTransport(&m_Sim);
    QSmcControlMac m_Smc{m_pRecorder};
};

} // namespace

// Key information, then the value with the reported size; only what fits is copied.
TEST_F(SmcProtocol, ReadKey)
{
    auto row = [this](const char* key, int size, int failCommand, int result, const char* buffer) {
        SCOPED_TRACE(buffer);
        m_pRecorder->m_Sent.clear();
        m_pRecorder->m_nFailCommand = failCommand;
        unsigned char out[3] = {0xEE, 0xEE, 0xEE};
        EXPECT_EQ(m_Smc.ReadKey(key, out, uchar(size)), result);
        EXPECT_EQ(QByteArray(reinterpret_cast<char*>(out), 3).toHex(), QByteArray(buffer));
        QByteArray value;
        QStringList expected = {structure(request(SmcCmdReadKeyInfo, key))};
        if (m_Sim.value(key, value) && failCommand != SmcCmdReadKeyInfo)
            expected << structure(request(SmcCmdReadBytes, key, uint32_t(value.size())));
        EXPECT_EQ(m_pRecorder->m_Sent, expected);
    };
    row("TC0P", 2, -1, 0, "2d80ee");
    row("FNum", 2, -1, 0, "01eeee"); // a larger buffer keeps its tail
    row("F0Mx", 1, -1, 0, "17eeee"); // a smaller one gets what fits
    row("TX9Z", 2, -1, -1, "eeeeee");
    row("TC0P", 2, SmcCmdReadKeyInfo, -1, "eeeeee");
    row("TC0P", 2, SmcCmdReadBytes, -1, "eeeeee");
}

TEST_F(SmcProtocol, KeyInfoByIndex)
{
    auto row = [this](int failCommand, int patchedSize, int result, int size) {
        SCOPED_TRACE(failCommand);
        m_pRecorder->m_Sent.clear();
        m_pRecorder->m_nFailCommand = failCommand;
        m_pRecorder->m_nPatchedSize = patchedSize;
        applesmc_entry entry;
        memset(&entry, 0, sizeof entry);
        EXPECT_EQ(m_Smc.OS_GetKeyInfoByIndex(4, &entry), result); // "#KEY" is index 0
        QStringList expected = {structure(request(SmcCmdReadIndex, nullptr, 0, 4))};
        if (failCommand != SmcCmdReadIndex) // the index stays in the second structure
            expected << structure(request(SmcCmdReadKeyInfo, "FS! ", 0, 4));
        EXPECT_EQ(m_pRecorder->m_Sent, expected);
        applesmc_entry want;
        memset(&want, 0, sizeof want);
        if (result == 0)
            want = applesmc_entry{"FS! ", 1, uint8_t(size), "ui16", 0xD4};
        EXPECT_EQ(memcmp(&entry, &want, sizeof entry), 0);
    };
    row(-1, -1, 0, 2);
    row(-1, 416, 0, 160); // only the low byte of the size
    row(SmcCmdReadIndex, -1, -1, 0);
    row(SmcCmdReadKeyInfo, -1, kSmcReturnError, 0); // that call's own code
}

// The program's writes go to the writer as lower-case text, never to the service.
TEST_F(SmcProtocol, WriteHandsHexToWriter)
{
    auto row = [this](const char* key, const QByteArray& value, const QString& text) {
        QStringList calls;
        m_Smc.setWriter([&](const QString& k, const QString& v) { calls << k << v; });
        EXPECT_EQ(m_Smc.WriteKey(key, reinterpret_cast<const uchar*>(value.constData()),
                                 uchar(value.size())),
                  0);
        EXPECT_EQ(calls, (QStringList{key, text}));
    };
    row("F0Tg", "\x17\x70", "1770");
    row("FS! ", QByteArray("\x00\x03", 2), "0003");
    row("F0Tg", QByteArray(), "");
    row("F0Tg", QByteArray(32, '\x0b'), QString(32, 'x').replace("x", "0b"));
    EXPECT_TRUE(m_pRecorder->m_Sent.isEmpty());
}

// The tool's write: the key is read first, a size that differs writes nothing.
TEST_F(SmcProtocol, DirectWrite)
{
    auto row = [this](const char* key, const QByteArray& value, uint32_t nUid, int result) {
        SCOPED_TRACE(key);
        m_Sim.setRootWritesOnly(true);
        auto* pRecorder = new QRecordingTransport(&m_Sim, nUid);
        QSmcControlMac smc(pRecorder);
        EXPECT_TRUE(smc.Open());
        QByteArray before, after;
        m_Sim.value(key, before);
        SMCVal_t val;
        memset(&val, 0, sizeof val);
        memcpy(val.key, key, 4);
        val.dataSize = uint32_t(value.size());
        memcpy(val.bytes, value.constData(), size_t(value.size()));
        EXPECT_EQ(smc.SMCWriteKey(val), result);
        SMCKeyData_t write = request(SmcCmdWriteBytes, key, uint32_t(value.size()));
        memcpy(write.bytes, value.constData(), size_t(value.size()));
        EXPECT_EQ(pRecorder->m_Sent.size(),
                  result == kSmcReturnNotFound ? 1 : 2 + (before.size() == value.size()));
        EXPECT_EQ(pRecorder->m_Sent.last() == structure(write), before.size() == value.size());
        m_Sim.value(key, after);
        EXPECT_EQ(after.toHex(), (result == 0 ? value : before).toHex());
    };
    row("F0Tg", "\x17\x70", 0, 0);
    row("F0Tg", "\x17\x70\x01", 0, kSmcReturnError);
    row("FS! ", "\x01", 0, kSmcReturnError);
    row("F9Tg", "\x17\x70", 0, kSmcReturnNotFound);
    row("#KEY", QByteArray("\0\0\0\x06", 4), 0, kSmcReturnNotPrivileged); // the count stays
    row("F0Tg", "\x17\x70", 501, kSmcReturnNotPrivileged);
    // The same through the key layer, as the closed-loop harness writes.
    m_Sim.setRootWritesOnly(false);
    m_Smc.useDirectWrites();
    EXPECT_EQ(m_Smc.WriteKey("F0Tg", reinterpret_cast<const uchar*>("\x2e\xe0"), 2), 0);
    EXPECT_EQ(m_Smc.WriteKey("FNum", reinterpret_cast<const uchar*>("\x2e\xe0"), 2), 0);
    QByteArray after;
    EXPECT_TRUE(m_Sim.value("F0Tg", after) && after == "\x2e\xe0");
    EXPECT_TRUE(m_Sim.value("FNum", after) && after == "\x01");
    m_Sim.setModel("Macmini5,1");
    EXPECT_EQ(m_Smc.machineModel(), QString("Macmini5,1"));
}

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
        EXPECT_EQ(lines.filter(QRegularExpression(QString("^ERROR.*") + logged)),
                  *logged ? lines : QStringList());
    };
    row(tool, true, "\x2e\xe0", "-k|FS! |-w|2ee0|/tmp/inherited.sock|", "");
    row(dir.filePath("missing"), true, "\x01", "-", "launchPath is nil");
    row(tool, false, "\x01", "-", "Exception caught: ");
}
