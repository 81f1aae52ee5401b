// The simulated controller in process: its answers to each call, privileges, faults and the
// fan and thermal model driven by a manual clock.

#include "helpers/QClock.h"
#include "smc/sim/QSimSmc.h"
#include "smc/sim/QSmcTransportInProcess.h"

#include "support/QSimMachine.h"

#include <QtTest>

#include <cmath>
#include <cstring>

namespace {

QSimKey key(const char* name, const char* type, const QByteArray& bytes)
{
    QSimKey k;
    k.key = name;
    k.type = type;
    k.bytes = bytes;
    return k;
}

QByteArray rpm(int nRpm)
{
    return QByteArray::fromHex(QByteArray::number(nRpm * 4, 16).rightJustified(4, '0'));
}

QByteArray celsius(double dValue)
{
    QByteArray bytes(2, '\0');
    SimDumpUtils::encodeNumber("sp78", dValue, bytes);
    return bytes;
}

// Two fans (1000..5000 and 1200..3000 RPM), processor and other sensors, a dead sensor, a float
// sensor and a few keys of other types.
QVector<QSimKey> smallTable()
{
    QByteArray floatBytes(4, '\0');
    SimDumpUtils::encodeNumber("flt ", 41.0, floatBytes);
    return {key("FNum", "ui8 ", QByteArray(1, 2)),
            key("FS! ", "ui16", QByteArray(2, 0)),
            key("F0Ac", "fpe2", rpm(1000)),
            key("F0Mn", "fpe2", rpm(1000)),
            key("F0Mx", "fpe2", rpm(5000)),
            key("F0Tg", "fpe2", rpm(1000)),
            key("F1Ac", "fpe2", rpm(1200)),
            key("F1Mn", "fpe2", rpm(1200)),
            key("F1Mx", "fpe2", rpm(3000)),
            key("F1Tg", "fpe2", rpm(1200)),
            key("TC0P", "sp78", celsius(45.0)),
            key("TC0D", "sp78", celsius(48.0)),
            key("TA0P", "sp78", celsius(30.0)),
            key("TB2T", "sp78", celsius(0.0)),
            key("TCXC", "flt ", floatBytes),
            key("TCSC", "ui8 ", QByteArray(1, 4)),
            key("RPlt", "ch8*", QByteArray("j42\0\0", 5)),
            key("MSDW", "flag", QByteArray())};
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

using SimMachineUtils::request;

int writeKey(QSimSmc& sim, const char* keyName, const QByteArray& bytes, uint32_t nUid = 0)
{
    SMCKeyData_t input = request(SmcCmdWriteBytes, keyName, static_cast<uint32_t>(bytes.size()));
    std::memcpy(input.bytes, bytes.constData(), static_cast<size_t>(bytes.size()));
    SMCKeyData_t output;
    return sim.call(kSmcMethodSelector, input, output, nUid);
}

QByteArray readKey(QSimSmc& sim, const char* keyName, int nSize = 2)
{
    SMCKeyData_t output;
    if (sim.call(kSmcMethodSelector, request(SmcCmdReadBytes, keyName, nSize), output) != 0)
        return QByteArray("failed");
    return QByteArray(reinterpret_cast<const char*>(output.bytes), nSize);
}

double readNumber(QSimSmc& sim, const char* keyName, const char* type, int nSize = 2)
{
    double dValue = std::nan("");
    SimDumpUtils::decodeNumber(type, readKey(sim, keyName, nSize), dValue);
    return dValue;
}

} // namespace

class TestSimSmc : public QObject
{
    Q_OBJECT

private slots:
    void commands_data();
    void commands();
    void writes_data();
    void writes();
    void countersCountEveryCall();
    void faults();
    void slowWriteRunsOutsideTheLock();
    void manualFanRampsToClampedTarget_data();
    void manualFanRampsToClampedTarget();
    void autoFanFollowsTemperature();
    void temperaturesFollowLoadAndAirflow();
    void sameSeedSameValues();
    void resultDoesNotDependOnCallPattern();
    void loadSchedule();
    void inProcessTransport();
};

void TestSimSmc::commands_data()
{
    QTest::addColumn<uint32_t>("selector");
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<uint32_t>("size");
    QTest::addColumn<uint32_t>("index");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("outKey");
    QTest::addColumn<uint32_t>("outSize");
    QTest::addColumn<QByteArray>("outType");
    QTest::addColumn<QByteArray>("outBytes");

    const uint32_t sel = kSmcMethodSelector;
    // The table has 19 keys: 18 above and "#KEY".
    QTest::newRow("read") << sel << 5 << QByteArray("TC0P") << 2u << 0u << 0 << QByteArray("TC0P")
                          << 2u << QByteArray() << QByteArray("\x2d\x00", 2);
    QTest::newRow("read more than the value")
        << sel << 5 << QByteArray("FNum") << 4u << 0u << 0 << QByteArray("FNum") << 1u
        << QByteArray() << QByteArray("\x02\x00", 2);
    QTest::newRow("read less than the value")
        << sel << 5 << QByteArray("F0Mx") << 1u << 0u << 0 << QByteArray("F0Mx") << 1u
        << QByteArray() << QByteArray("\x4e\x00", 2);
    QTest::newRow("read key count")
        << sel << 5 << QByteArray("#KEY") << 4u << 0u << 0 << QByteArray("#KEY") << 4u
        << QByteArray() << QByteArray("\x00\x00\x00\x13", 4);
    QTest::newRow("read unknown") << sel << 5 << QByteArray("TX9Z") << 2u << 0u << kSmcReturnNotFound
                                  << QByteArray() << 0u << QByteArray() << QByteArray();
    QTest::newRow("read 33 bytes")
        << sel << 5 << QByteArray("TC0P") << 33u << 0u << kSmcReturnBadArgument << QByteArray() << 0u
        << QByteArray() << QByteArray();
    QTest::newRow("key info") << sel << 9 << QByteArray("FS! ") << 0u << 0u << 0
                              << QByteArray("FS! ") << 2u << QByteArray("ui16") << QByteArray();
    QTest::newRow("key info of size 0")
        << sel << 9 << QByteArray("MSDW") << 0u << 0u << 0 << QByteArray("MSDW") << 0u
        << QByteArray("flag") << QByteArray();
    QTest::newRow("key info unknown")
        << sel << 9 << QByteArray("zzzz") << 0u << 0u << kSmcReturnNotFound << QByteArray() << 0u
        << QByteArray() << QByteArray();
    QTest::newRow("index 0") << sel << 8 << QByteArray() << 0u << 0u << 0 << QByteArray("#KEY")
                             << 0u << QByteArray() << QByteArray();
    QTest::newRow("index sorted") << sel << 8 << QByteArray() << 0u << 1u << 0 << QByteArray("F0Ac")
                                  << 0u << QByteArray() << QByteArray();
    QTest::newRow("last index") << sel << 8 << QByteArray() << 0u << 18u << 0 << QByteArray("TCXC")
                                << 0u << QByteArray() << QByteArray();
    QTest::newRow("index past the end")
        << sel << 8 << QByteArray() << 0u << 19u << kSmcReturnBadArgument << QByteArray() << 0u
        << QByteArray() << QByteArray();
    QTest::newRow("other selector")
        << 3u << 5 << QByteArray("TC0P") << 2u << 0u << kSmcReturnBadArgument << QByteArray() << 0u
        << QByteArray() << QByteArray();
    QTest::newRow("other command")
        << sel << 7 << QByteArray("TC0P") << 2u << 0u << kSmcReturnBadArgument << QByteArray("TC0P")
        << 0u << QByteArray() << QByteArray();
}

void TestSimSmc::commands()
{
    QFETCH(uint32_t, selector);
    QFETCH(int, command);
    QFETCH(QByteArray, key);
    QFETCH(uint32_t, size);
    QFETCH(uint32_t, index);
    QFETCH(int, result);
    QFETCH(QByteArray, outKey);
    QFETCH(uint32_t, outSize);
    QFETCH(QByteArray, outType);
    QFETCH(QByteArray, outBytes);

    QManualClock clock;
    QSimSmc sim(&clock);
    sim.setKeys(smallTable(), quietParams());
    SMCKeyData_t input = request(static_cast<uint8_t>(command),
                                 key.isEmpty() ? nullptr : key.constData(), size, index);
    SMCKeyData_t output;
    std::memset(&output, 0xAB, sizeof output);
    QCOMPARE(sim.call(selector, input, output), result);
    if (result != 0 && outKey.isEmpty())
        return;
    QCOMPARE(SimDumpUtils::unpackCode(output.key), outKey);
    QCOMPARE(output.dataSize, outSize);
    if (!outType.isEmpty()) {
        QCOMPARE(SimDumpUtils::unpackCode(output.dataType), outType);
        // The fan-mode mask is writable, a flag of the table only readable.
        QCOMPARE(output.dataAttributes, quint8(key == "FS! " ? 0xD4 : 0x80));
    }
    if (!outBytes.isEmpty())
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(output.bytes), outBytes.size()).toHex(),
                 outBytes.toHex());
}

