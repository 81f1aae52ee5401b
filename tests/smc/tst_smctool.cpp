// The key-writing tool and the simulator daemon as real processes: what the tool writes,
// everything it refuses, its read-only listing, that it never lends its privileges to a socket
// its caller names, and the daemon it talks to.
#include "smc/QSmcControlMac.h"
#include "smc/base/SimSocketUtils.h"
#include "smc/base/SmcKeyToolUtils.h"
#include "smc/sim/QSmcTransportSocket.h"
#include "smc/sim/SimDumpUtils.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct ProcessRun
{
    int nExitCode = -1; // -1: crashed or did not end
    QByteArray out, err;
};

// Runs a program to its end with the simulator socket in its environment (none when empty).
ProcessRun runProgram(const QString& program, const QStringList& args, const QString& socket)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("THERMORA_SMC_SOCKET");
    if (!socket.isEmpty())
        env.insert("THERMORA_SMC_SOCKET", socket);
    process.setProcessEnvironment(env);
    process.start(program, args);
    ProcessRun run;
    if (process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit)
        run.nExitCode = process.exitCode();
    process.kill();
    process.waitForFinished();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// One simulator daemon for the life of the object, stopped with SIGTERM at the end.
struct QSimDaemonProcess
{
    ~QSimDaemonProcess() { stop(); }
    // Its ready line, empty when it did not come up.
    QString start(const QString& socket, const QStringList& args)
    {
        process.start(TestSupport::binDir() + "/thermora-smcsim",
                      QStringList{"--socket", socket} + args);
        while (process.waitForStarted(20000) && !process.canReadLine()) {
            if (!process.waitForReadyRead(20000))
                return QString();
        }
        return QString::fromUtf8(process.readLine()).trimmed();
    }
    // Its exit code, -1 when it was not running or did not end normally.
    int stop(int nSignal = SIGTERM)
    {
        if (process.state() == QProcess::NotRunning)
            return -1;
        ::kill(pid_t(process.processId()), nSignal);
        const bool bEnded = process.waitForFinished(20000);
        process.kill();
        process.waitForFinished();
        return bEnded && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QProcess process;
};

QByteArray readKey(QSmcControlMac& smc, const char* key)
{
    SMCVal_t val;
    if (smc.SMCReadKey(key, &val) != 0)
        return "failed";
    return QByteArray(reinterpret_cast<const char*>(val.bytes), int(qMin(val.dataSize, 32u)));
}

int writeKey(QSmcControlMac& smc, const char* key, const QByteArray& bytes)
{
    SMCVal_t val;
    memset(&val, 0, sizeof val);
    memcpy(val.key, key, 4);
    val.dataSize = uint32_t(bytes.size());
    memcpy(val.bytes, bytes.constData(), size_t(bytes.size()));
    return smc.SMCWriteKey(val);
}

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
    void daemonServesUntilSignalled();
    void daemonRefusesBadArguments();
    void daemonDropsOnlyAConnectionThatSendsGarbage();

private:
    // Every key that only a write can change, as hexadecimal text.
    QMap<QByteArray, QByteArray> settledValues();

    QTemporaryDir m_Dir;
    QString m_SocketPath;
    QSimDaemonProcess m_Daemon;
    std::unique_ptr<QSmcControlMac> m_pSmc;
};

void TestSmcTool::initTestCase()
{
    QVERIFY(QFileInfo(smcTool()).isExecutable());
    QVERIFY(chmod(QFile::encodeName(m_Dir.path()), 0755) == 0); // reachable by "nobody"
    QString error;
    QVERIFY2(SimDumpUtils::saveDumpFile(m_Dir.filePath("twofan.dump"), twoFanTable(), &error),
             qPrintable(error));
    m_SocketPath = m_Dir.filePath("sim.sock");
    QVERIFY(!m_Daemon.start(m_SocketPath, {"--dump", m_Dir.filePath("twofan.dump")}).isEmpty());
    m_pSmc.reset(new QSmcControlMac(new QSmcTransportSocket(m_SocketPath)));
    QVERIFY(m_pSmc->Open());
}

