// The key-writing tool as a real process against a running simulator daemon: what it writes,
// everything it refuses, its read-only listing, and that it never lends its privileges to a
// socket its caller names.
#include "SimProcessTestUtils.h"
#include "smc/base/SmcKeyToolUtils.h"
#include "smc/sim/SimDumpUtils.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString smcTool()
{
    return TestSupport::binDir() + "/smc";
}

// Two fans under manual control (so only writes move their targets), a temperature, and keys
// the tool must not write.
QVector<QSimKey> twoFanTable()
{
    QVector<QSimKey> keys;
    for (const char* key : {"F0Mn", "F0Mx", "F0Tg", "F1Mn", "F1Mx", "F1Tg"})
        keys.append({key, "fpe2", "\x1f\x40"});
    keys += {{"FNum", "ui8 ", "\x02"},
             {"FS! ", "ui16", QByteArray("\x00\x03", 2)},
             {"TC0P", "sp78", "\x2d\x80"}};
    SimDumpUtils::finishTable(keys);
    return keys;
}

// Every key that only a write can change.
QMap<QByteArray, QByteArray> settledValues(QSmcControlMac& smc)
{
    QMap<QByteArray, QByteArray> values;
    for (const QSimKey& k : twoFanTable()) {
        if (!k.key.startsWith('T'))
            values.insert(k.key, readKey(smc, k.key.constData()).toHex());
    }
    return values;
}

bool installCopy(const QString& path, mode_t mode)
{
    const QByteArray native = QFile::encodeName(path);
    return QFile::copy(smcTool(), path) && chown(native, 0, 0) == 0 && chmod(native, mode) == 0;
}

} // namespace

class TestSmcTool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void runs_data();
    void runs();
    void noLibraryBeyondTheRuntime();
    void writesWithStandardDescriptorsClosed();
    void listsEveryKeyOfAProfile();
    void privilegesOnlyForTheTrustedSocket();

private:
    QTemporaryDir m_Dir;
    QString m_SocketPath;
    QSimDaemonProcess m_Daemon;
    std::unique_ptr<QSmcControlMac> m_pSmc;
};

void TestSmcTool::initTestCase()
{
    QVERIFY(QFileInfo(smcTool()).isExecutable());
    QVERIFY(chmod(QFile::encodeName(m_Dir.path()), 0755) == 0); // reachable by "nobody"
    const QString dump = m_Dir.filePath("twofan.dump");
    QString error;
    QVERIFY2(SimDumpUtils::saveDumpFile(dump, twoFanTable(), &error), qPrintable(error));
    m_SocketPath = m_Dir.filePath("sim.sock");
    QVERIFY(!m_Daemon.start(m_SocketPath, {"--dump", dump, "--seed", "1"}).isEmpty());
    m_pSmc.reset(new QSmcControlMac(new QSmcTransportSocket(m_SocketPath)));
    QVERIFY(m_pSmc->Open());
}