void TestSimSmc::writes_data()
{
    QTest::addColumn<bool>("rootOnly");
    QTest::addColumn<uint32_t>("uid");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("result");

    const QByteArray target = rpm(2500);
    QTest::newRow("root") << true << 0u << QByteArray("F0Tg") << target << 0;
    QTest::newRow("user, root writes only")
        << true << 1000u << QByteArray("F0Tg") << target << kSmcReturnNotPrivileged;
    QTest::newRow("user, anyone writes") << false << 1000u << QByteArray("F0Tg") << target << 0;
    QTest::newRow("size mismatch")
        << false << 0u << QByteArray("F0Tg") << QByteArray(1, 9) << kSmcReturnError;
    QTest::newRow("too long") << false << 0u << QByteArray("F0Tg") << QByteArray(3, 9)
                              << kSmcReturnError;
    QTest::newRow("unknown key") << false << 0u << QByteArray("F9Tg") << target
                                 << kSmcReturnNotFound;
    QTest::newRow("key count") << false << 0u << QByteArray("#KEY") << QByteArray(4, 1)
                               << kSmcReturnNotPrivileged;
    QTest::newRow("size 0") << false << 0u << QByteArray("MSDW") << QByteArray() << 0;
}

void TestSimSmc::writes()
{
    QFETCH(bool, rootOnly);
    QFETCH(uint32_t, uid);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, bytes);
    QFETCH(int, result);

    QManualClock clock;
    QSimSmc sim(&clock);
    sim.setKeys(smallTable(), quietParams());
    sim.setRootWritesOnly(rootOnly);
    QByteArray before;
    const bool bKnown = sim.value(key, before);
    QCOMPARE(writeKey(sim, key.constData(), bytes, uid), result);
    QByteArray after;
    QCOMPARE(sim.value(key, after), bKnown);
    QCOMPARE(after, result == 0 ? bytes : before);
    // Reads never need privileges.
    QCOMPARE(readKey(sim, "FNum", 1), QByteArray(1, 2));
}

