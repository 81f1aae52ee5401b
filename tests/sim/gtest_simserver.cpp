// The simulator's socket under clients that hold it: too many, silent, or arriving while the
// daemon is out of descriptors. Real sockets, limits lowered so that each case takes moments.
#include "sim/QSimServer.h"
#include "sim/QSimSmc.h"
#include "smc/base/SimSocketUtils.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
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
        QString error;
        ASSERT_TRUE(m_pServer->listen(m_Path, &error)) << qPrintable(error);
        m_Thread = std::thread([this] { m_pServer->run(); });
    }
    void TearDown() override
    {
        if (m_pServer)
            m_pServer->stop();
        if (m_Thread.joinable())
            m_Thread.join();
    }
    int connectClient() { return connectTo(m_Path.toStdString(), 3000, nullptr); }
    // Asks for the model; true when the answer came.
    static bool askModel(int fd)
    {
        SimWire::FrameHeader header;
        std::string payload;
        return sendAll(fd, SimWire::encodeFrame(SimWire::SimFrameModel, std::string())) == IoOk &&
               receiveFrame(fd, header, payload) == IoOk && payload == "Macmini5,1";
    }
    // Waits up to a second for the server to hold nCount connections.
    bool waitLive(int nCount)
    {
        for (int i = 0; i < 200 && m_pServer->liveConnections() != nCount; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return m_pServer->liveConnections() == nCount;
    }

    QTemporaryDir m_Dir;
    QString m_Path = QDir(m_Dir.path()).filePath("smc.sock");
    QSimSmc m_Sim;
    std::unique_ptr<QSimServer> m_pServer;
    std::thread m_Thread;
};

double cpuSecs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

TEST_F(SimServer, ClientsBeyondTheLimitWaitUntilSilentOnesAreDropped)
{
    start({2, 400, 200});
    const int a = connectClient(), b = connectClient();
    ASSERT_TRUE(askModel(a) && askModel(b));
    const int c = connectClient(); // queued: two are served at most
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(m_pServer->liveConnections(), 2);
    EXPECT_TRUE(askModel(c)); // once a and b have been silent for the idle time
    char byte = 0;
    EXPECT_EQ(::recv(a, &byte, 1, 0), 0); // dropped: the server closed its end
    EXPECT_EQ(::recv(b, &byte, 1, 0), 0);
    for (int fd : {a, b, c})
        ::close(fd);
    EXPECT_TRUE(waitLive(0));
}

TEST_F(SimServer, ALeavingClientIsLetGoAtOnce)
{
    start({4, 60000, 200});
    const int nOpenBefore = QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot).size();
    const int fd = connectClient();
    ASSERT_TRUE(askModel(fd));
    ::close(fd);
    EXPECT_TRUE(waitLive(0)); // long before any idle timeout or next client
    EXPECT_EQ(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot).size(), nOpenBefore);
}

TEST_F(SimServer, OutOfDescriptorsTheServerWaitsInsteadOfSpinning)
{
    start({4, 60000, 100});
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    const int nFree = ::dup(0); // the lowest free number: below it every descriptor is taken
    ::close(nFree);
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(nFree);
    setrlimit(RLIMIT_NOFILE, &tight);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", qPrintable(m_Path));
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const double dCpu = cpuSecs();
    std::this_thread::sleep_for(std::chrono::milliseconds(400)); // accept fails all along
    const double dSpent = cpuSecs() - dCpu;
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_LT(dSpent, 0.1); // a spinning server burns the whole 0.4 s
    setTimeouts(fd, 3000);
    EXPECT_TRUE(askModel(fd)); // taken on once descriptors are free again
    ::close(fd);
}
