// The applesmc backend: the program on a fake driver tree made from each shipped profile's dump
// against the simulator loaded with the same dump, the controller's own index through a double
// that acts like key_at_index, and files that vanish, hold garbage or refuse writes.
#include "AppleSmcTreeUtils.h"
#include "core/QTempSensor.h"
#include "smc/applesmc/QAppleSmcTransport.h"
#include "smc/base/SmcCodecUtils.h"
#include "smc/base/SmcProtocolUtils.h"
#include "support/QSimMachine.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The driver's files in memory. key_at_index moves the key_at_index_* files over the table, as
// the driver does for root; opens are counted.
class QDriverDouble : public QAppleSmcFileAccess
{
public:
    int openFile(const std::string& name) override
    {
        ++nOpens;
        if (!files.count(name) && name.rfind("key_at_index", 0) != 0)
            return -1;
        handles.push_back(name);
        return int(handles.size()) - 1;
    }
    long readFile(int handle, char* buffer, size_t nSize) override
    {
        const std::string text = content(handles.at(size_t(handle)));
        if (vanished.count(handles.at(size_t(handle))))
            return -1;
        const size_t n = std::min(nSize, text.size());
        std::copy(text.begin(), text.begin() + long(n), buffer);
        return long(n);
    }
    bool writeFile(int handle, const std::string& text) override
    {
        const std::string& name = handles.at(size_t(handle));
        if (refused.count(name) || (name == "key_at_index" && table.isEmpty()))
            return false;
        if (name == "key_at_index")
            nIndex = std::stoi(text);
        files[name] = text;
        return true;
    }
    void closeFile(int) override {}

    std::string content(const std::string& name) const
    {
        if (name.rfind("key_at_index_", 0) != 0 || nIndex >= table.size())
            return files.count(name) ? files.at(name) : std::string();
        const QSimKey& key = table.at(nIndex);
        if (name == "key_at_index_name")
            return key.key.toStdString() + "\n";
        if (name == "key_at_index_type")
            return key.type.toStdString() + "\n";
        if (name == "key_at_index_data_length")
            return std::to_string(key.bytes.size()) + "\n";
        return key.bytes.toStdString();
    }

    std::map<std::string, std::string> files;
    std::set<std::string> vanished, refused;
    std::vector<std::string> handles;
    QVector<QSimKey> table; // served through key_at_index when not empty
    int nIndex = 0;
    int nOpens = 0;
};

// Opens counted over the real files.
class QCountingFiles : public QAppleSmcPosixFiles
{
public:
    using QAppleSmcPosixFiles::QAppleSmcPosixFiles;
    int openFile(const std::string& name) override
    {
        ++nOpens;
        return QAppleSmcPosixFiles::openFile(name);
    }
    int nOpens = 0;
};

QStringList openDescriptors()
{
    QStringList result;
    for (const QFileInfo& info :
         QDir("/proc/self/fd").entryInfoList(QDir::NoDotAndDotDot | QDir::System))
        result << info.fileName() + "=" + info.symLinkTarget();
    return result;
}

QVector<QSimKey> profileKeys(const QString& name)
{
    QVector<QSimKey> keys;
    QString error;
    EXPECT_TRUE(
        SimDumpUtils::loadDumpFile(TestSupport::profilesDir() + "/" + name + ".dump", keys, &error))
        << error.toStdString();
    return keys;
}

class AppleSmcProfile : public ::testing::TestWithParam<const char*>
{
};