void TestSimSmc::countersCountEveryCall()
{
    QManualClock clock;
    QSimSmc sim(&clock);
    sim.setKeys(smallTable(), quietParams());
    readKey(sim, "TC0P");
    readKey(sim, "TC0D");
    readKey(sim, "nope");
    writeKey(sim, "F0Tg", rpm(2000));
    writeKey(sim, "F0Tg", QByteArray(1, 0));
    SMCKeyData_t output;
    sim.call(kSmcMethodSelector, request(SmcCmdReadKeyInfo, "TC0P"), output);
    QCOMPARE(sim.callCount(), quint64(6));
    QCOMPARE(sim.readCount(), quint64(2));
    QCOMPARE(sim.writeCount(), quint64(1));
}

void TestSimSmc::faults()
{
    QManualClock clock;
    QSimSmc sim(&clock);
    sim.setKeys(smallTable(), quietParams());

    sim.setReadFault("TC0D", true);
    QCOMPARE(readKey(sim, "TC0D"), QByteArray("failed"));
    QVERIFY(readKey(sim, "TC0P") != QByteArray("failed"));
    SMCKeyData_t output;
    QCOMPARE(sim.call(kSmcMethodSelector, request(SmcCmdReadKeyInfo, "TC0D"), output), 0);
    sim.setReadFault("TC0D", false);
    QVERIFY(readKey(sim, "TC0D") != QByteArray("failed"));

    sim.setIndexFault(3, true);
    QCOMPARE(sim.call(kSmcMethodSelector, request(SmcCmdReadIndex, nullptr, 0, 3), output),
             kSmcReturnError);
    QCOMPARE(sim.call(kSmcMethodSelector, request(SmcCmdReadIndex, nullptr, 0, 4), output), 0);

    // A hot sensor shows its reading with the high bit of the first byte set, and keeps it
    // while the model runs.
    sim.setHotSensor("TC0P", 130.0);
    clock.advanceSecs(5);
    QCOMPARE(readKey(sim, "TC0P").toHex(), QByteArray("8200"));
    sim.setHotSensor("TC0P", std::nan(""));
    clock.advanceSecs(1);
    QVERIFY(static_cast<quint8>(readKey(sim, "TC0P").at(0)) < 0x80);
}

