// The AppleSMC protocol backend: the calls it sends, what it makes of the answers, and the key
// layer on top of it against the in-process simulator loaded with every shipped profile.
#include "helpers/QClock.h"
#include "smc/QSmcControlMac.h"
#include "smc/SmcValueUtils.h"
#include "smc/sim/QSimProfile.h"
#include "smc/sim/QSimSmc.h"
#include "smc/sim/QSmcTransportInProcess.h"
#include "support/KeyIndexSearch.h"
#include "support/TestSupport.h"

#include <QtTest>

#include <cstring>
#include <set>

namespace {

// Passes calls on to a transport and records them; can answer a chosen command with a chosen
// code, or patch the reported size, to stand for a service that misbehaves.
class QRecordingTransport : public QSmcTransport
{
public:
    explicit QRecordingTransport(QSmcTransport* pInner) : m_pInner(pInner) {}

    bool open() override
    {
        ++m_nOpens;
        return m_pInner->open();
    }
    void close() override
    {
        ++m_nCloses;
        m_pInner->close();
    }
    int call(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output) override
    {
        m_Selectors.append(selector);
        m_Inputs.append(input);
        if (m_FailCommand.contains(input.command)) {
            memset(&output, 0x77, sizeof(output)); // garbage that must not be used
            return m_FailCommand.value(input.command);
        }
        const int nResult = m_pInner->call(selector, input, output);
        if (m_nPatchedSize >= 0 && input.command == SmcCmdReadKeyInfo)
            output.dataSize = static_cast<uint32_t>(m_nPatchedSize);
        return nResult;
    }
    QString machineModel() override { return m_pInner->machineModel(); }

    QList<uint8_t> commands() const
    {
        QList<uint8_t> result;
        for (const SMCKeyData_t& input : m_Inputs)
            result.append(input.command);
        return result;
    }

    std::unique_ptr<QSmcTransport> m_pInner;
    QList<uint32_t> m_Selectors;
    QList<SMCKeyData_t> m_Inputs;
    QHash<uint8_t, int> m_FailCommand;
    int m_nPatchedSize = -1;
    int m_nOpens = 0;
    int m_nCloses = 0;
};

QSimKey simKey(const QByteArray& key, const QByteArray& type, const QByteArray& bytes)
{
    QSimKey k;
    k.key = key;
    k.type = type;
    k.bytes = bytes;
    k.attributes = 0xD4;
    return k;
}

// A small controller: one fan, a mask, a temperature, a one-byte key.
QVector<QSimKey> smallTable()
{
    return {simKey("F0Ac", "fpe2", QByteArray("\x17\x70", 2)),
            simKey("F0Mn", "fpe2", QByteArray("\x07\xd0", 2)),
            simKey("F0Mx", "fpe2", QByteArray("\x17\x70", 2)),
            simKey("F0Tg", "fpe2", QByteArray("\x07\xd0", 2)),
            simKey("FNum", "ui8 ", QByteArray("\x01", 1)),
            simKey("FS! ", "ui16", QByteArray("\x00\x00", 2)),
            simKey("TC0P", "sp78", QByteArray("\x2d\x80", 2))};
}

bool allZero(const uint8_t* p, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (p[i] != 0)
            return false;
    }
    return true;
}

} // namespace

class TestSmcProtocol : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void readSendsInfoThenRead();
    void readCopiesAtMostTheValue_data();
    void readCopiesAtMostTheValue();
    void readFailures_data();
    void readFailures();
    void keyInfoByIndex();
    void keyInfoByIndexFailures_data();
    void keyInfoByIndexFailures();
    void writeHandsHexToWriter_data();
    void writeHandsHexToWriter();
    void directWrite_data();
    void directWrite();
    void directWritesThroughKeyLayer();
    void openCloseAndModel();
    void temperatureKeysOfProfiles_data();
    void temperatureKeysOfProfiles();

private:
    QManualClock m_Clock; // never stepped: the simulated values stay as set
    QSharedPointer<QSimSmc> m_pSim;
    QRecordingTransport* m_pRecorder = nullptr;
    std::unique_ptr<QSmcControlMac> m_pSmc;
};

void TestSmcProtocol::init()
{
    m_pSim = QSharedPointer<QSimSmc>::create(&m_Clock);
    m_pSim->setKeys(smallTable());
    m_pRecorder = new QRecordingTransport(new QSmcTransportInProcess(m_pSim));
    m_pSmc.reset(new QSmcControlMac(m_pRecorder));
    QVERIFY(m_pSmc->Open());
}

void TestSmcProtocol::cleanup()
{
    m_pSmc.reset();
    m_pSim.reset();
}

