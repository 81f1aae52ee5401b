// The simulated controller in process: its answers to each call, privileges, faults and the
// directions of its fan and thermal model, driven by a manual clock.
#include "helpers/QClock.h"
#include "smc/sim/QSimSmc.h"
#include "smc/sim/QSmcTransportInProcess.h"
#include "support/QSimMachine.h"

#include <QtTest>

#include <cmath>
#include <cstring>

using SimMachineUtils::request;

namespace {

QByteArray rpm(int nRpm)
{
    QByteArray bytes(2, '\0');
    SimDumpUtils::encodeNumber("fpe2", nRpm, bytes);
    return bytes;
}

QByteArray celsius(double dValue)
{
    QByteArray bytes(2, '\0');
    SimDumpUtils::encodeNumber("sp78", dValue, bytes);
    return bytes;
}

// Two fans (1000..5000 and 1200..3000 RPM), processor and other sensors, a dead sensor, a float
// sensor and a few keys of other types: 18 keys and "#KEY".
QVector<QSimKey> smallTable()
{
    QByteArray floatBytes(4, '\0');
    SimDumpUtils::encodeNumber("flt ", 41.0, floatBytes);
    return {{"FNum", "ui8 ", QByteArray(1, 2)},
            {"FS! ", "ui16", QByteArray(2, 0), 0xD4},
            {"F0Ac", "fpe2", rpm(1000)},
            {"F0Mn", "fpe2", rpm(1000)},
            {"F0Mx", "fpe2", rpm(5000)},
            {"F0Tg", "fpe2", rpm(1000)},
            {"F1Ac", "fpe2", rpm(1200)},
            {"F1Mn", "fpe2", rpm(1200)},
            {"F1Mx", "fpe2", rpm(3000)},
            {"F1Tg", "fpe2", rpm(1200)},
            {"TC0P", "sp78", celsius(45.0)},
            {"TC0D", "sp78", celsius(48.0)},
            {"TA0P", "sp78", celsius(30.0)},
            {"TB2T", "sp78", celsius(0.0)},
            {"TCXC", "flt ", floatBytes},
            {"TCSC", "ui8 ", QByteArray(1, 4)},
            {"RPlt", "ch8*", "j42"},
            {"MSDW", "flag", QByteArray(), 0x80}};
}

QSimDynamicsParams quietParams(quint64 nSeed = 7)
{
    QSimDynamicsParams params;
    params.dAmbient = 24;
    params.nSeed = nSeed;
    params.dNoise = 0.1;
    params.dRampRpmPerSec = 500;
    params.dAutoLow = 50;
    params.dAutoHigh = 80;
    return params;
}

int writeKey(QSimSmc& sim, const char* keyName, const QByteArray& bytes, uint32_t nUid = 0)
{
    SMCKeyData_t input = request(SmcCmdWriteBytes, keyName, uint32_t(bytes.size()));
    std::memcpy(input.bytes, bytes.constData(), size_t(bytes.size()));
    SMCKeyData_t output;
    return sim.call(kSmcMethodSelector, input, output, nUid);
}

double readNumber(QSimSmc& sim, const char* keyName, const char* type = "fpe2", int nSize = 2)
{
    SMCKeyData_t output;
    double dValue = std::nan("");
    if (sim.call(kSmcMethodSelector, request(SmcCmdReadBytes, keyName, nSize), output) == 0)
        SimDumpUtils::decodeNumber(type, QByteArray(reinterpret_cast<char*>(output.bytes), nSize),
                                   dValue);
    return dValue;
}

} // namespace

class TestSimSmc : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void commands_data();
    void commands();
    void writes_data();
    void writes();
    void faults();
    void manualFanRampsToClampedTarget_data();
    void manualFanRampsToClampedTarget();
    void autoFanFollowsTemperature();
    void temperaturesFollowLoadAndAirflow();
    void sameSeedSameValues();

private:
    QManualClock m_Clock;
    QScopedPointer<QSimSmc> m_pSim;
};

void TestSimSmc::init()
{
    m_pSim.reset(new QSimSmc(&m_Clock));
    m_pSim->setKeys(smallTable(), quietParams());
}