void TestSimSmc::slowWriteRunsOutsideTheLock()
{
    QManualClock clock;
    QSimSmc sim(&clock);
    sim.setKeys(smallTable(), quietParams());
    sim.setSlowWrite("FS! ", 4000);
    QList<int> delays;
    QByteArray seenDuringDelay;
    sim.setSlowWriteHandler([&](int nMsecs) {
        delays << nMsecs;
        clock.advanceMsecs(nMsecs);
        seenDuringDelay = readKey(sim, "FS! "); // would deadlock if the lock were held
    });
    QCOMPARE(writeKey(sim, "FS! ", QByteArray("\x00\x01", 2)), 0);
    QCOMPARE(delays, QList<int>({4000}));
    QCOMPARE(seenDuringDelay.toHex(), QByteArray("0000")); // not applied before the delay
    QCOMPARE(readKey(sim, "FS! ").toHex(), QByteArray("0001"));
    QCOMPARE(writeKey(sim, "F0Tg", rpm(2000)), 0);
    QCOMPARE(delays.size(), 1); // other keys are not slow
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

    QManualClock clock;
    QSimSmc sim(&clock);
    sim.setKeys(smallTable(), quietParams());
    const QByteArray tg = QByteArray("F") + QByteArray::number(fan) + "Tg";
    const QByteArray ac = QByteArray("F") + QByteArray::number(fan) + "Ac";
    QCOMPARE(writeKey(sim, "FS! ", QByteArray(1, 0) + char(1 << fan)), 0);
    QCOMPARE(writeKey(sim, tg.constData(), rpm(target)), 0);
    const double dStart = readNumber(sim, ac.constData(), "fpe2");
    clock.advanceSecs(1);
    const double dAfterOne = readNumber(sim, ac.constData(), "fpe2");
    // Bounded ramp: at most 500 RPM in a second, and moving the right way.
    QVERIFY2(std::abs(dAfterOne - dStart) <= 500.5, qPrintable(QString::number(dAfterOne)));
    QVERIFY((expected - dStart) * (dAfterOne - dStart) >= 0);
    clock.advanceSecs(60);
    QCOMPARE(qRound(readNumber(sim, ac.constData(), "fpe2")), expected);
    // The target the program wrote stays as written.
    QCOMPARE(readNumber(sim, tg.constData(), "fpe2"), double(target));
    // The other fan stayed automatic at an idle temperature: at its minimum.
    const QByteArray otherAc = QByteArray("F") + QByteArray::number(1 - fan) + "Ac";
    QCOMPARE(qRound(readNumber(sim, otherAc.constData(), "fpe2")), fan == 0 ? 1200 : 1000);
}