void TestSmcProtocol::readSendsInfoThenRead()
{
    SMCVal_t val;
    memset(&val, 0x55, sizeof(val));
    QCOMPARE(m_pSmc->SMCReadKey("TC0P", &val), 0);
    QCOMPARE(QByteArray(val.key), QByteArray("TC0P"));
    QCOMPARE(QByteArray(val.dataType), QByteArray("sp78"));
    QCOMPARE(val.dataSize, 2u);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(val.bytes), 4), QByteArray("\x2d\x80\0\0", 4));

    QCOMPARE(m_pRecorder->commands(), (QList<uint8_t>{SmcCmdReadKeyInfo, SmcCmdReadBytes}));
    QCOMPARE(m_pRecorder->m_Selectors, (QList<uint32_t>{2, 2}));
    const SMCKeyData_t& info = m_pRecorder->m_Inputs.at(0);
    const SMCKeyData_t& read = m_pRecorder->m_Inputs.at(1);
    QCOMPARE(info.key, 0x54433050u); // "TC0P", first character most significant
    QCOMPARE(info.dataSize, 0u);
    QCOMPARE(read.key, info.key);
    QCOMPARE(read.dataSize, 2u);
    for (const SMCKeyData_t& input : {info, read}) {
        QVERIFY(allZero(input.reserved0, sizeof(input.reserved0)));
        QVERIFY(allZero(input.reserved1, sizeof(input.reserved1)));
        QVERIFY(allZero(input.bytes, sizeof(input.bytes)));
        QCOMPARE(input.index, 0u);
    }
}

void TestSmcProtocol::readCopiesAtMostTheValue_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("1-byte key into 2 bytes")
        << QByteArray("FNum") << 2 << QByteArray("\x01\xee", 2);
    QTest::newRow("exact") << QByteArray("F0Ac") << 2 << QByteArray("\x17\x70\xee", 3);
    QTest::newRow("larger buffer") << QByteArray("F0Ac") << 4 << QByteArray("\x17\x70\xee\xee", 4);
    QTest::newRow("smaller buffer") << QByteArray("F0Ac") << 1 << QByteArray("\x17\xee", 2);
    QTest::newRow("size 0") << QByteArray("F0Ac") << 0 << QByteArray("\xee", 1);
}

void TestSmcProtocol::readCopiesAtMostTheValue()
{
    QFETCH(QByteArray, key);
    QFETCH(int, size);
    QFETCH(QByteArray, expected);
    unsigned char buffer[8];
    memset(buffer, 0xEE, sizeof(buffer));
    QCOMPARE(m_pSmc->ReadKey(key.constData(), buffer, static_cast<unsigned char>(size)), 0);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(buffer), expected.size()), expected);
}

void TestSmcProtocol::readFailures_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<int>("failingCommand");
    QTest::addColumn<int>("callsMade");
    QTest::newRow("unknown key") << QByteArray("ZZZZ") << -1 << 1;
    QTest::newRow("key information fails") << QByteArray("F0Ac") << int(SmcCmdReadKeyInfo) << 1;
    QTest::newRow("value read fails") << QByteArray("F0Ac") << int(SmcCmdReadBytes) << 2;
    QTest::newRow("read fault in the service") << QByteArray("TC0P") << -2 << 2;
}

void TestSmcProtocol::readFailures()
{
    QFETCH(QByteArray, key);
    QFETCH(int, failingCommand);
    QFETCH(int, callsMade);
    if (failingCommand >= 0)
        m_pRecorder->m_FailCommand.insert(static_cast<uint8_t>(failingCommand), kSmcReturnError);
    if (failingCommand == -2)
        m_pSim->setReadFault(key, true);

    unsigned char buffer[4] = {0, 0, 0, 0};
    QCOMPARE(m_pSmc->ReadKey(key.constData(), buffer, 4), -1);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(buffer), 4), QByteArray(4, '\0'));
    QCOMPARE(m_pRecorder->m_Inputs.size(), callsMade);
}

void TestSmcProtocol::keyInfoByIndex()
{
    // The table is sorted: #KEY, F0Ac, F0Mn, F0Mx, F0Tg, FNum, "FS! ", TC0P.
    applesmc_entry entry;
    memset(&entry, 0, sizeof(entry));
    QCOMPARE(m_pSmc->OS_GetKeyInfoByIndex(6, &entry), 0);
    QCOMPARE(QByteArray(entry.key), QByteArray("FS! "));
    QCOMPARE(QByteArray(entry.dataType), QByteArray("ui16"));
    QCOMPARE(int(entry.dataSize), 2);
    QCOMPARE(int(entry.attributes), 0xD4);
    QCOMPARE(int(entry.valid), 1);

    QCOMPARE(m_pRecorder->commands(), (QList<uint8_t>{SmcCmdReadIndex, SmcCmdReadKeyInfo}));
    QCOMPARE(m_pRecorder->m_Inputs.at(0).index, 6u);
    QCOMPARE(m_pRecorder->m_Inputs.at(0).key, 0u);
    QCOMPARE(m_pRecorder->m_Inputs.at(1).key, 0x46532120u); // "FS! " with its blank
    QCOMPARE(m_pRecorder->m_Inputs.at(1).index, 6u);        // the index field stays

    // Only the low byte of a size is recorded.
    m_pRecorder->m_nPatchedSize = 300;
    QCOMPARE(m_pSmc->OS_GetKeyInfoByIndex(6, &entry), 0);
    QCOMPARE(int(entry.dataSize), 44);
}