void TestSimSmc::commands_data()
{
    QTest::addColumn<uint>("selector");
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<uint>("size");
    QTest::addColumn<uint>("index");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("answer"); // key|size|type|attributes|first four bytes
    QTest::newRow("read") << 2u << 5 << QByteArray("TC0P") << 2u << 0u << 0 << "TC0P|2||0|2d000000";
    QTest::newRow("read beyond the value")
        << 2u << 5 << QByteArray("FNum") << 4u << 0u << 0 << "FNum|1||0|02000000";
    QTest::newRow("read less") << 2u << 5 << QByteArray("F0Mx") << 1u << 0u << 0
                               << "F0Mx|1||0|4e000000";
    QTest::newRow("key count") << 2u << 5 << QByteArray("#KEY") << 4u << 0u << 0
                               << "#KEY|4||0|00000013";
    QTest::newRow("read unknown") << 2u << 5 << QByteArray("TX9Z") << 2u << 0u << kSmcReturnNotFound
                                  << "";
    QTest::newRow("read 33 bytes")
        << 2u << 5 << QByteArray("TC0P") << 33u << 0u << kSmcReturnBadArgument << "";
    QTest::newRow("key info") << 2u << 9 << QByteArray("FS! ") << 0u << 0u << 0
                              << "FS! |2|ui16|212|00000000";
    QTest::newRow("key info, size 0")
        << 2u << 9 << QByteArray("MSDW") << 0u << 0u << 0 << "MSDW|0|flag|128|00000000";
    QTest::newRow("key info unknown")
        << 2u << 9 << QByteArray("zzzz") << 0u << 0u << kSmcReturnNotFound << "";
    QTest::newRow("index 0") << 2u << 8 << QByteArray() << 0u << 0u << 0 << "#KEY|0||0|00000000";
    QTest::newRow("index sorted") << 2u << 8 << QByteArray() << 0u << 1u << 0
                                  << "F0Ac|0||0|00000000";
    QTest::newRow("last index") << 2u << 8 << QByteArray() << 0u << 18u << 0
                                << "TCXC|0||0|00000000";
    QTest::newRow("index past the end")
        << 2u << 8 << QByteArray() << 0u << 19u << kSmcReturnBadArgument << "";
    QTest::newRow("other selector")
        << 3u << 5 << QByteArray("TC0P") << 2u << 0u << kSmcReturnBadArgument << "";
    QTest::newRow("other command")
        << 2u << 7 << QByteArray("TC0P") << 2u << 0u << kSmcReturnBadArgument << "";
}

void TestSimSmc::commands()
{
    QFETCH(uint, selector);
    QFETCH(int, command);
    QFETCH(QByteArray, key);
    QFETCH(uint, size);
    QFETCH(uint, index);
    QFETCH(int, result);
    QFETCH(QString, answer);
    SMCKeyData_t output;
    std::memset(&output, 0xAB, sizeof output);
    const SMCKeyData_t input =
        request(uint8_t(command), key.isEmpty() ? nullptr : key.constData(), size, index);
    QCOMPARE(m_pSim->call(selector, input, output), result);
    if (result != 0)
        return;
    const QString type = output.dataType ? SimDumpUtils::unpackCode(output.dataType) : QString();
    QCOMPARE(QString("%1|%2|%3|%4|%5")
                 .arg(QString(SimDumpUtils::unpackCode(output.key)))
                 .arg(output.dataSize)
                 .arg(type)
                 .arg(output.dataAttributes)
                 .arg(QString(QByteArray(reinterpret_cast<char*>(output.bytes), 4).toHex())),
             answer);
}

void TestSimSmc::writes_data()
{
    QTest::addColumn<bool>("rootOnly");
    QTest::addColumn<uint>("uid");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("result");
    QTest::newRow("root") << true << 0u << QByteArray("F0Tg") << rpm(2500) << 0;
    QTest::newRow("user, root writes only")
        << true << 1000u << QByteArray("F0Tg") << rpm(2500) << kSmcReturnNotPrivileged;
    QTest::newRow("user, anyone writes") << false << 1000u << QByteArray("F0Tg") << rpm(2500) << 0;
    QTest::newRow("size mismatch")
        << false << 0u << QByteArray("F0Tg") << QByteArray(1, 9) << kSmcReturnError;
    QTest::newRow("too long") << false << 0u << QByteArray("F0Tg") << QByteArray(3, 9)
                              << kSmcReturnError;
    QTest::newRow("unknown key") << false << 0u << QByteArray("F9Tg") << rpm(2500)
                                 << kSmcReturnNotFound;
    QTest::newRow("key count") << false << 0u << QByteArray("#KEY") << QByteArray(4, 1)
                               << kSmcReturnNotPrivileged;
}