void TestSmcTool::runs_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message"); // after "smc: ", empty for none
    QTest::addColumn<QString>("change");  // KEY=hex written, or what standard output shows
    const QString usage = "usage: smc -k KEY -w HEX | smc -l | smc -r -k KEY";
    const QString badKey = "key must be four printable ASCII characters";
    const QString digit = "value: not a lower-case hexadecimal digit";
    QTest::newRow("fan 0 target") << QStringList{"-k", "F0Tg", "-w", "1770"} << 0 << ""
                                  << "F0Tg=1770";
    QTest::newRow("fan 9 target") << QStringList{"-k", "F1Tg", "-w", "2ee0"} << 0 << ""
                                  << "F1Tg=2ee0";
    QTest::newRow("mask") << QStringList{"-k", "FS! ", "-w", "0001"} << 0 << ""
                          << "FS! =0001";
    QTest::newRow("read one") << QStringList{"-r", "-k", "FS! "} << 0 << ""
                              << "  FS!   [ui16]  3 (bytes 00 03)\n";
    QTest::newRow("no arguments") << QStringList() << 2 << usage << "";
    QTest::newRow("key only") << QStringList{"-k", "F0Tg"} << 2 << usage << "";
    QTest::newRow("swapped order") << QStringList{"-w", "1770", "-k", "F0Tg"} << 2 << usage << "";
    QTest::newRow("extra argument")
        << QStringList{"-k", "F0Tg", "-w", "1770", "-v"} << 2 << usage << "";
    QTest::newRow("read and write")
        << QStringList{"-r", "-k", "F0Tg", "-w", "1770"} << 2 << usage << "";
    QTest::newRow("list with a key") << QStringList{"-l", "F0Tg"} << 2 << usage << "";
    QTest::newRow("read without -k") << QStringList{"-r", "F0Tg", "F0Tg"} << 2 << usage << "";
    QTest::newRow("short key") << QStringList{"-k", "F0T", "-w", "1770"} << 2 << badKey << "";
    QTest::newRow("mask key without its blank")
        << QStringList{"-k", "FS!", "-w", "0001"} << 2 << badKey << "";
    QTest::newRow("tab in key") << QStringList{"-k", "F0T\t", "-w", "1770"} << 2 << badKey << "";
    QTest::newRow("DEL in key") << QStringList{"-k", "F0T\x7f", "-w", "1770"} << 2 << badKey << "";
    QTest::newRow("read short key") << QStringList{"-r", "-k", "FS!"} << 2 << badKey << "";
    QTest::newRow("odd digits") << QStringList{"-k", "F0Tg", "-w", "177"} << 2
                                << "value: odd number of hexadecimal digits"
                                << "";
    QTest::newRow("upper case") << QStringList{"-k", "F0Tg", "-w", "17A0"} << 2
                                << digit + " at position 3"
                                << "";
    QTest::newRow("non-ASCII value")
        << QStringList{"-k", "F0Tg", "-w", "17\u00e9"} << 2 << digit << "";
    QTest::newRow("empty value") << QStringList{"-k", "F0Tg", "-w", ""} << 2
                                 << "value: at least one byte is needed"
                                 << "";
    QTest::newRow("33 bytes") << QStringList{"-k", "F0Tg", "-w", QString(66, '0')} << 2
                              << "value: more than 32 bytes"
                              << "";
    QTest::newRow("fan count") << QStringList{"-k", "FNum", "-w", "03"} << 2
                               << "key \"FNum\" may not be written"
                               << "";
    QTest::newRow("fan minimum") << QStringList{"-k", "F0Mn", "-w", "0000"} << 2
                                 << "key \"F0Mn\" may not be written"
                                 << "";
    QTest::newRow("lower-case target")
        << QStringList{"-k", "F0tg", "-w", "1770"} << 2 << "key \"F0tg\" may not be written"
        << "";
    QTest::newRow("letter for the fan")
        << QStringList{"-k", "FaTg", "-w", "1770"} << 2 << "key \"FaTg\" may not be written"
        << "";
    QTest::newRow("target, other ending")
        << QStringList{"-k", "F0TG", "-w", "1770"} << 2 << "key \"F0TG\" may not be written"
        << "";
    QTest::newRow("size mismatch")
        << QStringList{"-k", "F0Tg", "-w", "177000"} << 1 << "writing \"F0Tg\" failed (e00002bc)"
        << "";
    QTest::newRow("fan that does not exist")
        << QStringList{"-k", "F5Tg", "-w", "1770"} << 1 << "writing \"F5Tg\" failed (e00002f0)"
        << "";
    QTest::newRow("read unknown") << QStringList{"-r", "-k", "ZZZZ"} << 1
                                  << "reading \"ZZZZ\" failed (e00002f0)"
                                  << "";
}

// Each run either makes exactly its one change or changes nothing and says why in one line.
void TestSmcTool::runs()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QFETCH(QString, change);
    for (const char* key : {"F0Tg", "F1Tg"})
        QCOMPARE(writeKey(*m_pSmc, key, "\x1f\x40"), 0);
    QCOMPARE(writeKey(*m_pSmc, "FS! ", QByteArray("\x00\x03", 2)), 0);
    QMap<QByteArray, QByteArray> expected = settledValues(*m_pSmc);

    const QProcessRun run = runProgram(smcTool(), args, m_SocketPath);
    QCOMPARE(run.nExitCode, exitCode);
    QCOMPARE(QString(run.err), message.isEmpty() ? QString() : "smc: " + message + "\n");
    if (change.contains('=')) {
        expected[change.left(4).toLatin1()] = change.mid(5).toLatin1();
        change.clear();
    }
    QCOMPARE(QString(run.out), change);
    QCOMPARE(settledValues(*m_pSmc), expected);
}

// Set-user-ID, the tool must not drag in the toolkit or anything else beyond the runtime.
void TestSmcTool::noLibraryBeyondTheRuntime()
{
    const QProcessRun run = runProgram("ldd", {smcTool()});
    QCOMPARE(run.nExitCode, 0);
    for (const QByteArray& line : run.out.split('\n')) {
        const QByteArray name = line.trimmed().split(' ').first();
        QVERIFY2(
            name.isEmpty() ||
                QRegularExpression(
                    "^(linux-vdso|/lib64/ld-linux|lib(c|m|gcc_s|stdc\\+\\+|pthread|dl|rt))[.-]")
                    .match(QString(name))
                    .hasMatch(),
            line.constData());
    }
}

