// The key-writing tool as a process against a controller served from here: what it writes and
// refuses, its listing, its privileges, and the server's checks of its peers and frames.
#include "helpers/QClock.h"
#include "sim/QSimServer.h"
#include "sim/QSimSmc.h"
#include "smc/base/SimSocketUtils.h"
#include "smc/base/SmcKeyToolUtils.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
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

// A frozen simulated controller served on a socket until the object ends.
struct QServedSim
{
    QServedSim(const QString& socket, const QVector<QSimKey>& keys, bool bRootWritesOnly = false)
    {
        sim.setKeys(keys);
        sim.setRootWritesOnly(bRootWritesOnly);
        bListening = server.listen(socket, nullptr);
        thread = std::thread([this] { server.run(); });
    }
    ~QServedSim()
    {
        server.stop();
        thread.join();
    }
    QByteArray value(const char* key)
    {
        QByteArray bytes;
        return sim.value(key, bytes) ? bytes.toHex() : "none";
    }
    QManualClock clock;
    QSimSmc sim{&clock};
    QSimServer server{sim};
    bool bListening = false;
    std::thread thread;
};

QString smcTool()
{
    return TestSupport::binDir() + "/smc";
}

// Two fans of 1500..6000 RPM under manual control, a temperature, and keys the tool must not
// write.
QVector<QSimKey> twoFanTable()
{
    QVector<QSimKey> keys;
    for (const char* fan : {"F0", "F1"})
        keys += {{QByteArray(fan) + "Mn", "fpe2", "\x17\x70"},
                 {QByteArray(fan) + "Mx", "fpe2", "\x5d\xc0"},
                 {QByteArray(fan) + "Tg", "fpe2", "\x1f\x40"}};
    keys += {{"F0Md", "ui8 ", QByteArray(1, '\0')},
             {"FNum", "ui8 ", "\x02"},
             {"FS! ", "ui16", QByteArray("\x00\x03", 2)},
             {"TC0P", "sp78", "\x2d\x80"}};
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
    void listsEveryKeyOfAProfile();
    void privilegesOnlyForTheTrustedSocket();
    void serverDropsOnlyAConnectionThatSendsGarbage();
    void daemonArguments_data();
    void daemonArguments();
    void daemonServesUntilTerminated();
    void giveBackByFamily();

private:
    QTemporaryDir m_Dir;
    QString m_SocketPath = m_Dir.filePath("sim.sock");
    std::unique_ptr<QServedSim> m_pServed;
};

void TestSmcTool::initTestCase()
{
    QVERIFY(QFileInfo(smcTool()).isExecutable());
    QVERIFY(chmod(QFile::encodeName(m_Dir.path()), 0755) == 0); // reachable by "nobody"
    m_pServed.reset(new QServedSim(m_SocketPath, twoFanTable()));
    QVERIFY(m_pServed->bListening);
}

void TestSmcTool::runs_data()
{
    QTest::addColumn<QString>("args"); // separated by commas
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("result"); // the message, the "KEY=hex" written, or the output
    auto row = [](const char* tag, const char* args, int exitCode, const QString& result) {
        QTest::newRow(tag) << QString(args) << exitCode << result;
    };
    const QString usage = "usage: smc -k KEY -w HEX | smc -l | smc -r -k KEY | smc --give-back";
    const QString badKey = "key must be four printable ASCII characters";
    const QString digit = "value: not a lower-case hexadecimal digit";
    row("fan 0 at its minimum", "-k,F0Tg,-w,1770", 0, "F0Tg=1770");
    // Started with standard descriptors closed, it must not take its socket for one of them.
    row("fan 1 at its maximum", "-k,F1Tg,-w,5dc0,<&-,>&-,2>&-", 0, "F1Tg=5dc0");
    row("below the minimum", "-k,F0Tg,-w,176c", 1,
        "\"F0Tg\" 1499 is outside fan 0's range 1500..6000");
    row("above the maximum", "-k,F1Tg,-w,5dc1", 1,
        "\"F1Tg\" 6000.25 is outside fan 1's range 1500..6000");
    row("mask", "-k,FS! ,-w,0002", 0, "FS! =0002");
    row("mask for a third fan", "-k,FS! ,-w,0007", 1,
        "\"FS! \" 0007 names a fan beyond the 2 there are");
    row("mask's first byte", "-k,FS! ,-w,0100", 1,
        "\"FS! \" 0100 names a fan beyond the 2 there are");
    row("read one", "-r,-k,FS! ", 0, "  FS!   [ui16]  3 (bytes 00 03)\n");
    row("mode key: manual", "-k,F0Md,-w,01", 0, "F0Md=01");
    row("mode key: the system's 3", "-k,F0Md,-w,03", 1, "\"F0Md\" takes 0 or 1 only");
    row("unlock, not here", "-k,Ftst,-w,01", 1, "reading \"Ftst\" failed");
    row("no arguments", "", 2, usage);
    row("extra argument", "-k,F0Tg,-w,1770,-v", 2, usage);
    row("read and write", "-r,-k,F0Tg,-w,1770", 2, usage);
    row("list with a key", "-l,F0Tg", 2, usage);
    row("short key", "-k,F0T,-w,1770", 2, badKey);
    row("mask key without its blank", "-k,FS!,-w,0001", 2, badKey);
    row("tab in key", "-k,F0T\t,-w,1770", 2, badKey);
    row("non-ASCII key", "-k,F0\xc3\xa9,-w,1770", 2, badKey);
    row("odd digits", "-k,F0Tg,-w,177", 2, "value: odd number of hexadecimal digits");
    row("upper case", "-k,F0Tg,-w,17A0", 2, digit + " at position 3");
    row("DEL in value",
        "-k,F0Tg,-w,17\x7f"
        "0",
        2, digit);
    row("empty value", "-k,F0Tg,-w,", 2, "value: at least one byte is needed");
    row("33 bytes", qPrintable("-k,F0Tg,-w," + QString(66, '0')), 2, "value: more than 32 bytes");
    for (const char* key : {"FNum", "F0Mn", "F0tg", "FaTg", "F:Tg", "F/Tg", "F0TG", "G0Tg", "FS!!"})
        row(key, qPrintable(QString("-k,%1,-w,0000").arg(key)), 2,
            QString("key \"%1\" may not be written").arg(key));
    row("size mismatch", "-k,F0Tg,-w,177000", 1, "writing \"F0Tg\" failed (e00002bc)");
    row("fan 9, not here", "-k,F9Tg,-w,1770", 1, "reading \"F9Tg\" failed (e00002f0)");
    row("read unknown", "-r,-k,ZZZZ", 1, "reading \"ZZZZ\" failed (e00002f0)");
}