TEST_P(AppleSmcProfile, TreeShowsWhatTheSimulatorShowsAndUpdatesOpenNothing)
{
    const QVector<QSimKey> keys = profileKeys(GetParam());
    QTemporaryDir dir;
    QString error;
    ASSERT_TRUE(AppleSmcTreeUtils::writeTree(keys, dir.path(), &error)) << error.toStdString();

    QSimMachine simulated(keys);
    simulated.start();
    QManualClock clock;
    auto* pFiles = new QCountingFiles(dir.path().toStdString());
    QSmcControlMac smc(
        new QAppleSmcTransport(pFiles, [&clock] { return clock.msecsSinceEpoch(); }));
    ASSERT_TRUE(smc.Open());
    smc.setWriter([](const QString&, const QString&) {});
    QFanControl control(&smc, &clock);
    control.Init();

    const QFanControl& sim = *simulated.pController;
    ASSERT_EQ(control.fanCount(), sim.fanCount());
    ASSERT_GT(control.fanCount(), 0);
    for (int i = 0; i < sim.fanCount(); ++i) {
        control.UpdateFanInfo(i, false);
        EXPECT_EQ(control.GetFan(i)->GetName(), sim.GetFan(i)->GetName());
        EXPECT_EQ(control.GetFan(i)->GetRPM(), sim.GetFan(i)->GetRPM()) << i;
        EXPECT_EQ(control.GetFan(i)->GetRPMMin(), sim.GetFan(i)->GetRPMMin()) << i;
        EXPECT_EQ(control.GetFan(i)->GetRPMMax(), sim.GetFan(i)->GetRPMMax()) << i;
    }
    ASSERT_EQ(control.sensors().size(), sim.sensors().size());
    for (int i = 0; i < sim.sensors().size(); ++i) {
        control.UpdateTempSensor(control.sensors()[i]);
        EXPECT_EQ(control.sensors()[i]->GetKey(), sim.sensors()[i]->GetKey());
        // The driver drops the low six bits of a reading: a quarter degree.
        EXPECT_NEAR(control.sensors()[i]->GetValue(), sim.sensors()[i]->GetValue(), 0.25);
    }

    const int nOpensAtStart = pFiles->nOpens;
    const QStringList descriptors = openDescriptors();
    for (int pass = 0; pass < 40; ++pass) { // 60 s of 1.5 s update passes
        clock.advanceMsecs(1500);
        for (int i = 0; i < control.fanCount(); ++i)
            control.UpdateFanInfo(i, pass % 2 == 1);
        for (QTempSensor* pSensor : control.sensors())
            control.UpdateTempSensor(pSensor);
    }
    EXPECT_EQ(pFiles->nOpens, nOpensAtStart);
    EXPECT_EQ(openDescriptors(), descriptors);
}

INSTANTIATE_TEST_SUITE_P(Shipped, AppleSmcProfile,
                         ::testing::Values("MacBookPro8,2", "MacPro4,1", "Macmini5,1", "iMac13,1"));

// A two-fan machine as the driver shows it.
QDriverDouble* twoFans()
{
    auto* p = new QDriverDouble;
    p->files = {
        {"fan1_input", "2002\n"},  {"fan1_min", "2000\n"},     {"fan1_max", "6200\n"},
        {"fan1_output", "2000\n"}, {"fan1_manual", "0\n"},     {"fan1_label", "Left Side\n"},
        {"fan2_input", "1998\n"},  {"fan2_manual", "1\n"},     {"temp1_input", "45500\n"},
        {"temp1_label", "TC0P\n"}, {"temp2_input", "-2000\n"}, {"temp2_label", "TA0P\n"}};
    return p;
}

int readKey(QAppleSmcTransport& transport, const char* key, QByteArray& hex)
{
    SMCVal_t val;
    const int nResult = SmcProtocolUtils::readKey(&transport, key, &val);
    hex = QByteArray(reinterpret_cast<const char*>(val.bytes), int(val.dataSize)).toHex();
    return nResult;
}

TEST(AppleSmc, MappedKeysAndFailures)
{
    // file to change ("" none), its new text ("<gone>" vanishes), key, expected result, value
    struct Row
    {
        const char *file, *text, *key;
        int nResult;
        const char* hex;
    };
    const Row rows[] = {
        {"", "", "F0Ac", 0, "1f48"},
        {"", "", "F0ID", 0,
         "000000004c65667420536964650000"
         "00"},
        {"", "", "FNum", 0, "02"},
        {"", "", "FS! ", 0, "0002"},
        {"", "", "TC0P", 0, "2d80"},
        {"", "", "TA0P", 0, "fe00"},
        {"", "", "#KEY", 0, "0000000b"},
        {"", "", "F1Mn", kSmcReturnNotFound, ""},
        {"fan1_input", "16384\n", "F0Ac", kSmcReturnError, "0000"},
        {"fan1_input", "12ab\n", "F0Ac", kSmcReturnError, "0000"},
        {"fan1_input", "", "F0Ac", kSmcReturnError, "0000"},
        {"fan2_manual", "on\n", "FS! ", kSmcReturnError, "0000"},
        {"temp1_input", "<gone>", "TC0P", kSmcReturnError, "0000"},
        {"temp1_input", "9000000\n", "TC0P", kSmcReturnError, "0000"},
    };
    for (const Row& row : rows) {
        QDriverDouble* pFiles = twoFans();
        QAppleSmcTransport transport(pFiles, [] { return int64_t(0); });
        ASSERT_TRUE(transport.open());
        EXPECT_FALSE(transport.usesControllerIndex());
        if (std::string(row.text) == "<gone>")
            pFiles->vanished.insert(row.file);
        else if (*row.file)
            pFiles->files[row.file] = row.text;
        QByteArray hex;
        EXPECT_EQ(readKey(transport, row.key, hex), row.nResult) << row.file << " " << row.key;
        if (row.nResult == 0) {
            EXPECT_EQ(hex, QByteArray(row.hex)) << row.key;
        }
    }
}