void TestSmcProtocol::keyInfoByIndexFailures_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("failingCommand");
    QTest::addColumn<int>("failureCode");
    QTest::addColumn<int>("result");
    QTest::newRow("index out of range") << 99 << -1 << 0 << -1;
    QTest::newRow("key at index fails") << 2 << int(SmcCmdReadIndex) << kSmcReturnNotFound << -1;
    QTest::newRow("key information fails")
        << 2 << int(SmcCmdReadKeyInfo) << kSmcReturnNotFound << kSmcReturnNotFound;
    QTest::newRow("index fault in the service") << 3 << -2 << 0 << -1;
}

void TestSmcProtocol::keyInfoByIndexFailures()
{
    QFETCH(int, index);
    QFETCH(int, failingCommand);
    QFETCH(int, failureCode);
    QFETCH(int, result);
    if (failingCommand >= 0)
        m_pRecorder->m_FailCommand.insert(static_cast<uint8_t>(failingCommand), failureCode);
    if (failingCommand == -2)
        m_pSim->setIndexFault(index, true);

    applesmc_entry entry;
    memset(&entry, 0, sizeof(entry));
    QCOMPARE(m_pSmc->OS_GetKeyInfoByIndex(index, &entry), result);
    QCOMPARE(int(entry.valid), 0);

    // Through the key layer the record is not cached and is asked for again next time.
    m_pSmc->LoadRegisters();
    const int nCalls = m_pRecorder->m_Inputs.size();
    QVERIFY(!m_pSmc->applesmc_get_entry_by_index(index));
    QVERIFY(!m_pSmc->applesmc_get_entry_by_index(index));
    if (quint32(index) < m_pSmc->keyCount())
        QVERIFY(m_pRecorder->m_Inputs.size() >= nCalls + 2);
}

void TestSmcProtocol::writeHandsHexToWriter_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("fan target") << QByteArray("F0Tg") << QByteArray("\x17\x70", 2) << "1770";
    QTest::newRow("mask with blank key")
        << QByteArray("FS! ") << QByteArray("\x00\x03", 2) << "0003";
    QTest::newRow("empty value") << QByteArray("F0Tg") << QByteArray() << "";
    QTest::newRow("32 bytes")
        << QByteArray("F0Tg") << QByteArray(32, '\xab')
        << QString(32, QLatin1Char('a')).replace(QLatin1String("a"), QLatin1String("ab"));
}

void TestSmcProtocol::writeHandsHexToWriter()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QFETCH(QString, text);
    QStringList calls;
    m_pSmc->setWriter([&](const QString& k, const QString& v) { calls << k << v; });
    QCOMPARE(m_pSmc->WriteKey(key.constData(),
                              reinterpret_cast<const unsigned char*>(value.constData()),
                              static_cast<unsigned char>(value.size())),
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
    QTest::addColumn<bool>("writeSent");
    QTest::newRow("fan target") << QByteArray("F0Tg") << QByteArray("\x17\x70", 2) << 0u << 0
                                << true;
    QTest::newRow("size mismatch")
        << QByteArray("F0Tg") << QByteArray("\x17\x70\x00", 3) << 0u << kSmcReturnError << false;
    QTest::newRow("one byte for two")
        << QByteArray("FS! ") << QByteArray("\x01", 1) << 0u << kSmcReturnError << false;
    QTest::newRow("unknown key") << QByteArray("F9Tg") << QByteArray("\x17\x70", 2) << 0u
                                 << kSmcReturnNotFound << false;
    QTest::newRow("service wants root") << QByteArray("F0Tg") << QByteArray("\x17\x70", 2) << 1000u
                                        << kSmcReturnNotPrivileged << true;
}