void TestSimSmc::autoFanFollowsTemperature()
{
    QManualClock clock;
    QSimSmc sim(&clock);
    sim.setKeys(smallTable(), quietParams());
    sim.setLoadOverride(0.0);
    clock.advanceSecs(120);
    QCOMPARE(qRound(readNumber(sim, "F0Ac", "fpe2")), 1000);

    sim.setLoadOverride(1.0);
    double dPrevious = 1000;
    for (int i = 0; i < 10; ++i) {
        clock.advanceSecs(30);
        const double dSpeed = readNumber(sim, "F0Ac", "fpe2");
        QVERIFY2(dSpeed >= dPrevious - 1, qPrintable(QString::number(dSpeed)));
        dPrevious = dSpeed;
    }
    const double dHot = sim.temperature("TC0D");
    QVERIFY2(dHot > 55, qPrintable(QString::number(dHot)));
    // The automatic speed is the curve's point for the hottest processor sensor; the target key
    // keeps the dump's value, which an automatic fan ignores.
    const double dExpected = 1000 + 4000 * qBound(0.0, (dHot - 50) / 30, 1.0);
    QVERIFY2(std::abs(dPrevious - dExpected) < 60, qPrintable(QString::number(dPrevious)));
    QCOMPARE(readNumber(sim, "F0Tg", "fpe2"), 1000.0);

    sim.setLoadOverride(0.0);
    clock.advanceSecs(600);
    QVERIFY2(readNumber(sim, "F0Ac", "fpe2") < 1100,
             qPrintable(QString::number(readNumber(sim, "F0Ac", "fpe2"))));
}

void TestSimSmc::temperaturesFollowLoadAndAirflow()
{
    // Same load, fans pinned at minimum in one machine and at maximum in the other.
    QManualClock clock;
    QSimSmc slowFans(&clock), fastFans(&clock);
    for (QSimSmc* pSim : {&slowFans, &fastFans}) {
        pSim->setKeys(smallTable(), quietParams());
        pSim->setLoadOverride(0.05);
        writeKey(*pSim, "FS! ", QByteArray("\x00\x03", 2));
    }
    writeKey(fastFans, "F0Tg", rpm(5000));
    writeKey(fastFans, "F1Tg", rpm(3000));
    const double dIdle = slowFans.temperature("TC0P");
    const double dIdleFloat = readNumber(slowFans, "TCXC", "flt ", 4);
    for (QSimSmc* pSim : {&slowFans, &fastFans})
        pSim->setLoadOverride(1.0);
    clock.advanceSecs(300);
    const double dLoaded = slowFans.temperature("TC0P");
    QVERIFY2(dLoaded > dIdle + 10, qPrintable(QString::number(dLoaded)));
    QVERIFY(fastFans.temperature("TC0P") < dLoaded - 3);
    QVERIFY(fastFans.temperature("TA0P") < slowFans.temperature("TA0P"));
    // The reading is the model's value in the key's own type, within the noise.
    QVERIFY(std::abs(readNumber(slowFans, "TC0P", "sp78") - dLoaded) <= 0.11);
    QVERIFY(readNumber(slowFans, "TCXC", "flt ", 4) > dIdleFloat + 10);
    // A dead sensor stays dead; a "T" key that is not a temperature keeps its value.
    QCOMPARE(readKey(slowFans, "TB2T").toHex(), QByteArray("0000"));
    QCOMPARE(readKey(slowFans, "TCSC", 1), QByteArray(1, 4));
    // Back to idle, it cools down again.
    slowFans.setLoadOverride(0.05);
    clock.advanceSecs(600);
    QVERIFY(std::abs(slowFans.temperature("TC0P") - dIdle) < 1.0);
}