QMap<QByteArray, QByteArray> TestSmcTool::settledValues()
{
    QMap<QByteArray, QByteArray> values;
    for (const QSimKey& k : twoFanTable())
        values.insert(k.key, k.key.startsWith('T') ? "" : readKey(*m_pSmc, k.key).toHex());
    return values;
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
    const QString notWritable = "key \"%1\" may not be written";
    QTest::newRow("fan 0 target") << QStringList{"-k", "F0Tg", "-w", "1770"} << 0 << ""
                                  << "F0Tg=1770";
    QTest::newRow("fan 1 target") << QStringList{"-k", "F1Tg", "-w", "2ee0"} << 0 << ""
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
    QTest::newRow("read without -k") << QStringList{"-r", "-w", "F0Tg"} << 2 << usage << "";
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
    for (const char* key : {"FNum", "F0Mn", "F0tg", "FaTg", "F0TG", "G0Tg", "FS!!"})
        QTest::newRow(key) << QStringList{"-k", key, "-w", "0000"} << 2 << notWritable.arg(key)
                           << "";
    QTest::newRow("size mismatch")
        << QStringList{"-k", "F0Tg", "-w", "177000"} << 1 << "writing \"F0Tg\" failed (e00002bc)"
        << "";
    QTest::newRow("no such fan") << QStringList{"-k", "F5Tg", "-w", "1770"} << 1
                                 << "writing \"F5Tg\" failed (e00002f0)"
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
    QMap<QByteArray, QByteArray> expected = settledValues();

    const ProcessRun run = runProgram(smcTool(), args, m_SocketPath);
    QCOMPARE(run.nExitCode, exitCode);
    QCOMPARE(QString(run.err), message.isEmpty() ? QString() : "smc: " + message + "\n");
    if (change.contains('=')) {
        expected[change.left(4).toLatin1()] = change.mid(5).toLatin1();
        change.clear();
    }
    QCOMPARE(QString(run.out), change);
    QCOMPARE(settledValues(), expected);
}

