#include "smc/base/SimSocketUtils.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0 // Apple systems use SO_NOSIGPIPE instead (set in connectTo)
#endif

namespace {

SimSocketUtils::IoResult errorResult()
{
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? SimSocketUtils::IoTimeout
                                                     : SimSocketUtils::IoClosed;
}

// Waits until fd is ready for events or the deadline passes; IoOk when ready.
SimSocketUtils::IoResult waitReady(int fd, short events, SimSocketUtils::Deadline deadline)
{
    if (deadline == SimSocketUtils::kNoDeadline)
        return SimSocketUtils::IoOk;
    for (;;) {
        const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(
                               deadline - std::chrono::steady_clock::now())
                               .count();
        if (nLeft <= 0)
            return SimSocketUtils::IoTimeout;
        pollfd pfd{fd, events, 0};
        const int nReady = ::poll(&pfd, 1, static_cast<int>(nLeft));
        if (nReady > 0)
            return SimSocketUtils::IoOk;
        if (nReady == 0)
            return SimSocketUtils::IoTimeout;
        if (errno != EINTR)
            return SimSocketUtils::IoClosed;
    }
}

} // namespace

SimSocketUtils::Deadline SimSocketUtils::deadlineIn(int nMsecs)
{
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(nMsecs);
}

SimSocketUtils::IoResult SimSocketUtils::sendAll(int fd, const std::string& data, Deadline deadline)
{
    int nSent = 0;
    while (nSent < static_cast<int>(data.size())) {
        const IoResult ready = waitReady(fd, POLLOUT, deadline);
        if (ready != IoOk)
            return ready;
        const ssize_t n =
            ::send(fd, data.data() + nSent, static_cast<size_t>(data.size() - nSent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return errorResult();
        nSent += static_cast<int>(n);
    }
    return IoOk;
}

SimSocketUtils::IoResult SimSocketUtils::receiveAll(int fd, char* pBuffer, int nSize,
                                                    Deadline deadline)
{
    int nReceived = 0;
    while (nReceived < nSize) {
        const IoResult ready = waitReady(fd, POLLIN, deadline);
        if (ready != IoOk)
            return ready;
        const ssize_t n =
            ::recv(fd, pBuffer + nReceived, static_cast<size_t>(nSize - nReceived), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            return IoClosed;
        if (n < 0)
            return errorResult();
        nReceived += static_cast<int>(n);
    }
    return IoOk;
}

namespace {
// The frame whose first nHave header bytes are already in headerBytes.
SimSocketUtils::IoResult receiveRest(int fd, char* headerBytes, int nHave,
                                     SimWire::FrameHeader& header, std::string& payload,
                                     SimSocketUtils::Deadline deadline)
{
    using namespace SimSocketUtils;
    IoResult result = receiveAll(fd, headerBytes + nHave, SimWire::kHeaderSize - nHave, deadline);
    if (result != IoOk)
        return result;
    if (!SimWire::decodeHeader(headerBytes, header) || !SimWire::payloadFits(header))
        return IoBadFrame;
    payload.resize(header.length);
    return header.length == 0
               ? IoOk
               : receiveAll(fd, &payload[0], static_cast<int>(payload.size()), deadline);
}
} // namespace

SimSocketUtils::IoResult SimSocketUtils::receiveFrame(int fd, SimWire::FrameHeader& header,
                                                      std::string& payload, Deadline deadline)
{
    char headerBytes[SimWire::kHeaderSize];
    return receiveRest(fd, headerBytes, 0, header, payload, deadline);
}

SimSocketUtils::IoResult SimSocketUtils::receiveFrameWithin(int fd, SimWire::FrameHeader& header,
                                                            std::string& payload, int nFrameMsecs)
{
    char headerBytes[SimWire::kHeaderSize];
    const IoResult result = receiveAll(fd, headerBytes, 1);
    if (result != IoOk)
        return result;
    return receiveRest(fd, headerBytes, 1, header, payload, deadlineIn(nFrameMsecs));
}

void SimSocketUtils::setTimeouts(int fd, int nTimeoutMsecs)
{
    timeval tv{};
    tv.tv_sec = nTimeoutMsecs / 1000;
    tv.tv_usec = (nTimeoutMsecs % 1000) * 1000;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

int SimSocketUtils::connectTo(const std::string& path, int nTimeoutMsecs, std::string* pError,
                              int* pErrno)
{
    if (pErrno)
        *pErrno = 0;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        if (pError)
            *pError = "the socket path is empty or too long";
        return -1;
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) {
        if (pError)
            *pError = std::strerror(errno);
        return -1;
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
#ifdef SO_NOSIGPIPE
    const int nOne = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &nOne, sizeof nOne);
#endif
    setTimeouts(fd, nTimeoutMsecs);
    int nResult = 0;
    do {
        nResult = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (nResult < 0 && errno == EINTR);
    if (nResult < 0) {
        if (pErrno)
            *pErrno = errno;
        if (pError)
            *pError = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}
