// The simulated controller: its answers, faults and the directions of its fan and thermal model.
#include "helpers/QClock.h"
#include "sim/QSimSmc.h"
#include "support/QSimMachine.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

using SimMachineUtils::request;

namespace {

QByteArray number(const char* type, double dValue, int nSize = 2)
{
    QByteArray bytes(nSize, '\0');
    SimDumpUtils::encodeNumber(type, dValue, bytes);
    return bytes;
}

// Fans of 1000..5000 and 1200..3000 RPM, sensors (one dead), other keys: 18 with "#KEY".
QVector<QSimKey> smallTable()
{
    QVector<QSimKey> keys = {{"FNum", "ui8 ", "\x02"}, {"TB2T", "sp78", QByteArray(2, 0)}};
    keys += {{"FS! ", "ui16", QByteArray(2, 0)}, {"TCSC", "ui8 ", "\x04"}};
    keys += {{"RPlt", "ch8*", "j42"}, {"MSDW", "flag", QByteArray()}};
    for (const char* key : {"F0Ac", "F0Mn", "F0Tg", "F0Mx", "F1Ac", "F1Mn", "F1Tg", "F1Mx"})
        keys.append({key, "fpe2",
                     number("fpe2", key[3] == 'x' ? 5000 - 2000 * (key[1] - '0')
                                                  : 1000 + 200 * (key[1] - '0'))});
    for (const char* key : {"TC0P", "TC0D", "TA0P"})
        keys.append({key, "sp78", number("sp78", key[1] == 'C' ? 45 + 3 * (key[3] == 'D') : 30)});
    return keys;
}

class SimSmc : public ::testing::Test
{
protected:
    SimSmc() { setUp(m_Sim); }
    void setUp(QSimSmc& sim, quint64 nSeed = 7)
    {
        QSimDynamicsParams params;
        params.dAmbient = 24;
        params.nSeed = nSeed;
        params.dNoise = 0.1;
        params.dRampRpmPerSec = 500;
        params.dAutoLow = 50;
        params.dAutoHigh = 80;
        sim.setKeys(smallTable(), params);
    }
    int write(const char* key, const QByteArray& bytes, uint32_t nUid = 0, QSimSmc* pSim = nullptr)
    {
        SMCKeyData_t input = request(SmcCmdWriteBytes, key, uint32_t(bytes.size()));
        memcpy(input.bytes, bytes.constData(), size_t(bytes.size()));
        SMCKeyData_t output;
        return (pSim ? *pSim : m_Sim).call(kSmcMethodSelector, input, output, nUid);
    }
    double read(const char* key, const char* type = "fpe2", int nSize = 2, QSimSmc* pSim = nullptr)
    {
        SMCKeyData_t output;
        double dValue = std::nan("");
        if ((pSim ? *pSim : m_Sim).call(2, request(SmcCmdReadBytes, key, nSize), output) == 0)
            SimDumpUtils::decodeNumber(
                type, QByteArray(reinterpret_cast<char*>(output.bytes), nSize), dValue);
        return dValue;
    }
    // A script on the machine: "K=V" writes V in the key's own type, "!K=V" is a refused write,
    // "+N" waits N ms, "?K=V" reads V; "_" in a key stands for a blank.
    void run(const QString& script)
    {
        SCOPED_TRACE(qPrintable(script));
        QHash<QByteArray, QSimKey> keys;
        for (const QSimKey& key : m_Sim.keys())
            keys.insert(key.key, key);
        for (const QString& step : script.split(' ')) {
            const QStringList kv = step.mid(step[0].isLetter() ? 0 : 1).split('=');
            const QSimKey key = keys.value(kv[0].toLatin1().replace('_', ' '));
            const double dValue = kv.value(1).toDouble();
            if (step[0] == '+')
                m_Clock.advanceMsecs(kv[0].toInt());
            else if (step[0] == '?')
                EXPECT_NEAR(read(key.key, key.type, key.bytes.size()), dValue, 0.5)
                    << qPrintable(step);
            else
                EXPECT_EQ(write(key.key, number(key.type, dValue, key.bytes.size())) == 0,
                          step[0] != '!')
                    << qPrintable(step);
        }
    }
    QManualClock m_Clock;
    QSimSmc m_Sim{&m_Clock};
};

} // namespace

