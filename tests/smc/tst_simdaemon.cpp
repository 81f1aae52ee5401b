// The simulator daemon as a real process, and the socket transport that talks to it.

#include "smc/sim/QSmcTransportSocket.h"
#include "smc/sim/SimDumpUtils.h"
#include "smc/sim/SimSocketUtils.h"
#include "smc/sim/SimWire.h"
#include "support/QSimMachine.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using SimMachineUtils::request;

// The value of a key over the transport, or "failed".
QByteArray readKey(QSmcTransport& transport, const char* keyName, int nSize)
{
    SMCKeyData_t output;
    if (transport.call(kSmcMethodSelector, request(SmcCmdReadBytes, keyName, nSize), output) != 0)
        return QByteArray("failed");
    return QByteArray(reinterpret_cast<const char*>(output.bytes), nSize);
}

int writeKey(QSmcTransport& transport, const char* keyName, const QByteArray& bytes)
{
    SMCKeyData_t input = request(SmcCmdWriteBytes, keyName, static_cast<uint32_t>(bytes.size()));
    std::memcpy(input.bytes, bytes.constData(), static_cast<size_t>(bytes.size()));
    SMCKeyData_t output;
    return transport.call(kSmcMethodSelector, input, output);
}

} // namespace

class TestSimDaemon : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void servesProfilesAndDumps_data();
    void servesProfilesAndDumps();
    void garbageClosesOnlyThatConnection_data();
    void garbageClosesOnlyThatConnection();
    void stopsCleanlyOnSignal_data();
    void stopsCleanlyOnSignal();
    void badArguments_data();
    void badArguments();
    void socketPathInUse_data();
    void socketPathInUse();
    void faultFlags();
    void slowWriteDoesNotBlockOtherClients();
    void reconnectsAfterRestart();
    void rootWritesOnlyByPeerUid();
    void openFailureIsReported();

private:
    // Starts the daemon on m_SocketPath and waits for its ready line (empty on failure).
    QString start(const QStringList& args);
    void stop();

    QTemporaryDir* m_pDir = nullptr;
    QString m_SocketPath;
    QProcess* m_pDaemon = nullptr;
};

void TestSimDaemon::init()
{
    // Short paths: a Unix-domain socket path has a small length limit.
    m_pDir = new QTemporaryDir(QDir::tempPath() + "/simd-XXXXXX");
    QVERIFY(m_pDir->isValid());
    m_SocketPath = m_pDir->filePath("smc.sock");
}

void TestSimDaemon::cleanup()
{
    stop();
    delete m_pDir;
    m_pDir = nullptr;
}

QString TestSimDaemon::start(const QStringList& args)
{
    m_pDaemon = new QProcess;
    m_pDaemon->setProcessChannelMode(QProcess::SeparateChannels);
    m_pDaemon->start(TestSupport::binDir() + "/thermora-smcsim",
                     QStringList({"--socket", m_SocketPath}) + args);
    if (!m_pDaemon->waitForStarted(10000))
        return QString();
    while (!m_pDaemon->canReadLine()) {
        if (!m_pDaemon->waitForReadyRead(10000))
            return QString();
    }
    return QString::fromUtf8(m_pDaemon->readLine()).trimmed();
}

void TestSimDaemon::stop()
{
    if (!m_pDaemon)
        return;
    if (m_pDaemon->state() != QProcess::NotRunning) {
        ::kill(static_cast<pid_t>(m_pDaemon->processId()), SIGTERM);
        if (!m_pDaemon->waitForFinished(10000))
            m_pDaemon->kill();
        m_pDaemon->waitForFinished(10000);
    }
    delete m_pDaemon;
    m_pDaemon = nullptr;
}

void TestSimDaemon::servesProfilesAndDumps_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("dump");
    QTest::addColumn<int>("fans");

    const QString dir = TestSupport::profilesDir();
    QTest::newRow("profile by name")
        << QStringList({"--profile", "MacPro4,1", "--seed", "3"}) << "MacPro4,1"
        << "MacPro4,1"
        << "MacPro4,1.dump" << 6;
    QTest::newRow("profile by path")
        << QStringList({"--profile", dir + "/iMac13,1.profile"}) << "iMac13,1"
        << "iMac13,1"
        << "iMac13,1.dump" << 3;
    QTest::newRow("dump with model")
        << QStringList({"--dump", dir + "/Macmini5,1.dump", "--model", "Macmini5,1"})
        << "Macmini5,1"
        << "Macmini5,1"
        << "Macmini5,1.dump" << 1;
    QTest::newRow("bare dump") << QStringList({"--dump", dir + "/MacBookPro8,2.dump"})
                               << "MacBookPro8,2.dump" << QString() << "MacBookPro8,2.dump" << 2;
}