// Started with its standard descriptors closed, the tool still writes (and never mistakes the
// socket it opens for one of them).
void TestSmcTool::writesWithStandardDescriptorsClosed()
{
    QCOMPARE(writeKey(*m_pSmc, "F1Tg", "\x17\x70"), 0);
    const QString command = "exec \"$0\" -k F1Tg -w 1f40 <&- >&- 2>&-";
    QCOMPARE(runProgram("/bin/sh", {"-c", command, smcTool()}, m_SocketPath).nExitCode, 0);
    QCOMPARE(readKey(*m_pSmc, "F1Tg"), QByteArray("\x1f\x40"));
}

// Listing a simulator serving a shipped dump gives every key with its type and bytes, in
// key-index order, as dump lines.
void TestSmcTool::listsEveryKeyOfAProfile()
{
    const QString dumpPath = TestSupport::profilesDir() + "/MacPro4,1.dump";
    QVector<QSimKey> expected;
    QString error;
    QVERIFY2(SimDumpUtils::loadDumpFile(dumpPath, expected, &error), qPrintable(error));
    QSimDaemonProcess daemon;
    const QString socketPath = m_Dir.filePath("list.sock");
    QVERIFY(!daemon.start(socketPath, {"--dump", dumpPath}).isEmpty());
    const QProcessRun run = runProgram(smcTool(), {"-l"}, socketPath);
    QCOMPARE(run.nExitCode, 0);
    QCOMPARE(run.err, QByteArray());
    QList<QByteArray> lines = run.out.split('\n');
    QCOMPARE(lines.takeLast(), QByteArray()); // ends with a line break
    QCOMPARE(lines.size(), expected.size());
    int nSame = 0;
    for (int i = 0; i < lines.size(); ++i) {
        QSimKey listed;
        QCOMPARE(SimDumpUtils::parseDumpLine(lines.at(i), listed, nullptr), 1);
        const QSimKey& want = expected.at(i);
        QCOMPARE(listed.key + listed.type, want.key + want.type);
        QCOMPARE(listed.bytes.size(), want.bytes.size());
        nSame += lines.at(i) == SimDumpUtils::formatDumpLine(want.key, want.type, want.bytes);
    }
    QVERIFY(nSame > expected.size() / 2); // all but the keys the model moves
    QCOMPARE(runProgram(smcTool(), {"-l"}, m_Dir.filePath("none.sock")).err,
             "smc: cannot open the SMC simulator at " + m_Dir.filePath("none.sock").toUtf8() +
                 "\n");
}

// Installed set-user-ID root, the tool writes with its privileges only to the simulator at the
// fixed trusted path; a socket its caller names is contacted as the caller.
void TestSmcTool::privilegesOnlyForTheTrustedSocket()
{
    const QString trusted = SmcKeyToolUtils::kTrustedSocketPath;
    if (geteuid() != 0 || QFileInfo::exists(trusted))
        QSKIP("needs root and a free trusted socket path");
    const QString setuidTool = m_Dir.filePath("smc-setuid"),
                  plainTool = m_Dir.filePath("smc-plain");
    QVERIFY(installCopy(setuidTool, 04755) && installCopy(plainTool, 0755));
    const QStringList nobody = {"--reuid=65534", "--regid=65534", "--clear-groups"};
    const QString dump = m_Dir.filePath("twofan.dump");
    for (const QString& socketPath : {m_Dir.filePath("rootonly.sock"), trusted}) {
        QSimDaemonProcess daemon;
        QVERIFY(!daemon.start(socketPath, {"--dump", dump, "--root-writes-only"}).isEmpty());
        QSmcControlMac smc(new QSmcTransportSocket(socketPath));
        QVERIFY(smc.Open());
        const bool bTrusted = socketPath == trusted;
        for (const QString& tool : {plainTool, setuidTool}) {
            QVERIFY(writeKey(smc, "F0Tg", "\x1f\x40") == 0);
            const QProcessRun run =
                runProgram("setpriv", nobody + QStringList{tool, "-k", "F0Tg", "-w", "1770"},
                           bTrusted ? QString() : socketPath);
            const bool bWritten = bTrusted && tool == setuidTool;
            QCOMPARE(run.nExitCode, bWritten ? 0 : 1);
            QCOMPARE(readKey(smc, "F0Tg"), QByteArray(bWritten ? "\x17\x70" : "\x1f\x40"));
        }
    }
}

QTEST_GUILESS_MAIN(TestSmcTool)
#include "tst_smctool.moc"
