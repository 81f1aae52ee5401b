#include "sim/QSimServer.h"

#include "sim/QSimSmc.h"
#include "smc/base/SimSocketUtils.h"
#include "smc/base/SimWire.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace SimSocketUtils;

namespace {

qint64 monotonicMsecs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void openPipe(int (&fds)[2])
{
    if (::pipe(fds) == 0) {
        for (int fd : fds)
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
        ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    }
}

void poke(int fd)
{
    if (fd >= 0) {
        const char c = 'x';
        const ssize_t n = ::write(fd, &c, 1);
        (void)n; // a full pipe already holds a wake-up
    }
}

void drain(int fd)
{
    char buffer[64];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

// A drive request's answer: the result and the block, zero-filled to the wire's block size.
std::string driveReply(QSimDrives& drives, const std::string& payload)
{
    QByteArray block;
    const int32_t nResult = drives.request(SimWire::loadLittleEndian(payload.data(), 4),
                                           SimWire::loadLittleEndian(payload.data() + 4, 4), block);
    std::string reply(SimWire::kDriveReplyPayloadSize, '\0');
    SimWire::storeLittleEndian(static_cast<uint32_t>(nResult), 4, &reply[0]);
    std::copy(block.constBegin(), block.constBegin() + qMin(block.size(), SimWire::kDriveBlockSize),
              reply.begin() + 4);
    return SimWire::encodeFrame(SimWire::SimFrameDriveReply, reply);
}
} // namespace

QSimServer::QSimServer(QSimSmc& sim, const QSimServerLimits& limits) : m_Sim(sim), m_Limits(limits)
{
    m_Limits.nMaxClients = std::max(1, m_Limits.nMaxClients);
    m_Limits.nIdleMsecs = std::max(1, m_Limits.nIdleMsecs);
    m_Limits.nFrameMsecs = std::max(1, m_Limits.nFrameMsecs);
    m_Limits.nAcceptRetryMsecs = std::max(1, m_Limits.nAcceptRetryMsecs);
    openPipe(m_WakePipe);
    openPipe(m_DonePipe);
}

QSimServer::~QSimServer()
{
    stop();
    reapFinished(true);
    if (m_nListenFd >= 0)
        ::close(m_nListenFd);
    for (int fd : {m_WakePipe[0], m_WakePipe[1], m_DonePipe[0], m_DonePipe[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
}

int QSimServer::liveConnections() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return int(m_Connections.size());
}

int QSimServer::pollTimeout() const
{
    return m_nAcceptRetryAt > 0 ? int(std::max<qint64>(0, m_nAcceptRetryAt - monotonicMsecs()))
                                : -1;
}

bool QSimServer::listen(const QString& path, QString* pError)
{
    auto fail = [pError](const QString& message) {
        if (pError)
            *pError = message;
        return false;
    };
    const QByteArray native = path.toLocal8Bit();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (native.isEmpty() || native.size() >= static_cast<int>(sizeof address.sun_path))
        return fail(QStringLiteral("the socket path \"%1\" is empty or too long").arg(path));
    std::memcpy(address.sun_path, native.constData(), static_cast<size_t>(native.size()));
    struct stat info;
    std::memset(&info, 0, sizeof info);
    if (::lstat(native.constData(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode))
            return fail(QStringLiteral("%1 exists and is not a socket").arg(path));
        int nErrno = 0;
        const int fd = connectTo(native.toStdString(), 1000, nullptr, &nErrno);
        if (fd >= 0) {
            ::close(fd);
            return fail(QStringLiteral("another simulator already serves on %1").arg(path));
        }
        if (nErrno != ECONNREFUSED)
            return fail(QStringLiteral("%1 exists and cannot be checked: %2")
                            .arg(path, QString::fromLocal8Bit(std::strerror(nErrno))));
        ::unlink(native.constData()); // stale: nobody listens, its server died
    }
    m_nListenFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (m_nListenFd < 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    ::fcntl(m_nListenFd, F_SETFD, FD_CLOEXEC);
    if (::bind(m_nListenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_nListenFd, 16) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        ::close(m_nListenFd);
        m_nListenFd = -1;
        return fail(QStringLiteral("cannot listen on %1: %2").arg(path, reason));
    }
    ::chmod(native.constData(), 0666);
    m_Path = path;
    return true;
}

void QSimServer::run()
{
    while (!m_bStopping.load() && m_nListenFd >= 0) {
        if (m_nAcceptRetryAt > 0 && monotonicMsecs() >= m_nAcceptRetryAt)
            m_nAcceptRetryAt = 0;
        // The listening socket is watched only while a client may be taken on; otherwise a
        // waiting client would keep poll returning at once. Only this thread changes the list.
        const bool bAccepting =
            m_nAcceptRetryAt == 0 && int(m_Connections.size()) < m_Limits.nMaxClients;
        pollfd fds[3] = {{m_WakePipe[0], POLLIN, 0},
                         {m_DonePipe[0], POLLIN, 0},
                         {bAccepting ? m_nListenFd : -1, POLLIN, 0}};
        const int nReady = ::poll(fds, 3, pollTimeout());
        if (nReady < 0 && errno == EINTR)
            continue;
        if (nReady < 0 || (fds[0].revents & POLLIN))
            break;
        if (fds[1].revents & POLLIN) {
            drain(m_DonePipe[0]);
            reapFinished(false);
        }
        if (fds[2].revents & POLLIN)
            acceptOne();
    }
    m_bStopping = true;
    m_SleepCondition.notify_all();
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        for (auto& pConnection : m_Connections) {
            if (pConnection->fd >= 0)
                ::shutdown(pConnection->fd, SHUT_RDWR); // wakes its thread out of recv
        }
    }
    reapFinished(true);
    if (m_nListenFd >= 0) {
        ::close(m_nListenFd);
        m_nListenFd = -1;
    }
    if (!m_Path.isEmpty())
        ::unlink(m_Path.toLocal8Bit().constData());
}

void QSimServer::stop()
{
    m_bStopping.store(true);
    poke(m_WakePipe[1]);
}

void QSimServer::sleepInterruptibly(int nMsecs)
{
    std::unique_lock<std::mutex> lock(m_SleepMutex);
    m_SleepCondition.wait_for(lock, std::chrono::milliseconds(nMsecs),
                              [this] { return m_bStopping.load(); });
}

void QSimServer::acceptOne()
{
    const int fd = ::accept(m_nListenFd, nullptr, nullptr);
    if (fd < 0) {
        // Out of descriptors or memory: the client stays queued and is taken when some are
        // free again. Other errors concern only the client that gave up meanwhile.
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            ++m_nAcceptFailures;
            m_nAcceptRetryAt = monotonicMsecs() + m_Limits.nAcceptRetryMsecs;
        }
        return;
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    setTimeouts(fd, m_Limits.nIdleMsecs); // a silent client is dropped after the idle time
#ifdef SO_NOSIGPIPE
    const int nOne = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &nOne, sizeof nOne);
#endif
    ++m_nConnections;
    auto pConnection = std::make_unique<Connection>();
    pConnection->fd = fd;
    Connection* pRaw = pConnection.get();
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Connections.push_back(std::move(pConnection));
    pRaw->thread = std::thread([this, pRaw] { serve(pRaw); });
}

void QSimServer::serve(Connection* pConnection)
{
    const int fd = pConnection->fd;
    uint32_t nUid = 0xFFFFFFFFu; // unknown peers count as unprivileged
    peerUid(fd, nUid);
    while (!m_bStopping.load()) {
        SimWire::FrameHeader header;
        std::string payload;
        if (receiveFrameWithin(fd, header, payload, m_Limits.nFrameMsecs) != IoOk)
            break; // closed, idle too long, or not our wire format: drop this connection only
        std::string reply;
        if (header.type == SimWire::SimFrameCall) {
            uint32_t nSelector = 0;
            SMCKeyData_t input{};
            SMCKeyData_t output{};
            SimWire::decodeCall(payload, nSelector, input);
            const int nResult = m_Sim.call(nSelector, input, output, nUid);
            reply =
                SimWire::encodeFrame(SimWire::SimFrameCallReply,
                                     SimWire::encodeCall(static_cast<uint32_t>(nResult), output));
        } else if (header.type == SimWire::SimFrameModel) {
            reply = SimWire::encodeFrame(
                SimWire::SimFrameModelReply,
                m_Sim.model().toUtf8().left(SimWire::kMaxModelSize).toStdString());
        } else if (header.type == SimWire::SimFrameDrive) {
            reply = driveReply(m_Sim.drives(), payload);
        } else {
            break; // a reply type sent to the server
        }
        if (sendAll(fd, reply) != IoOk)
            break;
    }
    {
        // Closed here rather than when reaped, under the lock that run() takes to shut
        // connections down, so that a number reused by a new descriptor is never shut.
        std::lock_guard<std::mutex> lock(m_Mutex);
        ::close(fd);
        pConnection->fd = -1;
    }
    pConnection->bDone = true;
    poke(m_DonePipe[1]); // run() joins this thread now, not when the next client arrives
}

void QSimServer::reapFinished(bool bAll)
{
    std::list<std::unique_ptr<Connection>> finished;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        for (auto it = m_Connections.begin(); it != m_Connections.end();) {
            if (bAll || (*it)->bDone.load()) {
                finished.push_back(std::move(*it));
                it = m_Connections.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& pConnection : finished) {
        if (pConnection->thread.joinable())
            pConnection->thread.join();
        if (pConnection->fd >= 0)
            ::close(pConnection->fd); // a connection whose thread never started
    }
}
