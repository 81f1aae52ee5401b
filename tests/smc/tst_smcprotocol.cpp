// The AppleSMC protocol backend: the call structures it sends, what it makes of the answers,
// and the key layer on top of it against the in-process simulator with every shipped profile.
#include "helpers/QClock.h"
#include "smc/QSmcControlMac.h"
#include "smc/SmcValueUtils.h"
#include "smc/sim/QSimProfile.h"
#include "smc/sim/QSmcTransportInProcess.h"
#include "support/KeyIndexSearch.h"
#include "support/QSimMachine.h"
#include "support/TestSupport.h"

#include <QtTest>

#include <cstring>
#include <set>

using SimMachineUtils::request;

namespace {

// Passes calls on to the simulator and records them; answers a chosen command with a chosen
// code and garbage, or patches the reported size, to stand for a service that misbehaves.
class QRecordingTransport : public QSmcTransportInProcess
{
public:
    using QSmcTransportInProcess::QSmcTransportInProcess;
    int call(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output) override
    {
        m_Selectors.append(selector);
        m_Inputs.append(input);
        if (input.command == m_nFailCommand) {
            memset(&output, 0x77, sizeof(output));
            return m_nFailCode;
        }
        const int nResult = QSmcTransportInProcess::call(selector, input, output);
        if (m_nPatchedSize >= 0 && input.command == SmcCmdReadKeyInfo)
            output.dataSize = uint32_t(m_nPatchedSize);
        return nResult;
    }
    QList<uint32_t> m_Selectors;
    QList<SMCKeyData_t> m_Inputs;
    int m_nFailCommand = -1;
    int m_nFailCode = kSmcReturnError;
    int m_nPatchedSize = -1;
};

QSimKey simKey(const QByteArray& key, const QByteArray& type, const QByteArray& bytes)
{
    return QSimKey{key, type, bytes, 0xD4};
}

// Compares a sent structure with the expected one byte for byte (reserved fields included).
bool sameStructure(const SMCKeyData_t& sent, const SMCKeyData_t& expected)
{
    return memcmp(&sent, &expected, sizeof sent) == 0;
}

} // namespace

class TestSmcProtocol : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readKey_data();
    void readKey();
    void keyInfoByIndex_data();
    void keyInfoByIndex();
    void writeHandsHexToWriter_data();
    void writeHandsHexToWriter();
    void directWrite_data();
    void directWrite();
    void temperatureKeysOfProfiles_data();
    void temperatureKeysOfProfiles();

private:
    QManualClock m_Clock; // never stepped: the simulated values stay as set
    QSimSmc m_Sim{&m_Clock};
    QRecordingTransport* m_pRecorder = nullptr;
    std::unique_ptr<QSmcControlMac> m_pSmc;
};

void TestSmcProtocol::init()
{
    m_Sim.setKeys({simKey("F0Mx", "fpe2", "\x17\x70"), simKey("F0Tg", "fpe2", "\x07\xd0"),
                   simKey("FNum", "ui8 ", "\x01"), simKey("FS! ", "ui16", QByteArray(2, 0)),
                   simKey("TC0P", "sp78", "\x2d\x80")});
    m_Sim.setRootWritesOnly(false);
    m_Sim.setModel("Macmini5,1");
    m_pRecorder = new QRecordingTransport(&m_Sim);
    m_pSmc.reset(new QSmcControlMac(m_pRecorder));
    QVERIFY(m_pSmc->Open());
}

void TestSmcProtocol::readKey_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("failCommand");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("buffer");
    QTest::newRow("temperature") << QByteArray("TC0P") << 2 << -1 << 0
                                 << QByteArray("\x2d\x80\xee");
    QTest::newRow("buffer larger")
        << QByteArray("FNum") << 2 << -1 << 0 << QByteArray("\x01\xee\xee");
    QTest::newRow("buffer smaller")
        << QByteArray("F0Mx") << 1 << -1 << 0 << QByteArray("\x17\xee\xee");
    QTest::newRow("unknown key") << QByteArray("TX9Z") << 2 << -1 << -1
                                 << QByteArray("\xee\xee\xee");
    QTest::newRow("info call fails")
        << QByteArray("TC0P") << 2 << 9 << -1 << QByteArray("\xee\xee\xee");
    QTest::newRow("read call fails")
        << QByteArray("TC0P") << 2 << 5 << -1 << QByteArray("\xee\xee\xee");
}