TEST_F(SimSmc, Commands)
{
    // answer: key|size|type|attributes|first four value bytes
    auto row = [this](uint32_t selector, int command, const char* key, uint32_t size,
                      uint32_t index, int result, const char* answer) {
        SMCKeyData_t output;
        memset(&output, 0xAB, sizeof output);
        const SMCKeyData_t input = request(uint8_t(command), *key ? key : nullptr, size, index);
        EXPECT_EQ(m_Sim.call(selector, input, output), result) << answer;
        if (result != 0)
            return;
        EXPECT_EQ(
            QString("%1|%2|%3|%4|%5")
                .arg(QString(SimDumpUtils::unpackCode(output.key)))
                .arg(output.dataSize)
                .arg(output.dataType ? QString(SimDumpUtils::unpackCode(output.dataType)) : "")
                .arg(output.dataAttributes)
                .arg(QString(QByteArray(reinterpret_cast<char*>(output.bytes), 4).toHex())),
            QString(answer));
    };
    row(2, 5, "TC0P", 2, 0, 0, "TC0P|2||0|2d000000");
    row(2, 5, "FNum", 4, 0, 0, "FNum|1||0|02000000"); // beyond the value: the whole value
    row(2, 5, "#KEY", 4, 0, 0, "#KEY|4||0|00000012");
    row(2, 5, "TX9Z", 2, 0, kSmcReturnNotFound, "");
    row(2, 5, "TC0P", 33, 0, kSmcReturnBadArgument, "");
    row(2, 9, "FS! ", 0, 0, 0, "FS! |2|ui16|212|00000000");
    row(2, 8, "", 0, 0, 0, "#KEY|0||0|00000000");
    row(2, 8, "", 0, 17, 0, "TCSC|0||0|00000000");
    row(2, 8, "", 0, 18, kSmcReturnBadArgument, "");
    row(3, 5, "TC0P", 2, 0, kSmcReturnBadArgument, "");
    row(2, 7, "TC0P", 2, 0, kSmcReturnBadArgument, "");
}

TEST_F(SimSmc, Faults)
{
    m_Sim.setReadFault("TC0D", true);
    EXPECT_TRUE(std::isnan(read("TC0D", "sp78")));
    EXPECT_FALSE(std::isnan(read("TC0P", "sp78")));
    SMCKeyData_t output;
    m_Sim.setIndexFault(3, true);
    EXPECT_EQ(m_Sim.call(2, request(SmcCmdReadIndex, nullptr, 0, 3), output), kSmcReturnError);
    EXPECT_EQ(m_Sim.call(2, request(SmcCmdReadIndex, nullptr, 0, 4), output), 0);
    // A hot sensor reads with the high bit of its first byte set, while the model runs.
    m_Sim.setHotSensor("TC0P", 130.0);
    m_Clock.advanceSecs(5);
    EXPECT_EQ(read("TC0P", "ui16"), double(0x8200));
    m_Sim.setHotSensor("TC0P", std::nan(""));
    m_Clock.advanceSecs(1);
    EXPECT_LT(read("TC0P", "sp78"), 60);
}

// A manual fan ramps (500 RPM/s at most) to its clamped target; the cool automatic one idles.
TEST_F(SimSmc, ManualFanRampsToClampedTarget)
{
    run("FS!_=1 F0Tg=3000 +1000 ?F0Ac=1500 +60000 ?F0Ac=3000 ?F0Tg=3000 ?F1Ac=1200");
    setUp(m_Sim);
    run("FS!_=1 F0Tg=9000 +60000 ?F0Ac=5000 ?F0Tg=9000 ?F1Ac=1200");
    setUp(m_Sim);
    run("FS!_=2 F1Tg=200 +60000 ?F1Ac=1200 ?F1Tg=200 ?F0Ac=1000");
    setUp(m_Sim);
    run("FS!_=2 F1Tg=2400 +1000 ?F1Ac=1700 +60000 ?F1Ac=2400 ?F0Ac=1000");
}