void TestSimSmc::sameSeedSameValues()
{
    QManualClock clock;
    QSimSmc a(&clock), b(&clock), c(&clock);
    a.setKeys(smallTable(), quietParams(11));
    b.setKeys(smallTable(), quietParams(11));
    c.setKeys(smallTable(), quietParams(12));
    int nDifferent = 0;
    for (int i = 0; i < 20; ++i) {
        clock.advanceSecs(1);
        QCOMPARE(readKey(a, "TC0P"), readKey(b, "TC0P"));
        nDifferent += readKey(a, "TA0P") != readKey(c, "TA0P");
    }
    QVERIFY(nDifferent > 5); // another seed, other noise
}

void TestSimSmc::resultDoesNotDependOnCallPattern()
{
    QManualClock clockA, clockB, clockC;
    QSimSmc a(&clockA), b(&clockB), c(&clockC);
    QSimDynamicsParams params = quietParams();
    params.schedule = {{0.05, 20}, {1.0, 30}, {0.3, 15}};
    for (QSimSmc* pSim : {&a, &b, &c}) {
        pSim->setKeys(smallTable(), params);
        writeKey(*pSim, "FS! ", QByteArray("\x00\x02", 2));
        writeKey(*pSim, "F1Tg", rpm(2900));
    }
    clockA.advanceSecs(90);
    a.advance();
    for (int i = 0; i < 900; ++i) {
        clockB.advanceMsecs(100);
        b.advance();
    }
    for (int nStep = 1; clockC.msecsSinceEpoch() < clockA.msecsSinceEpoch();
         nStep = nStep % 97 + 13) {
        clockC.advanceMsecs(
            qMin<qint64>(nStep, clockA.msecsSinceEpoch() - clockC.msecsSinceEpoch()));
        readKey(c, "TC0P");
    }
    const QVector<QSimKey> keysA = a.keys(), keysB = b.keys(), keysC = c.keys();
    QCOMPARE(keysA.size(), keysB.size());
    for (int i = 0; i < keysA.size(); ++i) {
        QCOMPARE(keysB.at(i).bytes.toHex(), keysA.at(i).bytes.toHex());
        QCOMPARE(keysC.at(i).bytes.toHex(), keysA.at(i).bytes.toHex());
    }
    QVERIFY(a.temperature("TC0P") > 46); // the model did run through the load phase
}

void TestSimSmc::loadSchedule()
{
    QSimDynamicsParams params;
    params.schedule = {{0.05, 10}, {1.0, 5}, {0.3, 5}};
    QCOMPARE(params.loadAt(0), 0.05);
    QCOMPARE(params.loadAt(9.9), 0.05);
    QCOMPARE(params.loadAt(10), 1.0);
    QCOMPARE(params.loadAt(17), 0.3);
    QCOMPARE(params.loadAt(20), 0.05); // repeats
    QCOMPARE(params.loadAt(31), 1.0);
    params.schedule.clear();
    QCOMPARE(params.loadAt(1000), 0.05);
}

void TestSimSmc::inProcessTransport()
{
    QManualClock clock;
    auto pSim = QSharedPointer<QSimSmc>::create(&clock);
    pSim->setKeys(smallTable(), quietParams());
    pSim->setModel("Macmini5,1");
    pSim->setRootWritesOnly(true);
    QSmcTransportInProcess root(pSim), user(pSim, 501);
    SMCKeyData_t input = request(SmcCmdWriteBytes, "F0Tg", 2);
    std::memcpy(input.bytes, rpm(2000).constData(), 2);
    SMCKeyData_t output;
    QCOMPARE(root.call(kSmcMethodSelector, input, output), kSmcReturnError); // not open
    QVERIFY(root.open());
    QVERIFY(user.open());
    QCOMPARE(user.call(kSmcMethodSelector, input, output), kSmcReturnNotPrivileged);
    QCOMPARE(root.call(kSmcMethodSelector, input, output), 0);
    QCOMPARE(root.machineModel(), QString("Macmini5,1"));
    root.close();
    QCOMPARE(root.call(kSmcMethodSelector, input, output), kSmcReturnError);
}

QTEST_GUILESS_MAIN(TestSimSmc)
#include "tst_simsmc.moc"
