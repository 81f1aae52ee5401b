// The simulator's wire framing end to end: arbitrary bytes from a client on the real socket
// (server thread, frame deadline), then the program's socket client must still be answered.
#include "helpers/QClock.h"
#include "sim/QSimServer.h"
#include "sim/QSimSmc.h"
#include "smc/base/QSmcSocketClient.h"
#include "smc/base/SimSocketUtils.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

struct Daemon
{
    Daemon()
    {
        sim.setModel(QStringLiteral("Macmini5,1"));
        QSimServerLimits limits;
        limits.nIdleMsecs = 200;
        limits.nFrameMsecs = 100;
        server.reset(new QSimServer(sim, limits));
        if (!server->listen(path, nullptr))
            abort();
        thread = std::thread([this] { server->run(); });
    }
    QTemporaryDir dir;
    QString path = QDir(dir.path()).filePath(QStringLiteral("smc.sock"));
    QSimSmc sim;
    std::unique_ptr<QSimServer> server;
    std::thread thread;
};

Daemon* g_pDaemon = nullptr;

// The server thread is stopped and joined when the run ends, before the leak check: a
// connection it was still serving would otherwise leave its buffers behind as leaks.
void stopDaemon()
{
    g_pDaemon->server->stop();
    g_pDaemon->thread.join();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Daemon* pDaemon = [] { // lives for the whole run
        g_pDaemon = new Daemon;
        std::atexit(stopDaemon);
        return g_pDaemon;
    }();
    const std::string path = pDaemon->path.toStdString();
    const int fd = SimSocketUtils::connectTo(path, 300, nullptr);
    if (fd < 0)
        abort();
    SimSocketUtils::sendAll(fd, std::string(reinterpret_cast<const char*>(data), size));
    ::shutdown(fd, SHUT_WR);
    SimWire::FrameHeader header;
    std::string reply;
    // Whatever comes back is whole frames of the wire format, then the end.
    while (SimSocketUtils::receiveFrame(fd, header, reply) == SimSocketUtils::IoOk) {
        if (!SimWire::payloadFits(header))
            abort();
    }
    ::close(fd);
    if (QSmcSocketClient::queryModel(path, 2000, nullptr) != "Macmini5,1")
        abort();
    return 0;
}