TEST_F(SimSmc, AutoFanFollowsTemperature)
{
    m_Sim.setLoadOverride(0.0);
    m_Clock.advanceSecs(120);
    EXPECT_EQ(qRound(read("F0Ac")), 1000);
    m_Sim.setLoadOverride(1.0);
    m_Clock.advanceSecs(300);
    // The curve's point for the hottest processor sensor; the target key is left alone.
    const double dHot = m_Sim.temperature("TC0D");
    EXPECT_GT(dHot, 55);
    EXPECT_NEAR(read("F0Ac"), 1000 + 4000 * qBound(0.0, (dHot - 50) / 30, 1.0), 60);
    EXPECT_EQ(read("F0Tg"), 1000.0);
}

// Same load, fans pinned at minimum in one machine and at maximum in the other.
TEST_F(SimSmc, TemperaturesFollowLoadAndAirflow)
{
    QSimSmc fast(&m_Clock);
    setUp(fast);
    for (QSimSmc* pSim : {&m_Sim, &fast}) {
        pSim->setLoadOverride(0.05);
        write("FS! ", QByteArray("\x00\x03", 2), 0, pSim);
    }
    write("F0Tg", number("fpe2", 5000), 0, &fast);
    write("F1Tg", number("fpe2", 3000), 0, &fast);
    const double dIdle = m_Sim.temperature("TC0P");
    for (QSimSmc* pSim : {&m_Sim, &fast})
        pSim->setLoadOverride(1.0);
    m_Clock.advanceSecs(300);
    const double dLoaded = m_Sim.temperature("TC0P");
    EXPECT_GT(dLoaded, dIdle + 10);
    EXPECT_LT(fast.temperature("TC0P"), dLoaded - 3);
    EXPECT_LT(fast.temperature("TA0P"), m_Sim.temperature("TA0P"));
    EXPECT_NEAR(read("TC0P", "sp78"), dLoaded, 0.11); // the model's value within the noise
    EXPECT_EQ(read("TB2T", "sp78"), 0.0);             // a dead sensor stays dead
    EXPECT_EQ(read("TCSC", "ui8 ", 1), 4.0);          // a "T" key that is no temperature
    m_Sim.setLoadOverride(0.05);
    m_Clock.advanceSecs(600);
    EXPECT_NEAR(m_Sim.temperature("TC0P"), dIdle, 1.0);
}

TEST_F(SimSmc, CorruptNumbersInTheTableAreBounded)
{
    // A fan count, a maximum, a target and a sensor as floats far beyond anything real.
    const QByteArray huge = number("flt ", 7.9e28, 4);
    QVector<QSimKey> keys = {{"FNum", "flt ", huge}, {"FS! ", "ui16", QByteArray("\0\1", 2)}};
    keys += {{"F0Mx", "flt ", huge}, {"F0Tg", "flt ", huge}, {"TC0P", "flt ", huge}};
    keys.append({"TC1P", "flt ", number("flt ", std::nan(""), 4)}); // reads as dead
    for (const char* key : {"F0Ac", "F0Mn", "F1Ac", "F1Mn", "F1Mx"})
        keys.append({key, "fpe2", number("fpe2", key[3] == 'x' ? 3000 : 1000)});
    QSimDynamicsParams params;
    params.dRampRpmPerSec = 1e30; // as fast as the model lets a fan go
    m_Sim.setKeys(keys, params);
    m_Clock.advanceSecs(30);
    ASSERT_EQ(m_Sim.fanCount(), 2);
    EXPECT_EQ(m_Sim.fanSpeed(0), 100000.0); // manual: at its target, bounded
    EXPECT_LE(m_Sim.fanSpeed(1), 3000.0);
    EXPECT_LE(m_Sim.temperature("TC0P"), 300.0);
    EXPECT_EQ(m_Sim.temperature("TC1P"), 0.0);
    // sp52 holds 2144 C in these bytes: the top of the range at idle, then a full load on it.
    m_Sim.setKeys({{"TC0P", "sp52", QByteArray("\x21\x80", 2)}});
    m_Sim.setLoadOverride(1.0);
    m_Clock.advanceSecs(600);
    EXPECT_EQ(m_Sim.temperature("TC0P"), 300.0);
}