// Key information, then the value with the reported size; only what fits is copied.
void TestSmcProtocol::readKey()
{
    QFETCH(QByteArray, key);
    QFETCH(int, size);
    QFETCH(int, failCommand);
    QFETCH(int, result);
    QFETCH(QByteArray, buffer);
    m_pRecorder->m_nFailCommand = failCommand;
    unsigned char out[3] = {0xEE, 0xEE, 0xEE};
    QCOMPARE(m_pSmc->ReadKey(key.constData(), out, uchar(size)), result);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(out), 3).toHex(), buffer.toHex());
    const int nCalls = m_pRecorder->m_Inputs.size();
    QCOMPARE(nCalls, failCommand == 9 || key == "TX9Z" ? 1 : 2);
    QCOMPARE(m_pRecorder->m_Selectors, (QList<uint32_t>{2u, 2u}.mid(0, nCalls)));
    QVERIFY(sameStructure(m_pRecorder->m_Inputs.at(0), request(SmcCmdReadKeyInfo, key)));
    if (nCalls == 2) {
        QByteArray value;
        m_Sim.value(key, value);
        QVERIFY(sameStructure(m_pRecorder->m_Inputs.at(1),
                              request(SmcCmdReadBytes, key, uint32_t(value.size()))));
    }
}

void TestSmcProtocol::keyInfoByIndex_data()
{
    QTest::addColumn<int>("failCommand");
    QTest::addColumn<int>("patchedSize");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("size");
    QTest::newRow("found") << -1 << -1 << 0 << 2;
    QTest::newRow("size beyond a byte keeps the low byte") << -1 << 300 << 0 << 44;
    QTest::newRow("index call fails") << 8 << -1 << -1 << 0;
    QTest::newRow("info call fails with its code") << 9 << -1 << kSmcReturnError << 0;
}

void TestSmcProtocol::keyInfoByIndex()
{
    QFETCH(int, failCommand);
    QFETCH(int, patchedSize);
    QFETCH(int, result);
    QFETCH(int, size);
    m_pRecorder->m_nFailCommand = failCommand;
    m_pRecorder->m_nPatchedSize = patchedSize;
    applesmc_entry entry;
    memset(&entry, 0, sizeof entry);
    QCOMPARE(m_pSmc->OS_GetKeyInfoByIndex(4, &entry), result); // "#KEY" is index 0
    QVERIFY(sameStructure(m_pRecorder->m_Inputs.at(0), request(SmcCmdReadIndex, nullptr, 0, 4)));
    if (failCommand != 8) // the index stays in the second structure
        QVERIFY(
            sameStructure(m_pRecorder->m_Inputs.at(1), request(SmcCmdReadKeyInfo, "FS! ", 0, 4)));
    QCOMPARE(m_pRecorder->m_Inputs.size(), failCommand == 8 ? 1 : 2);
    applesmc_entry expected;
    memset(&expected, 0, sizeof expected);
    if (result == 0)
        expected = applesmc_entry{"FS! ", 1, uint8_t(size), "ui16", 0xD4};
    QCOMPARE(QByteArray(reinterpret_cast<char*>(&entry), 13).toHex(),
             QByteArray(reinterpret_cast<char*>(&expected), 13).toHex());
}

void TestSmcProtocol::writeHandsHexToWriter_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("fan target") << QByteArray("F0Tg") << QByteArray("\x17\x70") << "1770";
    QTest::newRow("mask key ends in a blank")
        << QByteArray("FS! ") << QByteArray("\x00\x03", 2) << "0003";
    QTest::newRow("empty value") << QByteArray("F0Tg") << QByteArray() << "";
    QTest::newRow("32 bytes") << QByteArray("F0Tg") << QByteArray(32, '\x0b')
                              << QString(32, 'x').replace("x", "0b");
}

void TestSmcProtocol::writeHandsHexToWriter()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QFETCH(QString, text);
    QStringList calls;
    m_pSmc->setWriter([&](const QString& k, const QString& v) { calls << k << v; });
    QCOMPARE(m_pSmc->WriteKey(key.constData(), reinterpret_cast<const uchar*>(value.constData()),
                              uchar(value.size())),
             0);
    QCOMPARE(calls, (QStringList{QString::fromLatin1(key), text}));
    QVERIFY(m_pRecorder->m_Inputs.isEmpty()); // the program never writes to the service itself
}

