#include "smc/base/SimSocketUtils.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

} // namespace

SimSocketUtils::IoResult SimSocketUtils::sendAll(int fd, const std::string& data)
{
    int nSent = 0;
    while (nSent < static_cast<int>(data.size())) {
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

SimSocketUtils::IoResult SimSocketUtils::receiveAll(int fd, char* pBuffer, int nSize)
{
    int nReceived = 0;
    while (nReceived < nSize) {
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

SimSocketUtils::IoResult SimSocketUtils::receiveFrame(int fd, SimWire::FrameHeader& header,
                                                      std::string& payload)
{
    char headerBytes[SimWire::kHeaderSize];
    IoResult result = receiveAll(fd, headerBytes, SimWire::kHeaderSize);
    if (result != IoOk)
        return result;
    if (!SimWire::decodeHeader(headerBytes, header) || !SimWire::payloadFits(header))
        return IoBadFrame;
    payload.resize(header.length);
    return header.length == 0 ? IoOk
                              : receiveAll(fd, &payload[0], static_cast<int>(payload.size()));
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