// Each run either makes exactly its one change or changes nothing and says why in one line.
void TestSmcTool::runs()
{
    QFETCH(QString, args);
    QFETCH(int, exitCode);
    QFETCH(QString, result);
    QSimSmc& sim = m_pServed->sim;
    sim.setKeys(twoFanTable());
    QVector<QSimKey> before = sim.keys();
    const QStringList list = args.isEmpty() ? QStringList() : args.split(',');
    const ProcessRun run =
        args.contains("<&-")
            ? runProgram("/bin/sh", {"-c", "exec \"$0\" " + list.join(' '), smcTool()},
                         m_SocketPath)
            : runProgram(smcTool(), list, m_SocketPath);
    QCOMPARE(run.nExitCode, exitCode);
    QCOMPARE(QString(run.err), exitCode ? "smc: " + result + "\n" : QString());
    const bool bWrite = exitCode == 0 && result.contains('=');
    QCOMPARE(QString(run.out), exitCode || bWrite ? QString() : result);
    for (QSimKey& key : before)
        key.bytes = bWrite && key.key == result.left(4)
                        ? QByteArray::fromHex(result.mid(5).toLatin1())
                        : key.bytes;
    QCOMPARE(SimDumpUtils::formatDump(sim.keys()), SimDumpUtils::formatDump(before));
}

// Set-user-ID, the tool must not drag in the toolkit or anything else beyond the runtime.
void TestSmcTool::noLibraryBeyondTheRuntime()
{
    const ProcessRun run = runProgram("ldd", {smcTool()}, QString());
    QCOMPARE(run.nExitCode, 0);
    const QRegularExpression allowed(
        "^(linux-vdso|/lib64/ld-linux|lib(c|m|gcc_s|stdc\\+\\+|[at]san|ubsan)[.-])");
    for (const QByteArray& line : run.out.trimmed().split('\n'))
        QVERIFY2(allowed.match(QString(line.trimmed())).hasMatch(), line.constData());
}

// A shipped dump lists as exactly its dump lines, in key-index order.
void TestSmcTool::listsEveryKeyOfAProfile()
{
    QVector<QSimKey> keys;
    QVERIFY(
        SimDumpUtils::loadDumpFile(TestSupport::profilesDir() + "/MacPro4,1.dump", keys, nullptr));
    QServedSim served(m_Dir.filePath("list.sock"), keys);
    const ProcessRun run = runProgram(smcTool(), {"-l"}, m_Dir.filePath("list.sock"));
    QCOMPARE(run.nExitCode, 0);
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.out, SimDumpUtils::formatDump(served.sim.keys()));
    QCOMPARE(run.out.count('\n'), keys.size());
    const QString none = m_Dir.filePath("none.sock");
    QCOMPARE(QString(runProgram(smcTool(), {"-l"}, none).err),
             "smc: cannot open the SMC simulator at " + none + "\n");
}

// Set-user-ID root, the tool writes with its rights only to the trusted socket; one the caller
// names it contacts as the caller, and a server taking root's writes alone checks the peer.
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
        QServedSim served(socket, twoFanTable(), true);
        for (const QString& tool : {plainTool, setuidTool}) {
            served.sim.setValue("F0Tg", "\x1f\x40");
            const bool bWritten = socket == trusted && tool == setuidTool;
            const QStringList args = nobody + QStringList{tool, "-k", "F0Tg", "-w", "1770"};
            QCOMPARE(runProgram("setpriv", args, socket == trusted ? QString() : socket).nExitCode,
                     bWritten ? 0 : 1);
            QCOMPARE(served.value("F0Tg"), QByteArray(bWritten ? "1770" : "1f40"));
        }
    }
    QVERIFY(!QFileInfo::exists(trusted));
}

