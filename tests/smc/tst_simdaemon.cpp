// The simulator daemon as a real process, and the socket client that talks to it.
#include "SimProcessTestUtils.h"
#include "smc/base/SimSocketUtils.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

class TestSimDaemon : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void servesUntilSignalled_data();
    void servesUntilSignalled();
    void badArguments_data();
    void badArguments();
    void garbageClosesOnlyThatConnection_data();
    void garbageClosesOnlyThatConnection();
    void faultFlagsAndReconnect();
    void rootWritesOnlyByPeerUid();

private:
    QScopedPointer<QTemporaryDir> m_pDir;
    QString m_SocketPath;
    QSimDaemonProcess m_Daemon;
};

void TestSimDaemon::init()
{
    m_Daemon.stop();
    m_pDir.reset(new QTemporaryDir(QDir::tempPath() + "/simd-XXXXXX")); // socket paths are short
    m_SocketPath = m_pDir->filePath("smc.sock");
}

void TestSimDaemon::servesUntilSignalled_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("fans");
    QTest::addColumn<int>("signal");
    const QString dir = TestSupport::profilesDir();
    QTest::newRow("profile, SIGTERM")
        << QStringList{"--profile", "MacPro4,1"} << "MacPro4,1" << 6 << int(SIGTERM);
    QTest::newRow("dump and model, SIGINT")
        << QStringList{"--dump", dir + "/Macmini5,1.dump", "--model", "Macmini5,1"} << "Macmini5,1"
        << 1 << int(SIGINT);
    QTest::newRow("bare dump") << QStringList{"--dump", dir + "/iMac13,1.dump"} << "iMac13,1.dump"
                               << 3 << int(SIGTERM);
}

void TestSimDaemon::servesUntilSignalled()
{
    QFETCH(QStringList, args);
    QFETCH(QString, name);
    QFETCH(int, fans);
    QFETCH(int, signal);
    const QString ready = m_Daemon.start(m_SocketPath, args);
    QVERIFY2(ready.startsWith(QString("thermora-smcsim: serving %1 (").arg(name)) &&
                 ready.endsWith(" keys) on " + m_SocketPath),
             qPrintable(ready));
    const QString model = name.endsWith(".dump") ? QString() : name;
    QCOMPARE(QSmcTransportSocket::queryModel(m_SocketPath), model);
    QSmcControlMac smc(new QSmcTransportSocket(m_SocketPath));
    QVERIFY(smc.Open());
    QCOMPARE(smc.machineModel(), model);
    QCOMPARE(readKey(smc, "FNum"), QByteArray(1, char(fans)));
    QCOMPARE(writeKey(smc, "F0Mn", "\x1f\x40"), 0); // anyone may write
    QCOMPARE(readKey(smc, "F0Mn"), QByteArray("\x1f\x40"));

    QCOMPARE(m_Daemon.stop(signal), 0);
    QVERIFY(!QFileInfo::exists(m_SocketPath));
    QCOMPARE(readKey(smc, "FNum"), QByteArray("failed"));
}

void TestSimDaemon::badArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    const QString mini = "Macmini5,1";
    QTest::newRow("no profile or dump") << QStringList() << "exactly one";
    QTest::newRow("profile and dump")
        << QStringList{"--profile", mini, "--dump", "x.dump"} << "exactly one";
    QTest::newRow("unknown option") << QStringList{"--profile", mini, "--fast"} << "--fast";
    QTest::newRow("missing value") << QStringList{"--profile"} << "needs a value";
    QTest::newRow("unknown profile") << QStringList{"--profile", "PowerBook1,1"} << "PowerBook1,1";
    QTest::newRow("bad delay") << QStringList{"--profile", mini, "--fault-slow-write", "F0Tg=soon"}
                               << "soon";
    QTest::newRow("fault on no key")
        << QStringList{"--profile", mini, "--fault-read", "TZ9Z"} << "TZ9Z";
    QTest::newRow("index fault past the end")
        << QStringList{"--profile", mini, "--fault-index", "270"} << "269";
    QTest::newRow("missing dump") << QStringList{"--dump", "/nonexistent/x.dump"}
                                  << "/nonexistent/x.dump";
    QTest::newRow("malformed dump") << QStringList{"--dump", "BAD"} << "bad.dump:2:";
}