void TestSimSmc::writes()
{
    QFETCH(bool, rootOnly);
    QFETCH(uint, uid);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, bytes);
    QFETCH(int, result);
    m_pSim->setRootWritesOnly(rootOnly);
    QByteArray before, after;
    m_pSim->value(key, before);
    const quint64 nWrites = m_pSim->writeCount();
    QCOMPARE(writeKey(*m_pSim, key.constData(), bytes, uid), result);
    m_pSim->value(key, after);
    QCOMPARE(after.toHex(), (result == 0 ? bytes : before).toHex());
    QCOMPARE(m_pSim->writeCount() - nWrites, quint64(result == 0 ? 1 : 0));
    QCOMPARE(readNumber(*m_pSim, "FNum", "ui8 ", 1), 2.0); // reads never need privileges
}

void TestSimSmc::faults()
{
    m_pSim->setReadFault("TC0D", true);
    QVERIFY(std::isnan(readNumber(*m_pSim, "TC0D", "sp78")));
    QVERIFY(!std::isnan(readNumber(*m_pSim, "TC0P", "sp78")));
    m_pSim->setReadFault("TC0D", false);
    QVERIFY(!std::isnan(readNumber(*m_pSim, "TC0D", "sp78")));

    SMCKeyData_t output;
    m_pSim->setIndexFault(3, true);
    QCOMPARE(m_pSim->call(2, request(SmcCmdReadIndex, nullptr, 0, 3), output), kSmcReturnError);
    QCOMPARE(m_pSim->call(2, request(SmcCmdReadIndex, nullptr, 0, 4), output), 0);

    // A hot sensor reads with the high bit of its first byte set, while the model runs.
    m_pSim->setHotSensor("TC0P", 130.0);
    m_Clock.advanceSecs(5);
    QCOMPARE(readNumber(*m_pSim, "TC0P", "ui16"), double(0x8200));
    m_pSim->setHotSensor("TC0P", std::nan(""));
    m_Clock.advanceSecs(1);
    QVERIFY(readNumber(*m_pSim, "TC0P", "sp78") < 60);

    // A slow write is applied after its delay, and the lock is free meanwhile.
    m_pSim->setSlowWrite("FS! ", 4000);
    QList<int> delays;
    double dDuringDelay = -1;
    m_pSim->setSlowWriteHandler([&](int nMsecs) {
        delays << nMsecs;
        m_Clock.advanceMsecs(nMsecs);
        dDuringDelay = readNumber(*m_pSim, "FS! ", "ui16");
    });
    QCOMPARE(writeKey(*m_pSim, "FS! ", QByteArray("\x00\x01", 2)), 0);
    QCOMPARE(writeKey(*m_pSim, "F0Tg", rpm(2000)), 0);
    QCOMPARE(delays, QList<int>{4000});
    QCOMPARE(dDuringDelay, 0.0);
    QCOMPARE(readNumber(*m_pSim, "FS! ", "ui16"), 1.0);
}

void TestSimSmc::manualFanRampsToClampedTarget_data()
{
    QTest::addColumn<int>("fan");
    QTest::addColumn<int>("target");
    QTest::addColumn<int>("expected");
    QTest::newRow("inside the range") << 0 << 3000 << 3000;
    QTest::newRow("above the maximum") << 0 << 9000 << 5000;
    QTest::newRow("below the minimum") << 1 << 200 << 1200;
    QTest::newRow("second fan") << 1 << 2400 << 2400;
}

void TestSimSmc::manualFanRampsToClampedTarget()
{
    QFETCH(int, fan);
    QFETCH(int, target);
    QFETCH(int, expected);
    const QByteArray tg = "F" + QByteArray::number(fan) + "Tg";
    const QByteArray ac = "F" + QByteArray::number(fan) + "Ac";
    QCOMPARE(writeKey(*m_pSim, "FS! ", QByteArray(1, 0) + char(1 << fan)), 0);
    QCOMPARE(writeKey(*m_pSim, tg, rpm(target)), 0);
    const double dStart = readNumber(*m_pSim, ac);
    m_Clock.advanceSecs(1);
    const double dAfterOne = readNumber(*m_pSim, ac);
    // A bounded ramp (500 RPM a second) the right way.
    QVERIFY2(std::abs(dAfterOne - dStart) <= 500.5, qPrintable(QString::number(dAfterOne)));
    QVERIFY((expected - dStart) * (dAfterOne - dStart) >= 0);
    QCOMPARE(dAfterOne != dStart, expected != qRound(dStart));
    m_Clock.advanceSecs(60);
    QCOMPARE(qRound(readNumber(*m_pSim, ac)), expected);
    QCOMPARE(readNumber(*m_pSim, tg), double(target)); // stays as written
    // The other fan stayed automatic at an idle temperature: at its minimum.
    QCOMPARE(qRound(readNumber(*m_pSim, fan ? "F0Ac" : "F1Ac")), fan ? 1000 : 1200);
}