void TestSmcTool::serverDropsOnlyAConnectionThatSendsGarbage()
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
        QCOMPARE(runProgram(smcTool(), {"-r", "-k", "FNum"}, m_SocketPath).nExitCode, 0);
    }
}

// The simulator daemon refuses what it cannot serve, with its exit code and one line.
void TestSmcTool::daemonArguments_data()
{
    QTest::addColumn<QString>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");
    const QString sock = "--socket," + m_Dir.filePath("d.sock");
    const auto row = [](const char* name, const QString& args, int code, const QString& error) {
        QTest::newRow(name) << args << code << error;
    };
    row("help", "--help", 0, "");
    row("nothing", "", 2, "--socket PATH is required (see --help)");
    row("no machine", sock, 2, "give exactly one of --profile and --dump (see --help)");
    row("two machines", sock + ",--profile,a,--dump,b", 2,
        "give exactly one of --profile and --dump (see --help)");
    row("unknown option", "--bogus,1", 2, "unknown option \"--bogus\" (see --help)");
    row("missing value", "--socket", 2, "--socket needs a value (see --help)");
    row("bad seed", sock + ",--seed,x", 2, "bad value \"x\" for --seed (see --help)");
    row("short fault key", sock + ",--fault-read,F0", 2,
        "--fault-read needs a four-character key, got \"F0\" (see --help)");
    row("slow write of 0 ms", sock + ",--fault-slow-write,F0Tg=0", 2,
        "bad value \"F0Tg=0\" for --fault-slow-write (see --help)");
}

void TestSmcTool::daemonArguments()
{
    QFETCH(QString, args);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    const ProcessRun run = runProgram(TestSupport::binDir() + "/thermora-smcsim",
                                      args.isEmpty() ? QStringList() : args.split(','), QString());
    QCOMPARE(run.nExitCode, exitCode);
    QCOMPARE(QString(run.err), error.isEmpty() ? error : "thermora-smcsim: " + error + "\n");
    QCOMPARE(run.out.startsWith("usage: thermora-smcsim"), exitCode == 0);
}

// A shipped profile is served to the tool until a SIGTERM, which ends the daemon cleanly.
void TestSmcTool::daemonServesUntilTerminated()
{
    const QString socket = m_Dir.filePath("daemon.sock");
    QProcess daemon;
    daemon.start(TestSupport::binDir() + "/thermora-smcsim",
                 {"--socket", socket, "--profile", "MacBookPro8,2"});
    QVERIFY(daemon.waitForReadyRead(20000));
    QVERIFY2(daemon.readAllStandardOutput().startsWith("thermora-smcsim: serving"),
             daemon.readAllStandardError().constData());
    const ProcessRun read = runProgram(smcTool(), {"-r", "-k", "FNum"}, socket);
    QCOMPARE(read.nExitCode, 0);
    QVERIFY2(read.out.startsWith("  FNum  [ui8 ]  2"), read.out.constData());
    daemon.terminate();
    QVERIFY(daemon.waitForFinished(20000));
    QCOMPARE(daemon.exitStatus(), QProcess::NormalExit);
    QCOMPARE(daemon.exitCode(), 0);
}

// The watch hands back whatever holds the fans: here each fan's mode key, then the unlock.
void TestSmcTool::giveBackByFamily()
{
    QVector<QSimKey> keys = twoFanTable();
    keys.erase(
        std::remove_if(keys.begin(), keys.end(), [](const QSimKey& k) { return k.key == "FS! "; }),
        keys.end());
    keys += {{"F1Md", "ui8 ", "\x01"}, {"Ftst", "ui8 ", "\x01"}};
    QSimSmc& sim = m_pServed->sim;
    sim.setKeys(keys);
    sim.setValue("F0Md", "\x01");
    QProcess watch;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("THERMORA_SMC_SOCKET", m_SocketPath);
    watch.setProcessEnvironment(env);
    watch.start(smcTool(), {"--give-back"});
    QVERIFY(watch.waitForStarted());
    QTest::qWait(300);
    QCOMPARE(m_pServed->value("F0Md") + m_pServed->value("Ftst"), QByteArray("0101"));
    watch.closeWriteChannel(); // the program ended
    QVERIFY(watch.waitForFinished(10000));
    QCOMPARE(watch.exitCode(), 0);
    QCOMPARE(m_pServed->value("F0Md") + m_pServed->value("F1Md") + m_pServed->value("Ftst") +
                 m_pServed->value("FS! "),
             QByteArray("000000none"));
}

QTEST_GUILESS_MAIN(TestSmcTool)
#include "tst_smctool.moc"