void TestSmcProtocol::directWrite_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<uint>("uid");
    QTest::addColumn<int>("result");
    QTest::newRow("fan target") << QByteArray("F0Tg") << QByteArray("\x17\x70") << 0u << 0;
    QTest::newRow("size mismatch")
        << QByteArray("F0Tg") << QByteArray("\x17\x70\x01") << 0u << kSmcReturnError;
    QTest::newRow("one byte for two")
        << QByteArray("FS! ") << QByteArray("\x01") << 0u << kSmcReturnError;
    QTest::newRow("unknown key") << QByteArray("F9Tg") << QByteArray("\x17\x70") << 0u
                                 << kSmcReturnNotFound;
    QTest::newRow("service wants root")
        << QByteArray("F0Tg") << QByteArray("\x17\x70") << 501u << kSmcReturnNotPrivileged;
}

// The tool's write: the key is read first, a size that differs writes nothing.
void TestSmcProtocol::directWrite()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QFETCH(uint, uid);
    QFETCH(int, result);
    m_Sim.setRootWritesOnly(true);
    auto* pRecorder = new QRecordingTransport(&m_Sim, uid);
    QSmcControlMac smc(pRecorder);
    QVERIFY(smc.Open());
    QByteArray before;
    m_Sim.value(key, before);
    SMCVal_t val;
    memset(&val, 0, sizeof val);
    memcpy(val.key, key.constData(), 4);
    val.dataSize = uint32_t(value.size());
    memcpy(val.bytes, value.constData(), size_t(value.size()));
    QCOMPARE(smc.SMCWriteKey(val), result);

    const bool bSent = result == 0 || result == kSmcReturnNotPrivileged;
    QCOMPARE(pRecorder->m_Inputs.size(), bSent ? 3 : (result == kSmcReturnNotFound ? 1 : 2));
    if (bSent) {
        SMCKeyData_t expected = request(SmcCmdWriteBytes, key, uint32_t(value.size()));
        memcpy(expected.bytes, value.constData(), size_t(value.size()));
        QVERIFY(sameStructure(pRecorder->m_Inputs.last(), expected));
    }
    QByteArray after;
    m_Sim.value(key, after);
    QCOMPARE(after.toHex(), (result == 0 ? value : before).toHex());

    // The same through the key layer, as the closed-loop harness writes.
    m_Sim.setRootWritesOnly(false);
    m_pSmc->useDirectWrites();
    QCOMPARE(m_pSmc->WriteKey(key.constData(), reinterpret_cast<const uchar*>(value.constData()),
                              uchar(value.size())),
             0);
    m_Sim.value(key, after);
    QCOMPARE(after.toHex(), (result == 0 || uid ? value : before).toHex());
}

void TestSmcProtocol::temperatureKeysOfProfiles_data()
{
    QTest::addColumn<QString>("profile");
    const QDir dir(TestSupport::profilesDir());
    const QStringList files = dir.entryList({"*.profile"}, QDir::Files);
    QVERIFY(files.size() >= 4);
    for (const QString& file : files)
        QTest::newRow(qPrintable(file)) << dir.filePath(file);
}

// On every shipped machine: exactly the "T" keys of type sp78, in key-index order, for one
// "#KEY" read plus one fetch per record the searches and the range walk need (two calls each).
void TestSmcProtocol::temperatureKeysOfProfiles()
{
    QFETCH(QString, profile);
    QSimProfile loaded;
    QString error;
    QVERIFY2(QSimProfile::load(profile, loaded, &error), qPrintable(error));
    QVector<QSimKey> table;
    QVERIFY2(SimDumpUtils::loadDumpFile(loaded.dumpPath, table, &error), qPrintable(error));
    QStringList expected;
    for (const QSimKey& k : table) {
        if (k.key.startsWith('T') && k.type == "sp78")
            expected << QString::fromLatin1(k.key);
    }
    std::set<int> visited;
    const unsigned first = referenceLowerBound(table, "T", visited);
    const unsigned last = referenceLowerBound(table, "U", visited);
    for (unsigned i = first; i < last; ++i)
        visited.insert(int(i));

    QVERIFY2(m_Sim.loadProfile(loaded, &error), qPrintable(error));
    const quint64 nCallsBefore = m_Sim.callCount();
    QVector<QString> found;
    m_pSmc->LoadTempSensors(found);
    QCOMPARE(QStringList(found.toList()), expected);
    QCOMPARE(m_pSmc->keyCount(), quint32(table.size()));
    QCOMPARE(m_Sim.callCount() - nCallsBefore, quint64(2 * (1 + visited.size())));
    QCOMPARE(m_pSmc->machineModel(), loaded.model);
}

QTEST_GUILESS_MAIN(TestSmcProtocol)
#include "tst_smcprotocol.moc"