void TestSimDaemon::servesProfilesAndDumps()
{
    QFETCH(QStringList, args);
    QFETCH(QString, name);
    QFETCH(QString, model);
    QFETCH(QString, dump);
    QFETCH(int, fans);

    QVector<QSimKey> keys;
    QString error;
    QVERIFY2(SimDumpUtils::loadDumpFile(TestSupport::profilesDir() + "/" + dump, keys, &error),
             qPrintable(error));
    const QString ready = start(args);
    QCOMPARE(ready, QStringLiteral("thermora-smcsim: serving %1 (%2 keys) on %3")
                        .arg(name)
                        .arg(keys.size())
                        .arg(m_SocketPath));

    QCOMPARE(QSmcTransportSocket::queryModel(m_SocketPath), model);
    QSmcTransportSocket transport(m_SocketPath);
    QVERIFY(transport.open());
    QCOMPARE(transport.machineModel(), model);
    QCOMPARE(readKey(transport, "FNum", 1), QByteArray(1, static_cast<char>(fans)));
    QCOMPARE(readKey(transport, "#KEY", 4).toHex(),
             QByteArray::number(keys.size(), 16).rightJustified(8, '0'));
    SMCKeyData_t output;
    QCOMPARE(transport.call(kSmcMethodSelector, request(SmcCmdReadKeyInfo, "F0ID"), output), 0);
    QCOMPARE(output.dataSize, 16u);
    QCOMPARE(SimDumpUtils::unpackCode(output.dataType), QByteArray("{fds"));
    const int nLast = keys.size() - 1;
    QCOMPARE(
        transport.call(kSmcMethodSelector, request(SmcCmdReadIndex, nullptr, 0, nLast), output), 0);
    QCOMPARE(SimDumpUtils::unpackCode(output.key), keys.last().key);
    QCOMPARE(transport.call(kSmcMethodSelector, request(SmcCmdReadBytes, "none", 2), output),
             kSmcReturnNotFound);
    QCOMPARE(writeKey(transport, "F0Mn", QByteArray("\x1f\x40", 2)), 0); // anyone may write
    QCOMPARE(readKey(transport, "F0Mn", 2).toHex(), QByteArray("1f40"));
}

void TestSimDaemon::garbageClosesOnlyThatConnection_data()
{
    QTest::addColumn<QByteArray>("garbage");

    auto header = [](quint32 nMagic, quint16 nVersion, quint16 nType, quint32 nLength) {
        QByteArray bytes(12, '\0');
        qToLittleEndian<quint32>(nMagic, bytes.data());
        qToLittleEndian<quint16>(nVersion, bytes.data() + 4);
        qToLittleEndian<quint16>(nType, bytes.data() + 6);
        qToLittleEndian<quint32>(nLength, bytes.data() + 8);
        return bytes;
    };
    QTest::newRow("text") << QByteArray("GET / HTTP/1.0\r\n\r\n");
    QTest::newRow("wrong version") << header(SimWire::kMagic, 9, SimWire::SimFrameModel, 0);
    QTest::newRow("huge length") << header(SimWire::kMagic, SimWire::kVersion,
                                           SimWire::SimFrameCall, 0xFFFFFFF0u);
    QTest::newRow("short call") << header(SimWire::kMagic, SimWire::kVersion, SimWire::SimFrameCall,
                                          10) +
                                       QByteArray(10, 'x');
    QTest::newRow("reply sent to the daemon")
        << header(SimWire::kMagic, SimWire::kVersion, SimWire::SimFrameModelReply, 3) + "abc";
    QTest::newRow("unknown type") << header(SimWire::kMagic, SimWire::kVersion, 77, 0);
    QTest::newRow("header cut short") << header(SimWire::kMagic, SimWire::kVersion, 1, 84).left(7);
}

