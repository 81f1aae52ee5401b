// The applesmc backend on fake trees against the simulator, the controller's own index through a
// double, files that vanish, hold garbage or refuse writes, and the key-writing tool.
#include "AppleSmcTreeUtils.h"
#include "core/QTempSensor.h"
#include "smc/applesmc/QAppleSmcTransport.h"
#include "smc/base/SmcKeyToolUtils.h"
#include "smc/base/SmcProtocolUtils.h"
#include "support/QSimMachine.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

QByteArray fileText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : "none";
}

void put(const QString& dir, const QString& name, const QByteArray& text)
{
    QFile file(dir + "/" + name);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(text);
}

// The driver's folder as plain files, opens counted. Writing key_at_index moves the
// key_at_index_* files over the table, as the driver does for root.
class QDriverFiles : public QAppleSmcPosixFiles
{
public:
    explicit QDriverFiles(const QString& dir, const QVector<QSimKey>& table = {})
        : QAppleSmcPosixFiles(dir.toStdString()), m_Dir(dir), m_Table(table)
    {}
    int openFile(const std::string& name, bool bWrite) override
    {
        ++nOpens;
        const int fd = QAppleSmcPosixFiles::openFile(name, bWrite);
        opened += fd >= 0 ? QByteArray(" ") + name.c_str() : QByteArray();
        m_nIndexFd = name == "key_at_index" ? fd : m_nIndexFd;
        m_nRefusedFd = name == refused ? fd : m_nRefusedFd;
        return fd;
    }
    bool writeFile(int handle, const std::string& text) override
    {
        if (handle == m_nIndexFd) {
            const QSimKey& key = m_Table.at(std::stoi(text));
            put(m_Dir, "key_at_index_name", key.key + "\n");
            put(m_Dir, "key_at_index_type", key.type + "\n");
            put(m_Dir, "key_at_index_data_length", QByteArray::number(key.bytes.size()) + "\n");
            put(m_Dir, "key_at_index_data", key.bytes);
        }
        return handle != m_nRefusedFd && QAppleSmcPosixFiles::writeFile(handle, text);
    }
    int nOpens = 0;
    QByteArray opened;   // the names of the files opened, each after a blank
    std::string refused; // the file that refuses writes

private:
    QString m_Dir;
    QVector<QSimKey> m_Table;
    int m_nIndexFd = -1, m_nRefusedFd = -1;
};

QVector<QSimKey> profileKeys(const QString& name)
{
    QVector<QSimKey> keys;
    const QString path = TestSupport::profilesDir() + "/" + name + ".dump";
    EXPECT_TRUE(SimDumpUtils::loadDumpFile(path, keys, nullptr)) << path.toStdString();
    return keys;
}

// What the window shows, read afresh; readings to the quarter degree the driver keeps.
QStringList shown(QFanControl& control)
{
    QStringList lines;
    for (int i = 0; i < control.fanCount(); ++i) {
        control.UpdateFanInfo(i, false);
        const FanInfo* p = control.GetFan(i);
        lines << p->GetName() +
                     QString(" %1 %2 %3").arg(p->GetRPM()).arg(p->GetRPMMin()).arg(p->GetRPMMax());
    }
    for (QTempSensor* pSensor : control.sensors()) {
        control.UpdateTempSensor(pSensor);
        lines << pSensor->GetKey() + " " + QString::number(std::floor(pSensor->GetValue() * 4) / 4);
    }
    return lines;
}

class AppleSmcProfile : public ::testing::TestWithParam<const char*>
{
};

TEST_P(AppleSmcProfile, TreeShowsWhatTheSimulatorShowsAndUpdatesOpenNothing)
{
    const QVector<QSimKey> keys = profileKeys(GetParam());
    QTemporaryDir dir;
    ASSERT_TRUE(AppleSmcTreeUtils::writeTree(keys, dir.path(), nullptr));
    QSimMachine simulated(keys);
    simulated.start();

    QManualClock clock;
    auto* pFiles = new QDriverFiles(dir.path());
    QSmcControlMac smc(
        new QAppleSmcTransport(pFiles, [&clock] { return clock.msecsSinceEpoch(); }));
    ASSERT_TRUE(smc.Open());
    smc.setWriter([](const QString&, const QString&) {});
    QFanControl control(&smc, &clock);
    control.Init();
    const QStringList expected = shown(*simulated.pController);
    EXPECT_EQ(shown(control), expected);
    QVector<QString> found, temperatures; // the same searches over a sorted index
    smc.LoadTempSensors(found);
    simulated.pSmc->LoadTempSensors(temperatures);
    EXPECT_EQ(found, temperatures);
    QByteArrayList index;
    for (applesmc_entry entry; smc.copyEntryByIndex(index.size(), &entry);)
        index << entry.key;
    EXPECT_TRUE(std::is_sorted(index.begin(), index.end()) && index.size() > 5);

    const int nOpens = pFiles->nOpens;
    for (int pass = 0; pass < 40; ++pass, clock.advanceMsecs(1500)) // 60 s of update passes
        shown(control);
    EXPECT_EQ(pFiles->nOpens, nOpens);
}