void TestSimSmc::autoFanFollowsTemperature()
{
    m_pSim->setLoadOverride(0.0);
    m_Clock.advanceSecs(120);
    QCOMPARE(qRound(readNumber(*m_pSim, "F0Ac")), 1000);
    m_pSim->setLoadOverride(1.0);
    double dPrevious = 1000;
    for (int i = 0; i < 10; ++i) {
        m_Clock.advanceSecs(30);
        const double dSpeed = readNumber(*m_pSim, "F0Ac");
        QVERIFY2(dSpeed >= dPrevious - 1, qPrintable(QString::number(dSpeed)));
        dPrevious = dSpeed;
    }
    // The curve's point for the hottest processor sensor; the target key is left alone.
    const double dHot = m_pSim->temperature("TC0D");
    QVERIFY(dHot > 55);
    QVERIFY(std::abs(dPrevious - (1000 + 4000 * qBound(0.0, (dHot - 50) / 30, 1.0))) < 60);
    QCOMPARE(readNumber(*m_pSim, "F0Tg"), 1000.0);
    m_pSim->setLoadOverride(0.0);
    m_Clock.advanceSecs(600);
    QVERIFY(readNumber(*m_pSim, "F0Ac") < 1100);
}

void TestSimSmc::temperaturesFollowLoadAndAirflow()
{
    // Same load, fans pinned at minimum in one machine and at maximum in the other.
    QSimSmc& slow = *m_pSim;
    QSimSmc fast(&m_Clock);
    fast.setKeys(smallTable(), quietParams());
    for (QSimSmc* pSim : {&slow, &fast}) {
        pSim->setLoadOverride(0.05);
        writeKey(*pSim, "FS! ", QByteArray("\x00\x03", 2));
    }
    writeKey(fast, "F0Tg", rpm(5000));
    writeKey(fast, "F1Tg", rpm(3000));
    const double dIdle = slow.temperature("TC0P");
    const double dIdleFloat = readNumber(slow, "TCXC", "flt ", 4);
    for (QSimSmc* pSim : {&slow, &fast})
        pSim->setLoadOverride(1.0);
    m_Clock.advanceSecs(300);
    const double dLoaded = slow.temperature("TC0P");
    QVERIFY2(dLoaded > dIdle + 10, qPrintable(QString::number(dLoaded)));
    QVERIFY(fast.temperature("TC0P") < dLoaded - 3);
    QVERIFY(fast.temperature("TA0P") < slow.temperature("TA0P"));
    QVERIFY(std::abs(readNumber(slow, "TC0P", "sp78") - dLoaded) <= 0.11); // within the noise
    QVERIFY(readNumber(slow, "TCXC", "flt ", 4) > dIdleFloat + 10);
    QCOMPARE(readNumber(slow, "TB2T", "sp78"), 0.0);    // a dead sensor stays dead
    QCOMPARE(readNumber(slow, "TCSC", "ui8 ", 1), 4.0); // a "T" key that is no temperature
    slow.setLoadOverride(0.05);
    m_Clock.advanceSecs(600);
    QVERIFY(std::abs(slow.temperature("TC0P") - dIdle) < 1.0);
}

// The same seed gives the same readings whatever the call pattern; another seed other noise.
void TestSimSmc::sameSeedSameValues()
{
    QManualClock clockB;
    QSimSmc b(&clockB), c(&m_Clock);
    b.setKeys(smallTable(), quietParams());
    c.setKeys(smallTable(), quietParams(12));
    int nDifferent = 0;
    for (int i = 0; i < 20; ++i) {
        m_Clock.advanceSecs(1);
        for (int j = 0; j < 10 + i; ++j)
            clockB.advanceMsecs(1000 / (10 + i) + (j < 1000 % (10 + i)));
        QCOMPARE(readNumber(*m_pSim, "TC0P", "sp78"), readNumber(b, "TC0P", "sp78"));
        nDifferent += readNumber(*m_pSim, "TA0P", "sp78") != readNumber(c, "TA0P", "sp78");
    }
    QVERIFY(nDifferent > 5);
}

QTEST_GUILESS_MAIN(TestSimSmc)
#include "tst_simsmc.moc"