// Set-user-ID, the tool must not drag in the toolkit or anything else beyond the runtime.
void TestSmcTool::noLibraryBeyondTheRuntime()
{
    const ProcessRun run = runProgram("ldd", {smcTool()}, QString());
    QCOMPARE(run.nExitCode, 0);
    const QRegularExpression allowed("^(linux-vdso|/lib64/ld-linux|lib(c|m|gcc_s|stdc\\+\\+)[.-])");
    for (const QByteArray& line : run.out.trimmed().split('\n'))
        QVERIFY2(allowed.match(QString(line.trimmed())).hasMatch(), line.constData());
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

// A shipped dump lists as every key with its type and bytes, in key-index order.
void TestSmcTool::listsEveryKeyOfAProfile()
{
    const QString dumpPath = TestSupport::profilesDir() + "/MacPro4,1.dump";
    QVector<QSimKey> expected;
    QVERIFY(SimDumpUtils::loadDumpFile(dumpPath, expected, nullptr));
    QSimDaemonProcess daemon;
    QVERIFY(!daemon.start(m_Dir.filePath("list.sock"), {"--dump", dumpPath}).isEmpty());
    const ProcessRun run = runProgram(smcTool(), {"-l"}, m_Dir.filePath("list.sock"));
    QCOMPARE(run.nExitCode, 0);
    QCOMPARE(run.err, QByteArray());
    QVERIFY(run.out.endsWith('\n'));
    const QList<QByteArray> lines = run.out.left(run.out.size() - 1).split('\n');
    QCOMPARE(lines.size(), expected.size());
    int nSame = 0;
    for (int i = 0; i < lines.size(); ++i) {
        QSimKey listed;
        QCOMPARE(SimDumpUtils::parseDumpLine(lines.at(i), listed, nullptr), 1);
        QCOMPARE(listed.key + listed.type, expected.at(i).key + expected.at(i).type);
        QCOMPARE(listed.bytes.size(), expected.at(i).bytes.size());
        nSame += lines.at(i) ==
                 SimDumpUtils::formatDumpLine(listed.key, listed.type, expected.at(i).bytes);
    }
    QVERIFY(nSame > expected.size() / 2); // all but the keys the model moves
    const QString none = m_Dir.filePath("none.sock");
    QCOMPARE(QString(runProgram(smcTool(), {"-l"}, none).err),
             "smc: cannot open the SMC simulator at " + none + "\n");
}

// Installed set-user-ID root, the tool writes with its privileges only to the simulator at the
// fixed trusted path; a socket its caller names is contacted as the caller, and a daemon that
// takes writes from root alone refuses them by the peer's uid.
void TestSmcTool::privilegesOnlyForTheTrustedSocket()
{
    const QString trusted = SmcKeyToolUtils::kTrustedSocketPath;
    if (geteuid() != 0 || QFileInfo::exists(trusted))
        QSKIP("needs root and a free trusted socket path");
    const QString setuidTool = m_Dir.filePath("smc-setuid"),
                  plainTool = m_Dir.filePath("smc-plain");
    for (const QString& tool : {setuidTool, plainTool}) {
        QVERIFY(QFile::copy(smcTool(), tool));
        QVERIFY(chmod(QFile::encodeName(tool), tool == setuidTool ? 04755 : 0755) == 0);
    }
    const QStringList nobody = {"--reuid=65534", "--regid=65534", "--clear-groups"};
    for (const QString& socket : {m_Dir.filePath("rootonly.sock"), trusted}) {
        QSimDaemonProcess daemon;
        QVERIFY(
            !daemon.start(socket, {"--dump", m_Dir.filePath("twofan.dump"), "--root-writes-only"})
                 .isEmpty());
        QSmcControlMac smc(new QSmcTransportSocket(socket));
        QVERIFY(smc.Open());
        for (const QString& tool : {plainTool, setuidTool}) {
            QCOMPARE(writeKey(smc, "F0Tg", "\x1f\x40"), 0);
            const bool bWritten = socket == trusted && tool == setuidTool;
            const QStringList args = nobody + QStringList{tool, "-k", "F0Tg", "-w", "1770"};
            const ProcessRun run =
                runProgram("setpriv", args, socket == trusted ? QString() : socket);
            QCOMPARE(run.nExitCode, bWritten ? 0 : 1);
            QCOMPARE(readKey(smc, "F0Tg"), QByteArray(bWritten ? "\x17\x70" : "\x1f\x40"));
            QCOMPARE(readKey(smc, "FNum"), QByteArray("\x02")); // reads need nothing
        }
    }
}

void TestSmcTool::daemonServesUntilSignalled()
{
    const QString socket = m_Dir.filePath("d.sock"),
                  mini = TestSupport::profilesDir() + "/Macmini5,1.dump";
    const QList<QPair<QStringList, int>> runs = {
        {{"--profile", "MacPro4,1"}, SIGTERM},
        {{"--dump", mini, "--model", "Macmini5,1"}, SIGINT},
        {{"--dump", mini}, SIGTERM}};
    for (const auto& run : runs) {
        QSimDaemonProcess daemon;
        const QString model =
            run.first.size() == 2 && run.first.at(0) == "--dump" ? QString() : run.first.last();
        QVERIFY(daemon.start(socket, run.first).startsWith("thermora-smcsim: serving "));
        QCOMPARE(QSmcTransportSocket::queryModel(socket), model);
        QSmcControlMac smc(new QSmcTransportSocket(socket));
        QVERIFY(smc.Open());
        QCOMPARE(smc.machineModel(), model);
        QCOMPARE(readKey(smc, "FNum"), QByteArray(1, model == "MacPro4,1" ? 6 : 1));
        QCOMPARE(daemon.stop(run.second), 0);
        QVERIFY(!QFileInfo::exists(socket));
        QCOMPARE(readKey(smc, "FNum"), QByteArray("failed"));
    }
}

void TestSmcTool::daemonRefusesBadArguments()
{
    QFile bad(m_Dir.filePath("bad.dump"));
    QVERIFY(bad.open(QIODevice::WriteOnly) &&
            bad.write("  TC0P  [sp78]  (bytes 2d 80)\n  FNum [ui8 ] (bytes 01)\n") > 0);
    bad.close();
    const QList<QPair<QStringList, QString>> rows = {
        {{}, "exactly one"},
        {{"--profile", "Macmini5,1", "--dump", bad.fileName()}, "exactly one"},
        {{"--profile", "Macmini5,1", "--fast"}, "--fast"},
        {{"--profile"}, "needs a value"},
        {{"--profile", "PowerBook1,1"}, "PowerBook1,1"},
        {{"--profile", "Macmini5,1", "--fault-read", "TZ9Z"}, "TZ9Z"},
        {{"--profile", "Macmini5,1", "--fault-index", "270"}, "269"},
        {{"--dump", bad.fileName()}, "bad.dump:2:"}};
    for (const auto& row : rows) {
        const QStringList args = QStringList{"--socket", m_Dir.filePath("bad.sock")} + row.first;
        const ProcessRun run =
            runProgram(TestSupport::binDir() + "/thermora-smcsim", args, QString());
        QCOMPARE(run.nExitCode, 2);
        QVERIFY2(run.err.startsWith("thermora-smcsim: ") && run.err.count('\n') == 1 &&
                     run.err.contains(row.second.toUtf8()),
                 run.err.constData());
    }
    QVERIFY(!QFileInfo::exists(m_Dir.filePath("bad.sock")));
}

void TestSmcTool::daemonDropsOnlyAConnectionThatSendsGarbage()
{
    std::string wrongVersion = SimWire::encodeFrame(SimWire::SimFrameModel, "");
    wrongVersion[4] = 9;
    const std::string garbage[] = {
        "GET / HTTP/1.0\r\n\r\n", wrongVersion,
        SimWire::encodeFrame(SimWire::SimFrameCall, std::string(10, 'x')),
        SimWire::encodeFrame(SimWire::SimFrameModelReply, "abc"), SimWire::encodeFrame(77, "")};
    for (const std::string& bytes : garbage) {
        const int fd = SimSocketUtils::connectTo(m_SocketPath.toStdString(), 10000, nullptr);
        QVERIFY(fd >= 0);
        QCOMPARE(SimSocketUtils::sendAll(fd, bytes), SimSocketUtils::IoOk);
        ::shutdown(fd, SHUT_WR); // then the end, for a frame cut short
        char c = 0;
        QCOMPARE(SimSocketUtils::receiveAll(fd, &c, 1), SimSocketUtils::IoClosed);
        ::close(fd);
        QCOMPARE(readKey(*m_pSmc, "FNum"), QByteArray("\x02")); // the daemon carries on
    }
}

QTEST_GUILESS_MAIN(TestSmcTool)
#include "tst_smctool.moc"