void TestSimDaemon::garbageClosesOnlyThatConnection()
{
    QFETCH(QByteArray, garbage);

    QVERIFY(!start({"--profile", "Macmini5,1"}).isEmpty());
    QSmcTransportSocket transport(m_SocketPath);
    QVERIFY(transport.open());
    QCOMPARE(readKey(transport, "FNum", 1), QByteArray(1, 1));

    QString error;
    const int fd = SimSocketUtils::connectTo(m_SocketPath, 10000, &error);
    QVERIFY2(fd >= 0, qPrintable(error));
    QCOMPARE(SimSocketUtils::sendAll(fd, garbage), SimSocketUtils::IoOk);
    if (garbage.size() < SimWire::kHeaderSize)
        ::shutdown(fd, SHUT_WR); // an incomplete header, then the end
    char c = 0;
    QCOMPARE(SimSocketUtils::receiveAll(fd, &c, 1), SimSocketUtils::IoClosed);
    ::close(fd);

    // The daemon and the other connection carry on.
    QCOMPARE(m_pDaemon->state(), QProcess::Running);
    QCOMPARE(readKey(transport, "FNum", 1), QByteArray(1, 1));
    QCOMPARE(QSmcTransportSocket::queryModel(m_SocketPath), QString("Macmini5,1"));
}

void TestSimDaemon::stopsCleanlyOnSignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestSimDaemon::stopsCleanlyOnSignal()
{
    QFETCH(int, signal);

    QVERIFY(!start({"--profile", "MacBookPro8,2"}).isEmpty());
    QSmcTransportSocket idle(m_SocketPath); // a client that stays connected
    QVERIFY(idle.open());
    QCOMPARE(readKey(idle, "FNum", 1), QByteArray(1, 2));
    QVERIFY(QFileInfo::exists(m_SocketPath));
    ::kill(static_cast<pid_t>(m_pDaemon->processId()), signal);
    QVERIFY(m_pDaemon->waitForFinished(10000));
    QCOMPARE(m_pDaemon->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_pDaemon->exitCode(), 0);
    QVERIFY(!QFileInfo::exists(m_SocketPath));
    QCOMPARE(readKey(idle, "FNum", 1), QByteArray("failed"));
}

void TestSimDaemon::badArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("withSocket");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QString dir = TestSupport::profilesDir();
    QTest::newRow("no socket") << QStringList({"--profile", "MacPro4,1"}) << false << 2
                               << "--socket";
    QTest::newRow("no profile or dump") << QStringList() << true << 2 << "exactly one";
    QTest::newRow("profile and dump")
        << QStringList({"--profile", "MacPro4,1", "--dump", dir + "/MacPro4,1.dump"}) << true << 2
        << "exactly one";
    QTest::newRow("unknown option")
        << QStringList({"--profile", "MacPro4,1", "--fast"}) << true << 2 << "--fast";
    QTest::newRow("missing value") << QStringList({"--profile"}) << true << 2 << "needs a value";
    QTest::newRow("unknown profile")
        << QStringList({"--profile", "PowerBook1,1"}) << true << 2 << "PowerBook1,1";
    QTest::newRow("short fault key")
        << QStringList({"--profile", "MacPro4,1", "--fault-read", "TC0"}) << true << 2
        << "four-character";
    QTest::newRow("bad delay") << QStringList(
                                      {"--profile", "MacPro4,1", "--fault-slow-write", "F0Tg=soon"})
                               << true << 2 << "soon";
    QTest::newRow("bad seed") << QStringList({"--profile", "MacPro4,1", "--seed", "-x"}) << true
                              << 2 << "-x";
    QTest::newRow("fault on a key not in the table")
        << QStringList({"--profile", "Macmini5,1", "--fault-read", "TZ9Z"}) << true << 2 << "TZ9Z";
    QTest::newRow("hot fault on a key that is no sensor")
        << QStringList({"--profile", "Macmini5,1", "--fault-hot", "FNum"}) << true << 2 << "FNum";
    QTest::newRow("index fault past the end")
        << QStringList({"--profile", "Macmini5,1", "--fault-index", "270"}) << true << 2 << "269";
    QTest::newRow("missing dump") << QStringList({"--dump", "/nonexistent/x.dump"}) << true << 2
                                  << "/nonexistent/x.dump";
}

void TestSimDaemon::badArguments()
{
    QFETCH(QStringList, args);
    QFETCH(bool, withSocket);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    QProcess process;
    process.start(TestSupport::binDir() + "/thermora-smcsim",
                  (withSocket ? QStringList({"--socket", m_SocketPath}) : QStringList()) + args);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), exitCode);
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.startsWith("thermora-smcsim: ") && err.contains(message), qPrintable(err));
    QVERIFY(process.readAllStandardOutput().isEmpty());
    QVERIFY(!QFileInfo::exists(m_SocketPath));
}

