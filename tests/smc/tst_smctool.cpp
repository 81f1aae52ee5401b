// The key-writing tool as a real process against a running simulator daemon: what it writes,
// everything it refuses, its read-only listing, and that it never lends its privileges to a
// socket its caller names.
#include "smc/QSmcControlMac.h"
#include "smc/base/SmcKeyToolUtils.h"
#include "smc/SmcValueUtils.h"
#include "smc/sim/QSmcTransportSocket.h"
#include "smc/sim/SimDumpUtils.h"
#include "support/TestSupport.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kProcessTimeoutMs = 20000;

// One simulator daemon for the life of the object; stopped (and its socket removed) at the end.
class QSimDaemon
{
public:
    ~QSimDaemon() { stop(); }

    bool start(const QStringList& args, const QString& socketPath)
    {
        m_SocketPath = socketPath;
        m_Process.setProgram(TestSupport::binDir() + QStringLiteral("/thermora-smcsim"));
        m_Process.setArguments(QStringList{QStringLiteral("--socket"), socketPath} + args);
        m_Process.start();
        QByteArray out;
        while (!out.contains('\n')) {
            if (!m_Process.waitForReadyRead(kProcessTimeoutMs)) {
                qWarning() << "simulator did not start:" << m_Process.readAllStandardError();
                return false;
            }
            out += m_Process.readAllStandardOutput();
        }
        return out.startsWith("thermora-smcsim: serving");
    }

    void stop()
    {
        if (m_Process.state() != QProcess::NotRunning) {
            m_Process.terminate();
            if (!m_Process.waitForFinished(kProcessTimeoutMs))
                m_Process.kill();
        }
    }

    // A backend of the test's own on the daemon's socket.
    std::unique_ptr<QSmcControlMac> connect() const
    {
        std::unique_ptr<QSmcControlMac> pSmc(
            new QSmcControlMac(new QSmcTransportSocket(m_SocketPath)));
        return pSmc->Open() ? std::move(pSmc) : nullptr;
    }

private:
    QProcess m_Process;
    QString m_SocketPath;
};