void TestSmcProtocol::directWrite()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QFETCH(uint, uid);
    QFETCH(int, result);
    QFETCH(bool, writeSent);

    m_pSim->setRootWritesOnly(true);
    QSmcControlMac smc(new QRecordingTransport(new QSmcTransportInProcess(m_pSim, uid)));
    QVERIFY(smc.Open());
    auto* pRecorder = static_cast<QRecordingTransport*>(smc.transport());
    QByteArray before;
    m_pSim->value(key, before);

    SMCVal_t val;
    memset(&val, 0, sizeof(val));
    memcpy(val.key, key.constData(), 4);
    val.dataSize = static_cast<uint32_t>(value.size());
    memcpy(val.bytes, value.constData(), static_cast<size_t>(value.size()));
    QCOMPARE(smc.SMCWriteKey(val), result);

    QCOMPARE(pRecorder->commands().contains(SmcCmdWriteBytes), writeSent);
    if (writeSent) {
        const SMCKeyData_t& write = pRecorder->m_Inputs.last();
        QCOMPARE(write.command, uint8_t(SmcCmdWriteBytes));
        QCOMPARE(write.key, SmcValueUtils::_strtoul(key.constData(), 4));
        QCOMPARE(write.dataSize, uint32_t(value.size()));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(write.bytes), value.size()), value);
    }
    QByteArray after;
    m_pSim->value(key, after);
    QCOMPARE(after, result == 0 ? value : before);
}

// The closed-loop path: the key layer's writes go through SMCWriteKey in-process.
void TestSmcProtocol::directWritesThroughKeyLayer()
{
    m_pSmc->useDirectWrites();
    unsigned char target[2];
    SmcValueUtils::encodeFanSpeed(3000, target);
    QCOMPARE(m_pSmc->WriteKey("F0Tg", target, 2), 0);
    unsigned char mask[2];
    SmcValueUtils::encodeFanModeMask(0x01, mask);
    QCOMPARE(m_pSmc->WriteKey("FS! ", mask, 2), 0);

    unsigned char readBack[2] = {0, 0};
    QCOMPARE(m_pSmc->ReadKey("F0Tg", readBack, 2), 0);
    QCOMPARE(SmcValueUtils::decodeFanSpeed(readBack), 3000);
    QCOMPARE(m_pSmc->ReadKey("FS! ", readBack, 2), 0);
    QVERIFY(SmcValueUtils::isFanManual(readBack, 0));

    // A wrong size is refused by the read-first check and changes nothing.
    QCOMPARE(m_pSmc->WriteKey("FNum", target, 2), 0);
    QCOMPARE(m_pSmc->ReadKey("FNum", readBack, 1), 0);
    QCOMPARE(int(readBack[0]), 1);
}

void TestSmcProtocol::openCloseAndModel()
{
    m_pSim->setModel(QStringLiteral("Macmini5,1"));
    QCOMPARE(m_pSmc->machineModel(), QStringLiteral("Macmini5,1"));
    QCOMPARE(m_pRecorder->m_nOpens, 1);
    m_pSmc->Close();
    QCOMPARE(m_pRecorder->m_nCloses, 1);
    unsigned char buffer[2] = {0, 0};
    QCOMPARE(m_pSmc->ReadKey("F0Ac", buffer, 2), -1); // a closed connection reads nothing

    QSmcControlMac none(nullptr);
    QVERIFY(!none.Open());
    QCOMPARE(none.ReadKey("F0Ac", buffer, 2), -1);
    QVERIFY(none.machineModel().isEmpty());
}

void TestSmcProtocol::temperatureKeysOfProfiles_data()
{
    QTest::addColumn<QString>("profile");
    const QStringList dirs = {TestSupport::profilesDir()};
    const QStringList files =
        QDir(TestSupport::profilesDir()).entryList({QStringLiteral("*.profile")}, QDir::Files);
    QVERIFY2(files.size() >= 4, qPrintable(TestSupport::profilesDir()));
    for (const QString& file : files)
        QTest::newRow(qPrintable(file)) << QDir(TestSupport::profilesDir()).filePath(file);
}

// On every shipped machine: exactly the "T" keys of type sp78, in key-index order, for one
// "#KEY" read plus one fetch per record the searches and the range walk need (two service
// calls each).
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
    QVERIFY(!expected.isEmpty());
    std::set<int> visited;
    const unsigned first = referenceLowerBound(table, "T", visited);
    const unsigned last = referenceLowerBound(table, "U", visited);
    for (unsigned i = first; i < last; ++i)
        visited.insert(static_cast<int>(i));

    auto pSim = QSharedPointer<QSimSmc>::create(&m_Clock);
    QVERIFY2(pSim->loadProfile(loaded, &error), qPrintable(error));
    QSmcControlMac smc(new QSmcTransportInProcess(pSim));
    QVERIFY(smc.Open());
    const quint64 nCallsBefore = pSim->callCount();
    QVector<QString> found;
    smc.LoadTempSensors(found);
    QCOMPARE(QStringList(found.toList()), expected);
    QCOMPARE(smc.keyCount(), quint32(table.size()));
    QCOMPARE(pSim->callCount() - nCallsBefore, quint64(2 * (1 + visited.size())));
}

QTEST_GUILESS_MAIN(TestSmcProtocol)
#include "tst_smcprotocol.moc"
