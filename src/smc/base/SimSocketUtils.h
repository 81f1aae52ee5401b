#pragma once

#include "smc/base/SimWire.h"

#include <chrono>
#include <string>

// Blocking frame I/O on a connected Unix-domain stream socket (SIGPIPE never raised).
namespace SimSocketUtils {

enum IoResult
{
    IoOk,
    IoClosed,  // the peer closed or reset the connection, or the pipe is broken
    IoTimeout, // the socket's send or receive timeout expired
    IoBadFrame // the peer sent something that is not a frame of the wire format
};

// The time by which a whole exchange must be done, whatever trickles in meanwhile.
using Deadline = std::chrono::steady_clock::time_point;
Deadline deadlineIn(int nMsecs);
const Deadline kNoDeadline = Deadline::max(); // only the socket's own timeouts apply

IoResult sendAll(int fd, const std::string& data, Deadline deadline = kNoDeadline);
IoResult receiveAll(int fd, char* pBuffer, int nSize, Deadline deadline = kNoDeadline);

// Reads one frame; checks the header and the payload size for its type.
IoResult receiveFrame(int fd, SimWire::FrameHeader& header, std::string& payload,
                      Deadline deadline = kNoDeadline);
// Waits for a frame's first byte as long as the socket's timeout allows, then the whole frame
// must arrive within nFrameMsecs: a peer trickling bytes holds nobody for long.
IoResult receiveFrameWithin(int fd, SimWire::FrameHeader& header, std::string& payload,
                            int nFrameMsecs);

// A connected client socket with send and receive timeouts, or -1 (with *pError set and the
// system's error number in *pErrno).
int connectTo(const std::string& path, int nTimeoutMsecs, std::string* pError,
              int* pErrno = nullptr);
void setTimeouts(int fd, int nTimeoutMsecs);

// The uid of the process on the other end of a connected Unix-domain socket; false if unknown.
bool peerUid(int fd, uint32_t& nUid);

} // namespace SimSocketUtils