// A hold lasts 3 to 6 s, drawn from the seed: the same for a seed, not the same for all seeds.
TEST(SimFanModes, HoldLengthFollowsTheSeed)
{
    auto holdMsecs = [](quint64 nSeed) {
        QVector<QSimKey> keys = {{"F0Md", "ui8 ", QByteArray(1, 0)},
                                 {"Ftst", "ui8 ", QByteArray(1, 0)}};
        QSimFanModes modes;
        modes.bind(keys, {{"F0Md", 0}, {"Ftst", 1}}, nSeed, 0);
        QByteArray one(1, 1);
        qint64 nMsecs = 0;
        for (modes.write(keys, 1, one, 0); modes.holding() && nMsecs < 9000;)
            modes.advanceTo(keys, nMsecs += 10);
        return nMsecs;
    };
    std::set<qint64> lengths;
    for (quint64 nSeed = 1; nSeed <= 8; lengths.insert(holdMsecs(nSeed++)))
        EXPECT_EQ(holdMsecs(nSeed), holdMsecs(nSeed));
    EXPECT_TRUE(lengths.size() > 4 && *lengths.begin() >= 3000 && *lengths.rbegin() <= 6010);
}

// The newer machines' profiles: the dump writes back byte-exact, every temperature is sane, and
// scripts show the fans' ranges in flt and their families: no FS! (its write is refused); mode
// keys; on Apple silicon the hold after Ftst=1, the return after 60 s without a write, Ftst=0.
TEST_F(SimSmc, NewerProfilesAndFanFamilies)
{
    auto row = [this](const char* name, const char* script) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(m_Sim.loadProfile(name, {TestSupport::profilesDir()}, nullptr));
        const QByteArray dump = SimDumpUtils::formatDump(m_Sim.keys());
        QVector<QSimKey> again;
        EXPECT_TRUE(SimDumpUtils::parseDump(dump, "", again, nullptr));
        EXPECT_EQ(SimDumpUtils::formatDump(again), dump);
        int nSensors = 0;
        for (const QSimKey& key : m_Sim.keys()) {
            const double dTemp = m_Sim.temperature(key.key);
            if (!std::isnan(dTemp) && dTemp != 0.0) { // a sensor, and not a dead one
                ++nSensors;
                EXPECT_TRUE(dTemp > 20 && dTemp < 110) << key.key.constData();
            }
        }
        EXPECT_GE(nSensors, 10);
        run(script);
    };
    row("MacBookPro16,1", "?F0Mn=1836 ?F0Mx=5616 ?F1Mn=1700 ?F1Mx=5200 !FS!_=1 F0Md=1 ?F0Md=1 "
                          "F0Tg=3000 +9000 ?F0Ac=3000 ?F1Ac=1700 F0Md=0 +9000 ?F0Ac=1836");
    row("MacBookPro18,3", "?F0Mn=1200 ?F0Mx=5779 ?F1Mx=5779 !FS!_=1 F0Md=1 ?F0Md=0 !F0Md=3 "
                          "!Ftst=2 ?Ftst=0");
    row("MacBookPro18,3", "Ftst=1 ?F1Md=3 F0Md=1 ?F0Md=3 +2990 ?F0Md=3 +3020 ?F0Md=0 ?Ftst=1 "
                          "F0Md=1 ?F0Md=1 F0Tg=4000 +9000 ?F0Ac=4000");
    row("Mac16,8", "?F0Mx=5700 ?F1Mn=1200 ?F1Mx=6100 !FS!_=1 Ftst=1 +6100 F0Md=1 Ftst=1 ?F0Md=1 "
                   "+58900 ?F0Md=1 +1100 ?Ftst=0 ?F0Md=0");
    row("Mac16,8", "Ftst=1 +6100 F1Md=1 +50000 F1Tg=6000 +50000 ?F1Md=1 ?Ftst=1 ?F1Ac=6000");
    row("Mac16,8", "Ftst=1 +6100 F0Md=1 F1Md=1 Ftst=0 ?F0Md=0 ?F1Md=0 ?Ftst=0 F0Md=1 ?F0Md=0");
}