void TestSimDaemon::badArguments()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QFile bad(m_pDir->filePath("bad.dump"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("  TC0P  [sp78]  (bytes 2d 80)\n  FNum [ui8 ] (bytes 01)\n");
    bad.close();
    args.replaceInStrings("BAD", bad.fileName());
    const QProcessRun run = runProgram(TestSupport::binDir() + "/thermora-smcsim",
                                       QStringList{"--socket", m_SocketPath} + args);
    QCOMPARE(run.nExitCode, 2);
    QVERIFY2(run.err.startsWith("thermora-smcsim: ") && run.err.count('\n') == 1 &&
                 run.err.contains(message.toUtf8()),
             run.err.constData());
    QVERIFY(!QFileInfo::exists(m_SocketPath));
}

void TestSimDaemon::garbageClosesOnlyThatConnection_data()
{
    QTest::addColumn<QByteArray>("garbage");
    auto frame = [](uint16_t type, const std::string& payload, uint16_t version) {
        std::string bytes = SimWire::encodeFrame(type, payload);
        SimWire::storeLittleEndian(version, 2, &bytes[4]);
        return QByteArray::fromStdString(bytes);
    };
    QTest::newRow("text") << QByteArray("GET / HTTP/1.0\r\n\r\n");
    QTest::newRow("wrong version") << frame(SimWire::SimFrameModel, "", 9);
    QTest::newRow("short call") << frame(SimWire::SimFrameCall, std::string(10, 'x'), 1);
    QTest::newRow("reply sent to the daemon") << frame(SimWire::SimFrameModelReply, "abc", 1);
    QTest::newRow("unknown type") << frame(77, "", 1);
    QTest::newRow("header cut short") << frame(SimWire::SimFrameCall, "", 1).left(7);
}

void TestSimDaemon::garbageClosesOnlyThatConnection()
{
    QFETCH(QByteArray, garbage);
    QVERIFY(!m_Daemon.start(m_SocketPath, {"--profile", "Macmini5,1"}).isEmpty());
    QSmcControlMac smc(new QSmcTransportSocket(m_SocketPath));
    QVERIFY(smc.Open());
    QCOMPARE(readKey(smc, "FNum"), QByteArray(1, 1));
    const int fd = SimSocketUtils::connectTo(m_SocketPath.toStdString(), 10000, nullptr);
    QVERIFY(fd >= 0);
    QCOMPARE(SimSocketUtils::sendAll(fd, garbage.toStdString()), SimSocketUtils::IoOk);
    ::shutdown(fd, SHUT_WR); // an incomplete frame, then the end
    char c = 0;
    QCOMPARE(SimSocketUtils::receiveAll(fd, &c, 1), SimSocketUtils::IoClosed);
    ::close(fd);
    QCOMPARE(m_Daemon.m_Process.state(), QProcess::Running); // the daemon and others carry on
    QCOMPARE(readKey(smc, "FNum"), QByteArray(1, 1));
}

void TestSimDaemon::faultFlagsAndReconnect()
{
    QVERIFY(!m_Daemon
                 .start(m_SocketPath, {"--profile", "MacBookPro8,2", "--fault-read", "TC0P",
                                       "--fault-hot", "TC0D=131.5", "--fault-index", "5"})
                 .isEmpty());
    QSmcControlMac smc(new QSmcTransportSocket(m_SocketPath));
    QVERIFY(smc.Open());
    QCOMPARE(readKey(smc, "TC0P"), QByteArray("failed"));
    QCOMPARE(readKey(smc, "TC0D").toHex(), QByteArray("8380"));
    applesmc_entry entry;
    QCOMPARE(smc.OS_GetKeyInfoByIndex(5, &entry), -1);
    QCOMPARE(smc.OS_GetKeyInfoByIndex(6, &entry), 0);

    // The client connects afresh to a daemon that was restarted.
    m_Daemon.stop();
    QCOMPARE(readKey(smc, "FNum"), QByteArray("failed"));
    QVERIFY(!m_Daemon.start(m_SocketPath, {"--profile", "MacPro4,1"}).isEmpty());
    QCOMPARE(readKey(smc, "FNum"), QByteArray(1, 6));
    QCOMPARE(smc.machineModel(), QString("MacPro4,1"));
}

// With root writes only, the peer's uid from the socket decides: other users may only read.
void TestSimDaemon::rootWritesOnlyByPeerUid()
{
    if (::geteuid() != 0)
        QSKIP("needs root to act as another user");
    QVERIFY(QFile::setPermissions(m_pDir->path(), QFile::ReadOwner | QFile::WriteOwner |
                                                      QFile::ExeOwner | QFile::ExeOther));
    QVERIFY(!m_Daemon.start(m_SocketPath, {"--profile", "MacBookPro8,2", "--root-writes-only"})
                 .isEmpty());
    QSmcControlMac root(new QSmcTransportSocket(m_SocketPath));
    QVERIFY(root.Open());
    QCOMPARE(writeKey(root, "F0Mn", "\x1f\x40"), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(10);
        QSmcControlMac user(new QSmcTransportSocket(m_SocketPath));
        if (!user.Open() || readKey(user, "FNum") != QByteArray(1, 2))
            ::_exit(11);
        ::_exit(writeKey(user, "F0Mn", "\x2e\xe0") == kSmcReturnNotPrivileged ? 0 : 12);
    }
    int nStatus = -1;
    QCOMPARE(::waitpid(pid, &nStatus, 0), pid);
    QVERIFY(WIFEXITED(nStatus));
    QCOMPARE(WEXITSTATUS(nStatus), 0);
    QCOMPARE(readKey(root, "F0Mn").toHex(), QByteArray("1f40"));
}

QTEST_GUILESS_MAIN(TestSimDaemon)
#include "tst_simdaemon.moc"