void TestSimDaemon::socketPathInUse_data()
{
    QTest::addColumn<QString>("occupant");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    QTest::newRow("stale socket is replaced") << "stale" << 0 << QString();
    QTest::newRow("live daemon is left alone") << "daemon" << 1 << "already serves";
    QTest::newRow("regular file is left alone") << "file" << 1 << "not a socket";
}

void TestSimDaemon::socketPathInUse()
{
    QFETCH(QString, occupant);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    if (occupant == "stale") {
        // A socket file nobody listens on, as a killed server leaves it.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray native = m_SocketPath.toLocal8Bit();
        std::memcpy(address.sun_path, native.constData(), static_cast<size_t>(native.size()));
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    } else if (occupant == "daemon") {
        QVERIFY(!start({"--profile", "Macmini5,1"}).isEmpty());
    } else {
        QFile file(m_SocketPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("precious");
    }
    QProcess second;
    second.start(TestSupport::binDir() + "/thermora-smcsim",
                 {"--socket", m_SocketPath, "--profile", "MacPro4,1"});
    QVERIFY(second.waitForStarted(10000));
    if (exitCode == 0) {
        QVERIFY(second.waitForReadyRead(10000));
        QVERIFY(second.readLine().startsWith("thermora-smcsim: serving MacPro4,1"));
        QCOMPARE(QSmcTransportSocket::queryModel(m_SocketPath), QString("MacPro4,1"));
        ::kill(static_cast<pid_t>(second.processId()), SIGTERM);
    }
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), exitCode);
    const QString err = QString::fromUtf8(second.readAllStandardError());
    QVERIFY2(message.isEmpty() ? err.isEmpty() : err.contains(message), qPrintable(err));
    if (occupant == "daemon")
        QCOMPARE(QSmcTransportSocket::queryModel(m_SocketPath), QString("Macmini5,1"));
    if (occupant == "file") {
        QFile file(m_SocketPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("precious"));
    }
}

void TestSimDaemon::faultFlags()
{
    // A malformed dump names its file and line.
    QFile dump(m_pDir->filePath("bad.dump"));
    QVERIFY(dump.open(QIODevice::WriteOnly));
    dump.write(
        "  TC0P  [sp78]  (bytes 2d 80)\n  TC0D  [sp78]  (bytes 2d)\n  FNum [ui8 ] (bytes 01)\n");
    dump.close();
    QProcess bad;
    bad.start(TestSupport::binDir() + "/thermora-smcsim",
              {"--socket", m_SocketPath, "--dump", dump.fileName()});
    QVERIFY(bad.waitForFinished(10000));
    QCOMPARE(bad.exitCode(), 2);
    QVERIFY2(bad.readAllStandardError().contains("bad.dump:3:"), "line 3 named");

    QVERIFY(!start({"--profile", "MacBookPro8,2", "--fault-read", "TC0P", "--fault-hot",
                    "TC0D=131.5", "--fault-index", "5", "--fault-read", "FS! "})
                 .isEmpty());
    QSmcTransportSocket transport(m_SocketPath);
    QVERIFY(transport.open());
    QCOMPARE(readKey(transport, "TC0P", 2), QByteArray("failed"));
    QCOMPARE(readKey(transport, "FS! ", 2), QByteArray("failed"));
    QCOMPARE(readKey(transport, "TC0D", 2).toHex(), QByteArray("8380"));
    SMCKeyData_t output;
    QCOMPARE(transport.call(kSmcMethodSelector, request(SmcCmdReadIndex, nullptr, 0, 5), output),
             kSmcReturnError);
    QCOMPARE(transport.call(kSmcMethodSelector, request(SmcCmdReadIndex, nullptr, 0, 6), output),
             0);
}