struct ToolRun
{
    int nExitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a tool binary with the simulator socket (empty: none in its environment), as root or as
// the unprivileged user "nobody".
ToolRun runTool(const QString& tool, const QStringList& args, const QString& socketPath,
                bool bAsNobody = false)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("THERMORA_SMC_SOCKET"));
    if (!socketPath.isEmpty())
        env.insert(QStringLiteral("THERMORA_SMC_SOCKET"), socketPath);
    process.setProcessEnvironment(env);
    if (bAsNobody) {
        process.setProgram(QStringLiteral("setpriv"));
        process.setArguments(QStringList{QStringLiteral("--reuid=65534"),
                                         QStringLiteral("--regid=65534"),
                                         QStringLiteral("--clear-groups"), tool} +
                             args);
    } else {
        process.setProgram(tool);
        process.setArguments(args);
    }
    process.start();
    ToolRun run;
    if (!process.waitForFinished(kProcessTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.nExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QString smcTool()
{
    return TestSupport::binDir() + QStringLiteral("/smc");
}

QSimKey simKey(const QByteArray& key, const QByteArray& type, const QByteArray& bytes)
{
    QSimKey k;
    k.key = key;
    k.type = type;
    k.bytes = bytes;
    return k;
}

// Two fans from 1000 to 6000 RPM, both targets at 2000 RPM, in automatic mode.
QVector<QSimKey> twoFanTable()
{
    QVector<QSimKey> keys = {
        simKey("F0Ac", "fpe2", QByteArray("\x1f\x40", 2)),
        simKey("F0Mn", "fpe2", QByteArray("\x0f\xa0", 2)),
        simKey("F0Mx", "fpe2", QByteArray("\x5d\xc0", 2)),
        simKey("F0Tg", "fpe2", QByteArray("\x1f\x40", 2)),
        simKey("F1Ac", "fpe2", QByteArray("\x1f\x40", 2)),
        simKey("F1Mn", "fpe2", QByteArray("\x0f\xa0", 2)),
        simKey("F1Mx", "fpe2", QByteArray("\x5d\xc0", 2)),
        simKey("F1Tg", "fpe2", QByteArray("\x1f\x40", 2)),
        simKey("FNum", "ui8 ", QByteArray("\x02", 1)),
        simKey("FS! ", "ui16", QByteArray("\x00\x00", 2)),
        simKey("MSAc", "ui16", QByteArray("\x00\x10", 2)),
        simKey("TC0P", "sp78", QByteArray("\x2d\x80", 2)),
    };
    SimDumpUtils::finishTable(keys);
    return keys;
}

// Keys the simulator's dynamics change by themselves: temperatures and actual fan speeds.
bool movesByItself(const QByteArray& key)
{
    return key.startsWith('T') || key.startsWith('t') ||
           (key.startsWith('F') && key.endsWith("Ac"));
}

// The value of every key that only a write can change (both fans under manual control).
QMap<QByteArray, QByteArray> settledValues(QSmcControlMac& smc, const QVector<QSimKey>& table)
{
    QMap<QByteArray, QByteArray> values;
    for (const QSimKey& k : table) {
        if (movesByItself(k.key))
            continue;
        SMCVal_t val;
        if (smc.SMCReadKey(k.key.constData(), &val) == 0)
            values.insert(k.key, QByteArray(reinterpret_cast<const char*>(val.bytes),
                                            static_cast<int>(qMin<uint32_t>(val.dataSize, 32))));
    }
    return values;
}

// Puts both fans under manual control, so that their targets change only when written (in
// automatic mode the simulated controller sets them itself).
bool holdTargets(QSmcControlMac& smc)
{
    SMCVal_t mask;
    memset(&mask, 0, sizeof(mask));
    memcpy(mask.key, "FS! ", 4);
    mask.dataSize = 2;
    SmcValueUtils::encodeFanModeMask(0x03, mask.bytes);
    return smc.SMCWriteKey(mask) == kSmcReturnSuccess;
}

int readFanSpeed(QSmcControlMac& smc, const char* key)
{
    unsigned char bytes[2] = {0, 0};
    return smc.ReadKey(key, bytes, 2) == 0 ? SmcValueUtils::decodeFanSpeed(bytes) : -1;
}

} // namespace

class TestSmcTool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void writesThroughTheSimulator_data();
    void writesThroughTheSimulator();
    void refusedFormsChangeNothing_data();
    void refusedFormsChangeNothing();
    void writesWithStandardDescriptorsClosed();
    void listsEveryKeyOfAProfile();
    void readsOneKey();
    void noPrivilegesForCallerNamedSockets();
    void trustedSocketGetsTheToolsWrites();

private:
    QTemporaryDir m_Dir;
    QString m_SocketPath;
    QVector<QSimKey> m_Table;
    QSimDaemon m_Daemon;
};

void TestSmcTool::initTestCase()
{
    QVERIFY(QFileInfo(smcTool()).isExecutable());
    QVERIFY(m_Dir.isValid());
    // Reachable by the unprivileged user the privilege tests run as.
    QVERIFY(chmod(QFile::encodeName(m_Dir.path()).constData(), 0755) == 0);
    m_Table = twoFanTable();
    const QString dump = m_Dir.filePath(QStringLiteral("twofan.dump"));
    QString error;
    QVERIFY2(SimDumpUtils::saveDumpFile(dump, m_Table, &error), qPrintable(error));
    m_SocketPath = m_Dir.filePath(QStringLiteral("sim.sock"));
    QVERIFY(m_Daemon.start({QStringLiteral("--dump"), dump}, m_SocketPath));
    auto pSmc = m_Daemon.connect();
    QVERIFY(pSmc && holdTargets(*pSmc));
}

void TestSmcTool::writesThroughTheSimulator_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("mask, fan 0 only") << "FS! " << QString("0001") << QByteArray("\x00\x01", 2);
    QTest::newRow("mask, fans 0 and 1") << "FS! " << QString("0003") << QByteArray("\x00\x03", 2);
    QTest::newRow("fan 0 to 1500 rpm") << "F0Tg" << QString("1770") << QByteArray("\x17\x70", 2);
    QTest::newRow("fan 1 to 3000 rpm") << "F1Tg" << QString("2ee0") << QByteArray("\x2e\xe0", 2);
}