INSTANTIATE_TEST_SUITE_P(Shipped, AppleSmcProfile,
                         ::testing::Values("MacBookPro8,2", "MacPro4,1", "Macmini5,1", "iMac13,1"));

// A T2 machine's tree: fans from its flt keys in whole RPM with their real ranges through the
// backend, fanN_manual from the mode keys, no file for a value the driver cannot show.
TEST(AppleSmc, TreeOfFloatFansShowsTheirRanges)
{
    QVector<QSimKey> keys = profileKeys("MacBookPro16,1");
    for (QSimKey& key : keys) {
        if (key.key == "F1Md")
            key.bytes = QByteArray(1, 1);
        if (key.key == "F1Tg")
            SimDumpUtils::encodeNumber("flt ", -5.0, key.bytes);
    }
    QTemporaryDir dir;
    ASSERT_TRUE(AppleSmcTreeUtils::writeTree(keys, dir.path(), nullptr));
    EXPECT_EQ(fileText(dir.filePath("fan1_manual")) + fileText(dir.filePath("fan2_manual")) +
                  fileText(dir.filePath("fan2_output")),
              "0\n1\nnone"); // F1Md=1; F1Tg holds -5
    QManualClock clock;
    QSmcControlMac smc(new QAppleSmcTransport(new QDriverFiles(dir.path())));
    ASSERT_TRUE(smc.Open());
    QFanControl control(&smc, &clock);
    control.Init();
    QStringList fans; // rpm min max, whatever the name
    for (const QString& line : shown(control).mid(0, control.fanCount()))
        fans << line.section(' ', -3);
    EXPECT_EQ(fans, QStringList({"1838 1836 5616", "1702 1700 5200"}));
}

void writeTwoFans(const QString& dir)
{
    const char* files[][2] = {
        {"fan1_input", "2002\n"},   {"fan1_min", "2000\n"},     {"fan1_max", "6200\n"},
        {"fan1_output", "2000\n"},  {"fan1_manual", "0\n"},     {"fan1_label", "Left Side\n"},
        {"fan2_input", "1998\n"},   {"fan2_manual", "1\n"},     {"temp1_input", "45500\n"},
        {"temp1_label", "TC0P\n"},  {"temp2_input", "-2000\n"}, {"temp2_label", "TA0P\n"},
        {"temp3_input", "60000\n"}, {"temp3_label", "TC0P\n"}}; // a second TC0P is left out
    for (const auto& file : files)
        put(dir, file[0], file[1]);
}

// Reads key into hex, or writes the value writeHex to it.
int exchange(QAppleSmcTransport& transport, const char* key, const char* writeHex, QByteArray& hex)
{
    SMCVal_t val{};
    const QByteArray bytes = QByteArray::fromHex(writeHex);
    memcpy(val.key, key, 4);
    val.dataSize = uint32_t(bytes.size());
    memcpy(val.bytes, bytes.constData(), size_t(bytes.size()));
    if (writeHex)
        return SmcProtocolUtils::writeKey(&transport, val);
    const int nResult = SmcProtocolUtils::readKey(&transport, key, &val);
    hex = QByteArray(reinterpret_cast<const char*>(val.bytes), int(val.dataSize)).toHex();
    return nResult;
}