void TestSimDaemon::slowWriteDoesNotBlockOtherClients()
{
    QVERIFY(!start({"--profile", "MacBookPro8,2", "--fault-slow-write", "F0Tg=2000"}).isEmpty());
    QSmcTransportSocket writer(m_SocketPath), reader(m_SocketPath);
    QVERIFY(writer.open());
    QVERIFY(reader.open());
    QCOMPARE(writeKey(writer, "FS! ", QByteArray("\x00\x01", 2)), 0);
    std::atomic<bool> bWriteDone{false};
    std::atomic<int> nWriteResult{-1};
    std::thread thread([&] {
        nWriteResult = writeKey(writer, "F0Tg", QByteArray("\x5d\xc0", 2));
        bWriteDone = true;
    });
    // The write is pending for two seconds; reads on another connection answer meanwhile.
    QCOMPARE(readKey(reader, "FNum", 1), QByteArray(1, 2));
    const bool bAnsweredBeforeWrite = !bWriteDone.load();
    thread.join();
    QVERIFY(bAnsweredBeforeWrite);
    QCOMPARE(nWriteResult.load(), 0);
    QCOMPARE(readKey(reader, "F0Tg", 2).toHex(), QByteArray("5dc0"));
}

void TestSimDaemon::reconnectsAfterRestart()
{
    QVERIFY(!start({"--profile", "Macmini5,1"}).isEmpty());
    QSmcTransportSocket transport(m_SocketPath);
    QVERIFY(transport.open());
    QCOMPARE(transport.machineModel(), QString("Macmini5,1"));
    stop();
    QCOMPARE(readKey(transport, "FNum", 1), QByteArray("failed"));
    QVERIFY(!start({"--profile", "MacPro4,1"}).isEmpty());
    QCOMPARE(readKey(transport, "FNum", 1), QByteArray(1, 6));
    QCOMPARE(transport.machineModel(), QString("MacPro4,1"));
}

void TestSimDaemon::rootWritesOnlyByPeerUid()
{
    if (::geteuid() != 0)
        QSKIP("needs root to act as another user");
    QVERIFY(QFile::setPermissions(
        m_pDir->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                            QFileDevice::ExeOther | QFileDevice::ReadOther));
    QVERIFY(!start({"--profile", "MacBookPro8,2", "--root-writes-only"}).isEmpty());
    QSmcTransportSocket root(m_SocketPath);
    QVERIFY(root.open());
    // Fan 0 manual first, so that the controller leaves its target alone.
    QCOMPARE(writeKey(root, "FS! ", QByteArray("\x00\x01", 2)), 0);
    QCOMPARE(writeKey(root, "F0Tg", QByteArray("\x5d\xc0", 2)), 0);

    // An ordinary user may read but not write.
    const pid_t pid = ::fork();
    QVERIFY(pid >= 0);
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(10);
        QSmcTransportSocket user(m_SocketPath);
        if (!user.open())
            ::_exit(11);
        if (readKey(user, "FNum", 1) != QByteArray(1, 2))
            ::_exit(12);
        ::_exit(writeKey(user, "F0Tg", QByteArray("\x2e\xe0", 2)) == kSmcReturnNotPrivileged ? 0
                                                                                            : 13);
    }
    int nStatus = 0;
    QCOMPARE(::waitpid(pid, &nStatus, 0), pid);
    QVERIFY(WIFEXITED(nStatus));
    QCOMPARE(WEXITSTATUS(nStatus), 0);
    QCOMPARE(readKey(root, "F0Tg", 2).toHex(), QByteArray("5dc0"));
}

void TestSimDaemon::openFailureIsReported()
{
    // Capture what open() prints on standard output.
    std::fflush(stdout);
    int pipeFds[2];
    QCOMPARE(::pipe(pipeFds), 0);
    const int nSaved = ::dup(STDOUT_FILENO);
    ::dup2(pipeFds[1], STDOUT_FILENO);
    QSmcTransportSocket transport(m_SocketPath);
    const bool bOpened = transport.open();
    std::fflush(stdout);
    ::dup2(nSaved, STDOUT_FILENO);
    ::close(nSaved);
    ::close(pipeFds[1]);
    char buffer[512] = {};
    const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer - 1);
    ::close(pipeFds[0]);
    QVERIFY(!bOpened);
    const QString printed = QString::fromLocal8Bit(buffer, n > 0 ? int(n) : 0);
    QVERIFY2(printed.startsWith("Error: cannot connect to the SMC simulator at " + m_SocketPath),
             qPrintable(printed));
    QCOMPARE(readKey(transport, "FNum", 1), QByteArray("failed"));
    QString error;
    QVERIFY(QSmcTransportSocket::queryModel(m_SocketPath, 1000, &error).isEmpty());
    QVERIFY(!error.isEmpty());
}

QTEST_GUILESS_MAIN(TestSimDaemon)
#include "tst_simdaemon.moc"