void TestSmcTool::writesThroughTheSimulator()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, expected);
    const ToolRun run = runTool(smcTool(), {"-k", key, "-w", value}, m_SocketPath);
    QCOMPARE(run.nExitCode, 0);
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.out, QByteArray());

    auto pSmc = m_Daemon.connect();
    QVERIFY(pSmc);
    unsigned char bytes[2] = {0, 0};
    QCOMPARE(pSmc->ReadKey(key.toLatin1().constData(), bytes, 2), 0);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(bytes), 2), expected);
    if (key == QLatin1String("F0Tg"))
        QCOMPARE(readFanSpeed(*pSmc, "F0Tg"), 1500);
}

void TestSmcTool::refusedFormsChangeNothing_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no arguments") << QStringList();
    QTest::newRow("key only") << QStringList{"-k", "F0Tg"};
    QTest::newRow("value only") << QStringList{"-w", "1770"};
    QTest::newRow("swapped order") << QStringList{"-w", "1770", "-k", "F0Tg"};
    QTest::newRow("extra argument") << QStringList{"-k", "F0Tg", "-w", "1770", "-v"};
    QTest::newRow("long options") << QStringList{"--key", "F0Tg", "--write", "1770"};
    QTest::newRow("read and write") << QStringList{"-r", "-k", "F0Tg", "-w", "1770"};
    QTest::newRow("short key") << QStringList{"-k", "F0T", "-w", "1770"};
    QTest::newRow("mask key without its blank") << QStringList{"-k", "FS!", "-w", "0001"};
    QTest::newRow("long key") << QStringList{"-k", "F0Tgx", "-w", "1770"};
    QTest::newRow("tab in key") << QStringList{"-k", "F0T\t", "-w", "1770"};
    QTest::newRow("non-ASCII key")
        << QStringList{"-k", QString::fromUtf8("F0T\xc3\xa9"), "-w", "1770"};
    QTest::newRow("odd digit count") << QStringList{"-k", "F0Tg", "-w", "177"};
    QTest::newRow("upper-case digits") << QStringList{"-k", "F0Tg", "-w", "17A0"};
    QTest::newRow("0x prefix") << QStringList{"-k", "F0Tg", "-w", "0x1770"};
    QTest::newRow("empty value") << QStringList{"-k", "F0Tg", "-w", ""};
    QTest::newRow("33 bytes") << QStringList{"-k", "F0Tg", "-w", QString(66, QLatin1Char('0'))};
    QTest::newRow("fan count is not written") << QStringList{"-k", "FNum", "-w", "03"};
    QTest::newRow("fan minimum is not written") << QStringList{"-k", "F0Mn", "-w", "0000"};
    QTest::newRow("temperature is not written") << QStringList{"-k", "TC0P", "-w", "0000"};
    QTest::newRow("other key is not written") << QStringList{"-k", "MSAc", "-w", "0000"};
    QTest::newRow("lower-case target key") << QStringList{"-k", "F0tg", "-w", "1770"};
    QTest::newRow("letter for fan index") << QStringList{"-k", "FaTg", "-w", "1770"};
    QTest::newRow("size mismatch") << QStringList{"-k", "F0Tg", "-w", "177000"};
    QTest::newRow("fan that does not exist") << QStringList{"-k", "F5Tg", "-w", "1770"};
    QTest::newRow("list with a key") << QStringList{"-l", "F0Tg"};
}

void TestSmcTool::refusedFormsChangeNothing()
{
    QFETCH(QStringList, args);
    auto pSmc = m_Daemon.connect();
    QVERIFY(pSmc);
    const QMap<QByteArray, QByteArray> before = settledValues(*pSmc, m_Table);
    QVERIFY(before.contains("F0Tg"));

    const ToolRun run = runTool(smcTool(), args, m_SocketPath);
    QVERIFY2(run.nExitCode > 0, run.err.constData());
    QVERIFY2(run.err.startsWith("smc: "), run.err.constData());
    QCOMPARE(run.err.count('\n'), 1);
    QVERIFY(run.err.endsWith('\n'));
    QCOMPARE(run.out, QByteArray());

    QCOMPARE(settledValues(*pSmc, m_Table), before);
}