TEST(AppleSmc, KeysFromFilesAndBack)
{
    // A file set to a text, then the key read (or written with a value): the result and the
    // value read (or the file's text afterwards).
    using Row = std::tuple<const char*, const char*, const char*, const char*, int, const char*>;
    const Row rows[] = {
        {"fan1_input", "2002\n", "F0Ac", nullptr, 0, "1f48"},
        {"fan1_input", "2002\n", "F0ID", nullptr, 0, "000000004c6566742053696465000000"},
        {"fan1_input", "2002\n", "FNum", nullptr, 0, "02"},
        {"fan1_input", "2002\n", "FS! ", nullptr, 0, "0002"},
        {"fan1_input", "2002\n", "TC0P", nullptr, 0, "2d80"},
        {"fan1_input", "2002\n", "TA0P", nullptr, 0, "fe00"},
        {"fan1_input", "2002\n", "#KEY", nullptr, 0, "0000000b"},
        {"fan1_input", "2002\n", "F1Mn", nullptr, kSmcReturnNotFound, ""},
        {"fan1_input", "16384\n", "F0Ac", nullptr, kSmcReturnError, ""},
        {"fan1_input", "12ab\n", "F0Ac", nullptr, kSmcReturnError, ""},
        {"fan1_input", "+2002\n", "F0Ac", nullptr, kSmcReturnError, ""},
        {"fan2_manual", "on\n", "FS! ", nullptr, kSmcReturnError, ""},
        {"temp1_input", "9000000\n", "TC0P", nullptr, kSmcReturnError, ""},
        {"fan2_manual", "1\n", "FS! ", "0001", 0, "0"},
        {"fan1_min", "2000\n", "F0Mn", "1770", kSmcReturnNotPrivileged, "2000\n"},
        {"temp1_input", "45500\n", "TC0P", "3200", kSmcReturnNotPrivileged, "45500\n"},
        {"fan1_output", "2000\n", "F0Tg", "17", kSmcReturnError, "2000\n"},
        {"fan1_output", "<refuse>", "F0Tg", "1770", kSmcReturnError, "2000\n"},
    };
    for (const auto& [file, text, key, write, nResult, expected] : rows) {
        QTemporaryDir dir;
        writeTwoFans(dir.path());
        auto* pFiles = new QDriverFiles(dir.path());
        pFiles->refused = text == std::string("<refuse>") ? file : "";
        QAppleSmcTransport transport(pFiles, [] { return int64_t(0); });
        ASSERT_TRUE(transport.open());
        if (pFiles->refused.empty())
            put(dir.path(), file, text);
        QByteArray hex;
        EXPECT_EQ(exchange(transport, key, write, hex), nResult) << key;
        hex = write ? fileText(dir.filePath(file)) : nResult ? "" : hex;
        EXPECT_EQ(hex, QByteArray(expected)) << file << " " << key;
    }
}

// Gone at 0, back at 4999 but not opened again before 5000.
TEST(AppleSmc, VanishedFileIsReopenedOnALaterPass)
{
    QTemporaryDir dir;
    writeTwoFans(dir.path());
    int64_t nNow = 0;
    QAppleSmcTransport transport(new QDriverFiles(dir.path()), [&nNow] { return nNow; });
    ASSERT_TRUE(transport.open());
    QFile::remove(dir.filePath("temp1_input"));
    QByteArray hex;
    for (int64_t nAt : {0, 4999, 5000}) {
        nNow = nAt;
        EXPECT_EQ(exchange(transport, "TC0P", nullptr, hex), nAt == 5000 ? 0 : kSmcReturnError);
        put(dir.path(), "temp1_input", "50000\n");
    }
    EXPECT_EQ(hex, "3200");
}

// As root the index is the controller's own: the temperature keys are found through the same
// lower-bound searches as on the simulator, and a dump reads every value as the controller
// holds it.
TEST(AppleSmc, ControllerIndexThroughKeyAtIndex)
{
    const QVector<QSimKey> keys = profileKeys("MacBookPro8,2");
    QTemporaryDir dir;
    writeTwoFans(dir.path());
    put(dir.path(), "key_at_index", "0");
    put(dir.path(), "key_count", QByteArray::number(keys.size()) + "\n");
    QSmcControlMac smc(new QAppleSmcTransport(new QDriverFiles(dir.path(), keys)));
    ASSERT_TRUE(smc.Open());
    QSimMachine simulated(keys);
    QVector<QString> found, expected;
    smc.LoadTempSensors(found);
    simulated.pSmc->LoadTempSensors(expected);
    EXPECT_EQ(found, expected);

    auto* pTransport = static_cast<QAppleSmcTransport*>(smc.transport());
    pTransport->setControllerValues(true);
    for (int index = 0; index < keys.size(); ++index) { // as a dump lists them
        applesmc_entry entry{};
        QByteArray hex;
        ASSERT_EQ(SmcProtocolUtils::keyInfoByIndex(pTransport, index, &entry), 0);
        ASSERT_EQ(exchange(*pTransport, entry.key, nullptr, hex), 0);
        EXPECT_EQ(hex, keys[index].bytes.toHex()) << entry.key;
    }
}