TEST(AppleSmc, VanishedFileIsReopenedOnALaterPass)
{
    QDriverDouble* pFiles = twoFans();
    int64_t nNow = 0;
    QAppleSmcTransport transport(pFiles, [&nNow] { return nNow; });
    ASSERT_TRUE(transport.open());
    pFiles->vanished.insert("temp1_input");
    QByteArray hex;
    EXPECT_NE(readKey(transport, "TC0P", hex), 0);
    pFiles->vanished.clear();
    pFiles->files.erase("temp1_input");
    const int nOpens = pFiles->nOpens;
    nNow = QAppleSmcTransport::kReopenIntervalMs - 1;
    EXPECT_NE(readKey(transport, "TC0P", hex), 0);
    EXPECT_EQ(pFiles->nOpens, nOpens); // not yet tried again
    nNow = QAppleSmcTransport::kReopenIntervalMs;
    EXPECT_NE(readKey(transport, "TC0P", hex), 0);
    EXPECT_EQ(pFiles->nOpens, nOpens + 1);
    pFiles->files["temp1_input"] = "50000\n";
    nNow += QAppleSmcTransport::kReopenIntervalMs;
    EXPECT_EQ(readKey(transport, "TC0P", hex), 0);
    EXPECT_EQ(hex, "3200");
}

TEST(AppleSmc, WritesOnlyTargetAndManualFlags)
{
    // key, value, expected result, file, its text afterwards
    struct Row
    {
        const char *key, *hex;
        int nResult;
        const char *file, *text;
    };
    const Row rows[] = {
        {"F0Tg", "1770", 0, "fan1_output", "1500"},
        {"FS! ", "0001", 0, "fan1_manual", "1"},
        {"FS! ", "0001", 0, "fan2_manual", "0"},
        {"F0Mn", "1770", kSmcReturnNotPrivileged, "fan1_min", "2000\n"},
        {"TC0P", "3200", kSmcReturnNotPrivileged, "temp1_input", "45500\n"},
        {"F1Tg", "1770", kSmcReturnNotFound, "fan2_input", "1998\n"},
        {"F0Tg", "17", kSmcReturnError, "fan1_output", "2000\n"},
    };
    for (const Row& row : rows) {
        QDriverDouble* pFiles = twoFans();
        QAppleSmcTransport transport(pFiles);
        ASSERT_TRUE(transport.open());
        SMCVal_t val{};
        memcpy(val.key, row.key, 4);
        std::string bytes;
        SmcCodecUtils::parseHex(row.hex, &bytes);
        val.dataSize = uint32_t(bytes.size());
        memcpy(val.bytes, bytes.data(), bytes.size());
        EXPECT_EQ(SmcProtocolUtils::writeKey(&transport, val), row.nResult) << row.key;
        EXPECT_EQ(pFiles->files[row.file], row.text) << row.key;
    }
    QDriverDouble* pFiles = twoFans();
    pFiles->refused.insert("fan1_output");
    QAppleSmcTransport transport(pFiles);
    ASSERT_TRUE(transport.open());
    SMCVal_t val{};
    memcpy(val.key, "F0Tg", 4);
    val.dataSize = 2;
    EXPECT_EQ(SmcProtocolUtils::writeKey(&transport, val), kSmcReturnError);
}