// Started with its standard descriptors closed, the tool still writes (and never mistakes the
// socket it opens for one of them).
void TestSmcTool::writesWithStandardDescriptorsClosed()
{
    const QString command = QStringLiteral("exec \"$0\" -k F1Tg -w 1f40 <&- >&- 2>&-");
    const ToolRun run =
        runTool(QStringLiteral("/bin/sh"), {"-c", command, smcTool()}, m_SocketPath);
    QCOMPARE(run.nExitCode, 0);
    auto pSmc = m_Daemon.connect();
    QVERIFY(pSmc);
    QCOMPARE(readFanSpeed(*pSmc, "F1Tg"), 2000);
}

// Listing a simulator loaded from a shipped dump gives back every key with its type, size and
// bytes, in key-index order.
void TestSmcTool::listsEveryKeyOfAProfile()
{
    const QString dumpPath = TestSupport::profilesDir() + QStringLiteral("/MacPro4,1.dump");
    QVector<QSimKey> expected;
    QString error;
    QVERIFY2(SimDumpUtils::loadDumpFile(dumpPath, expected, &error), qPrintable(error));

    QSimDaemon daemon;
    const QString socketPath = m_Dir.filePath(QStringLiteral("list.sock"));
    QVERIFY(daemon.start({QStringLiteral("--dump"), dumpPath}, socketPath));
    const ToolRun run = runTool(smcTool(), {QStringLiteral("-l")}, socketPath);
    QCOMPARE(run.nExitCode, 0);
    QCOMPARE(run.err, QByteArray());

    QList<QByteArray> lines = run.out.split('\n');
    QCOMPARE(lines.takeLast(), QByteArray()); // ends with a line break
    QCOMPARE(lines.size(), expected.size());
    int nCompared = 0;
    for (int i = 0; i < lines.size(); ++i) {
        QSimKey listed;
        QString reason;
        QCOMPARE(SimDumpUtils::parseDumpLine(lines.at(i), listed, &reason), 1);
        const QSimKey& want = expected.at(i);
        QCOMPARE(listed.key, want.key);
        QCOMPARE(listed.type, want.type);
        QCOMPARE(listed.bytes.size(), want.bytes.size());
        if (!movesByItself(want.key)) {
            QVERIFY2(listed.bytes == want.bytes, want.key.constData());
            QCOMPARE(lines.at(i), SimDumpUtils::formatDumpLine(want.key, want.type, want.bytes));
            ++nCompared;
        }
    }
    QVERIFY(nCompared > expected.size() / 2);
}

void TestSmcTool::readsOneKey()
{
    const ToolRun run = runTool(smcTool(), {"-r", "-k", "FS! "}, m_SocketPath);
    QCOMPARE(run.nExitCode, 0);
    QSimKey listed;
    QCOMPARE(SimDumpUtils::parseDumpLine(run.out.trimmed(), listed, nullptr), 1);
    QCOMPARE(listed.key, QByteArray("FS! "));
    QCOMPARE(listed.type, QByteArray("ui16"));
    QCOMPARE(listed.bytes.size(), 2);

    const ToolRun missing = runTool(smcTool(), {"-r", "-k", "ZZZZ"}, m_SocketPath);
    QVERIFY(missing.nExitCode > 0);
    QCOMPARE(missing.out, QByteArray());
    QCOMPARE(missing.err.count('\n'), 1);
}

