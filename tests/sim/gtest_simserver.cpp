// The simulator's socket under clients that hold it: too many, silent, or arriving while the
// daemon is out of descriptors. Real sockets, limits lowered so that each case takes moments.
#include "sim/QSimServer.h"
#include "sim/QSimSmc.h"
#include "smc/base/QSmcSocketClient.h"
#include "smc/base/SimSocketUtils.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace SimSocketUtils;

namespace {

class SimServer : public ::testing::Test
{
protected:
    void start(const QSimServerLimits& limits)
    {
        m_Sim.setModel(QStringLiteral("Macmini5,1"));
        m_pServer.reset(new QSimServer(m_Sim, limits));
        ASSERT_TRUE(m_pServer->listen(m_Path, nullptr));
        m_Thread = std::thread([this] { m_pServer->run(); });
    }
    void TearDown() override { m_pServer->stop(), m_Thread.join(); }
    int connectClient() { return connectTo(m_Path.toStdString(), 3000, nullptr); }
    static bool askModel(int fd) // true when the model came back
    {
        SimWire::FrameHeader header;
        std::string payload;
        return sendAll(fd, SimWire::encodeFrame(SimWire::SimFrameModel, std::string())) == IoOk &&
               receiveFrame(fd, header, payload) == IoOk && payload == "Macmini5,1";
    }

    QTemporaryDir m_Dir;
    QString m_Path = QDir(m_Dir.path()).filePath("smc.sock");
    QSimSmc m_Sim;
    std::unique_ptr<QSimServer> m_pServer;
    std::thread m_Thread;
};

} // namespace

TEST_F(SimServer, ClientsAreBoundedSilentOnesDroppedLeavingOnesLetGo)
{
    start({2, 400, 200});
    const int nOpenBefore = QDir("/proc/self/fd").count();
    const int a = connectClient(), b = connectClient();
    ASSERT_TRUE(askModel(a) && askModel(b));
    const int c = connectClient(); // queued: two are served at most
    ::usleep(100000);
    EXPECT_EQ(m_pServer->liveConnections(), 2);
    EXPECT_TRUE(askModel(c)); // once a and b have been silent for the idle time
    char byte = 0;
    EXPECT_EQ(::recv(a, &byte, 1, 0), 0); // the server closed its end
    for (int fd : {a, b, c})
        ::close(fd);
    ::usleep(100000); // well within the idle time
    EXPECT_EQ(m_pServer->liveConnections(), 0);
    EXPECT_EQ(QDir("/proc/self/fd").count(), nOpenBefore);
}

TEST_F(SimServer, AClientTricklingAFrameIsDroppedWhenItsTimeIsUp)
{
    start({1, 60000, 200, 500});
    const int a = connectClient();
    const std::string frame = SimWire::encodeFrame(SimWire::SimFrameModel, std::string());
    std::thread trickle([a, &frame] { // a byte every 200 ms: never silent for the idle time
        for (char byte : frame + frame) {
            if (sendAll(a, std::string(1, byte)) != IoOk)
                break;
            ::usleep(200000);
        }
    });
    const int b = connectClient(); // queued behind a, the only client served
    EXPECT_TRUE(askModel(b));
    trickle.join();
    ::close(a), ::close(b);
}

// The client's side: a daemon trickling its reply holds a call no longer than its deadline.
TEST(SimClient, ACallEndsAtItsDeadlineWhateverTricklesIn)
{
    QTemporaryDir dir;
    const std::string path = QDir(dir.path()).filePath("smc.sock").toStdString();
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::listen(listener, 1);
    std::thread daemon([listener] {
        const int fd = ::accept(listener, nullptr, nullptr);
        SimWire::FrameHeader header;
        std::string request;
        receiveFrame(fd, header, request);
        for (char byte : SimWire::encodeFrame(SimWire::SimFrameModelReply, std::string(40, 'M'))) {
            if (sendAll(fd, std::string(1, byte)) != IoOk)
                break;
            ::usleep(100000);
        }
        ::close(fd);
    });
    QSmcSocketClient client(path, 500);
    ASSERT_TRUE(client.open());
    std::string model;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.model(&model));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    client.close();
    daemon.join();
    ::close(listener);
}

TEST_F(SimServer, OutOfDescriptorsTheServerWaitsInsteadOfSpinning)
{
    start({4, 60000, 100});
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(::dup(0)); // the lowest free number: every one below it is taken
    ::close(int(tight.rlim_cur));
    setrlimit(RLIMIT_NOFILE, &tight);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", qPrintable(m_Path));
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::usleep(400000); // accept fails all along
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_GE(m_pServer->acceptFailures(), 1u);
    EXPECT_LE(m_pServer->acceptFailures(), 6u); // once per 100 ms; a spinning server: thousands
    setTimeouts(fd, 3000);
    EXPECT_TRUE(askModel(fd)); // taken on once descriptors are free again
    ::close(fd);
}