// As root the index is the controller's own: every key, and the temperature keys found
// through the same lower-bound searches as on the simulator.
TEST(AppleSmc, ControllerIndexThroughKeyAtIndex)
{
    const QVector<QSimKey> keys = profileKeys("MacBookPro8,2");
    QDriverDouble* pFiles = twoFans();
    pFiles->table = keys;
    pFiles->files["key_count"] = std::to_string(keys.size()) + "\n";
    QSmcControlMac smc(new QAppleSmcTransport(pFiles));
    ASSERT_TRUE(smc.Open());
    QSimMachine simulated(keys);

    QVector<QString> found, expected;
    smc.LoadTempSensors(found);
    simulated.pSmc->LoadTempSensors(expected);
    EXPECT_EQ(found, expected);
    ASSERT_EQ(smc.keyCount(), quint32(keys.size()));
    for (int index : {0, 1, keys.size() / 2, keys.size() - 1}) {
        applesmc_entry entry;
        ASSERT_TRUE(smc.copyEntryByIndex(index, &entry));
        EXPECT_EQ(QByteArray(entry.key), keys[index].key);
        EXPECT_EQ(QByteArray(entry.dataType), keys[index].type);
        EXPECT_EQ(entry.dataSize, keys[index].bytes.size());
    }

    // A dump reads every value as the controller holds it.
    auto* pTransport = static_cast<QAppleSmcTransport*>(smc.transport());
    ASSERT_TRUE(pTransport->usesControllerIndex());
    pTransport->setControllerValues(true);
    for (int index : {2, keys.size() / 3, keys.size() - 1}) {
        QByteArray hex;
        ASSERT_EQ(readKey(*pTransport, keys[index].key.constData(), hex), 0);
        EXPECT_EQ(hex, keys[index].bytes.toHex()) << keys[index].key.constData();
    }
}

struct ToolRun
{
    int nExitCode = -1;
    QByteArray out;
};

// The key-writing tool on a tree; input, when given, is its standard input, closed at once.
ToolRun runTool(const QString& tree, QStringList args, const QByteArray& input = QByteArray())
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("THERMORA_SMC_SOCKET");
    env.insert("THERMORA_APPLESMC_DIR", tree);
    process.setProcessEnvironment(env);
    QString program = TestSupport::binDir() + "/smc";
    if (args.first() == "setpriv")
        program = args.takeFirst();
    process.start(program, args);
    process.write(input);
    process.closeWriteChannel();
    ToolRun run;
    if (process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit)
        run.nExitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    return run;
}

QByteArray fileText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : "none";
}

TEST(AppleSmcTool, WritesOnlyTargetAndManualFlagsAndGivesBack)
{
    QTemporaryDir dir;
    QString error;
    ASSERT_TRUE(AppleSmcTreeUtils::writeTree(profileKeys("MacBookPro8,2"), dir.path(), &error));
    const QString tree = dir.path();
    // arguments, exit code, file, its text afterwards
    struct Row
    {
        QStringList args;
        int nExitCode;
        const char *file, *text;
    };
    const Row rows[] = {
        {{"-k", "F0Tg", "-w", "1770"}, 0, "fan1_output", "1500"},
        {{"-k", "FS! ", "-w", "0003"}, 0, "fan2_manual", "1"},
        {{"-k", "F0Mn", "-w", "1770"}, 2, "fan1_min", "2000\n"},
        {{"-k", "F0Ac", "-w", "1770"}, 2, "fan1_input", "2002\n"},
        {{"-k", "F2Tg", "-w", "1770"}, 1, "fan1_output", "1500"},
        {{"--give-back"}, 0, "fan1_manual", "0"},
        {{"--give-back"}, 0, "fan2_manual", "0"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(runTool(tree, row.args, "x").nExitCode, row.nExitCode)
            << row.args.join(' ').toStdString();
        EXPECT_EQ(fileText(tree + "/" + row.file), QByteArray(row.text)) << row.file;
    }
    const ToolRun list = runTool(tree, {"-l"});
    EXPECT_EQ(list.nExitCode, 0);
    EXPECT_EQ(list.out.count('\n'), 49); // 2 fans x 5, "FNum", "FS! ", 36 sensors, "#KEY"
    EXPECT_TRUE(list.out.contains("F1ID  [{fds]  \"Right Side\""));

    // A folder the caller names is opened with the caller's rights, also by a set-user-ID tool.
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root";
    const QString setuidTool = dir.filePath("smc-setuid");
    ASSERT_TRUE(QFile::copy(TestSupport::binDir() + "/smc", setuidTool));
    ASSERT_EQ(chmod(QFile::encodeName(setuidTool), 04755), 0);
    ASSERT_EQ(chmod(QFile::encodeName(tree), 0755), 0);
    const ToolRun refused =
        runTool(tree, {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", setuidTool,
                       "-k", "F0Tg", "-w", "1f40"});
    EXPECT_EQ(refused.nExitCode, 1);
    EXPECT_EQ(fileText(tree + "/fan1_output"), "1500");
}

} // namespace