// A set-user-ID copy of the key-writing tool run by the ordinary user "nobody" with the given
// standard input, then its end.
int runTool(const QStringList& args, const QByteArray& input, const QString& tool)
{
    QProcess process;
    process.start("setpriv",
                  QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", tool} + args);
    process.write(input);
    process.closeWriteChannel();
    const bool bEnded =
        process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit;
    return bEnded ? process.exitCode() : -1;
}

// An ordinary user runs the set-user-ID tool on a tree that user may write: a target outside
// the fan's range and a mask bit for a third fan are refused, the rest lands.
TEST(AppleSmcTool, WritesOnlyTargetsInRangeAndFansThatExistAndGivesBack)
{
    QTemporaryDir dir;
    ASSERT_TRUE(AppleSmcTreeUtils::writeTree(profileKeys("MacBookPro8,2"), dir.path(), nullptr));
    const QString tool = dir.filePath("smc-setuid");
    if (geteuid() != 0 || !QFile::copy(TestSupport::binDir() + "/smc", tool) ||
        chmod(QFile::encodeName(tool), 04755) != 0 || chmod(QFile::encodeName(dir.path()), 0755))
        GTEST_SKIP() << "needs root";
    for (const QString& name : QDir(dir.path()).entryList(QDir::Files))
        ASSERT_EQ(chown(QFile::encodeName(dir.filePath(name)), 65534, 65534), 0);
    qputenv("THERMORA_APPLESMC_DIR", QFile::encodeName(dir.path()));
    const std::tuple<QStringList, QByteArray, int, const char*, const char*> rows[] = {
        {{"-k", "F0Tg", "-w", "1f40"}, "", 0, "fan1_output", "2000"}, // the minimum
        {{"-k", "F1Tg", "-w", "60e4"}, "", 1, "fan2_output", "1998\n"},
        {{"-k", "F0Tg", "-w", "0000"}, "", 1, "fan1_output", "2000"},
        {{"-k", "FS! ", "-w", "0003"}, "", 0, "fan2_manual", "1"},
        {{"-k", "FS! ", "-w", "0004"}, "", 1, "fan1_manual", "1"},
        {{"--give-back"}, "k", 0, "fan2_manual", "1"}, // the give-back was switched off
        {{"--give-back"}, "x", 0, "fan2_manual", "0"},
    };
    QFile index(dir.filePath("key_at_index")); // writable here, as for root on a real driver
    ASSERT_TRUE(index.open(QIODevice::WriteOnly) && index.write("7") == 1);
    index.close();
    for (const auto& [args, input, nExitCode, file, text] : rows) {
        EXPECT_EQ(runTool(args, input, tool), nExitCode) << args.join(' ').toStdString();
        EXPECT_EQ(fileText(dir.filePath(file)), QByteArray(text)) << file;
    }
    EXPECT_EQ(fileText(index.fileName()), QByteArray("7")); // a write touches no other file

    // A folder the caller names is opened only after the tool dropped its rights.
    const SmcKeyToolUtils::Target target = SmcKeyToolUtils::target("", dir.path().toStdString());
    std::unique_ptr<QSmcCallTransport> pTransport(target.pTransport);
    EXPECT_TRUE(target.pAppleSmc && !target.bConnectPrivileged);
}

// A write opens the files of its key alone: the range and the target, or the manual flags.
TEST(AppleSmcTool, WriteOpensOnlyItsFiles)
{
    QTemporaryDir dir;
    writeTwoFans(dir.path());
    put(dir.path(), "fan2_min", "1000\n");
    put(dir.path(), "fan2_output", "1000\n");
    const std::pair<const char*, const char*> rows[] = {{"F1Tg", " fan2_min fan2_output"},
                                                        {"F0Tg", " fan1_min fan1_max fan1_output"},
                                                        {"FS! ", " fan1_manual fan2_manual"},
                                                        {"F2Tg", ""}};
    for (const auto& [key, opened] : rows) {
        auto* pFiles = new QDriverFiles(dir.path());
        QAppleSmcTransport transport(pFiles);
        transport.setWriteScope(key);
        EXPECT_EQ(transport.open(), *opened != 0) << key;
        EXPECT_EQ(pFiles->opened, QByteArray(opened)) << key;
    }
}