// Installed set-user-ID root, the tool still connects to a socket its caller names only as the
// caller, so a simulator that takes writes from root alone refuses them.
void TestSmcTool::noPrivilegesForCallerNamedSockets()
{
    if (geteuid() != 0)
        QSKIP("needs root to install a set-user-ID copy of the tool");

    QSimDaemon daemon;
    const QString socketPath = m_Dir.filePath(QStringLiteral("rootonly.sock"));
    const QString dump = m_Dir.filePath(QStringLiteral("twofan.dump"));
    QVERIFY(daemon.start({QStringLiteral("--dump"), dump, QStringLiteral("--root-writes-only")},
                         socketPath));
    const QString setuidTool = m_Dir.filePath(QStringLiteral("smc-setuid"));
    QVERIFY(QFile::copy(smcTool(), setuidTool));
    QVERIFY(chown(QFile::encodeName(setuidTool).constData(), 0, 0) == 0);
    QVERIFY(chmod(QFile::encodeName(setuidTool).constData(), 04755) == 0);

    auto pSmc = daemon.connect();
    QVERIFY(pSmc && holdTargets(*pSmc));
    const int nBefore = readFanSpeed(*pSmc, "F0Tg");
    QVERIFY(nBefore != 1500);
    const QStringList write = {"-k", "F0Tg", "-w", "1770"};
    for (const QString& tool : {smcTool(), setuidTool}) {
        const ToolRun run = runTool(tool, write, socketPath, true);
        QVERIFY2(run.nExitCode > 0, qPrintable(tool));
        QCOMPARE(run.err.count('\n'), 1);
        QCOMPARE(readFanSpeed(*pSmc, "F0Tg"), nBefore);
    }
    // The same write from root goes through: the refusals above are about privileges.
    QCOMPARE(runTool(smcTool(), write, socketPath).nExitCode, 0);
    QCOMPARE(readFanSpeed(*pSmc, "F0Tg"), 1500);
}

// With no socket named, the set-user-ID tool writes to the simulator at the fixed trusted path
// with its privileges; the same tool without its set-user-ID bit cannot.
void TestSmcTool::trustedSocketGetsTheToolsWrites()
{
    if (geteuid() != 0)
        QSKIP("needs root to install a set-user-ID copy of the tool");
    const QString trusted = QString::fromLatin1(SmcKeyToolUtils::kTrustedSocketPath);
    if (QFileInfo::exists(trusted))
        QSKIP("a simulator already serves the trusted socket; not disturbing it");
    if (!QFileInfo(QFileInfo(trusted).path()).isWritable())
        QSKIP("the trusted socket's folder is not writable");

    QSimDaemon daemon;
    const QString dump = m_Dir.filePath(QStringLiteral("twofan.dump"));
    QVERIFY(daemon.start({QStringLiteral("--dump"), dump, QStringLiteral("--root-writes-only")},
                         trusted));
    const QString setuidTool = m_Dir.filePath(QStringLiteral("smc-trusted"));
    const QString plainTool = m_Dir.filePath(QStringLiteral("smc-plain"));
    QVERIFY(QFile::copy(smcTool(), setuidTool));
    QVERIFY(QFile::copy(smcTool(), plainTool));
    QVERIFY(chown(QFile::encodeName(setuidTool).constData(), 0, 0) == 0);
    QVERIFY(chmod(QFile::encodeName(setuidTool).constData(), 04755) == 0);
    QVERIFY(chmod(QFile::encodeName(plainTool).constData(), 0755) == 0);

    auto pSmc = daemon.connect();
    QVERIFY(pSmc && holdTargets(*pSmc));
    const int nBefore = readFanSpeed(*pSmc, "F1Tg");
    QVERIFY(nBefore != 1500);
    const ToolRun refused = runTool(plainTool, {"-k", "F1Tg", "-w", "1770"}, QString(), true);
    QVERIFY(refused.nExitCode > 0);
    QCOMPARE(readFanSpeed(*pSmc, "F1Tg"), nBefore);

    const ToolRun run = runTool(setuidTool, {"-k", "F1Tg", "-w", "1770"}, QString(), true);
    QVERIFY2(run.nExitCode == 0, run.err.constData());
    QCOMPARE(readFanSpeed(*pSmc, "F1Tg"), 1500);
    // Naming the trusted path explicitly is the same as naming nothing.
    const ToolRun named = runTool(setuidTool, {"-k", "F1Tg", "-w", "2ee0"}, trusted, true);
    QCOMPARE(named.nExitCode, 0);
    QCOMPARE(readFanSpeed(*pSmc, "F1Tg"), 3000);
}

QTEST_GUILESS_MAIN(TestSmcTool)
#include "tst_smctool.moc"
