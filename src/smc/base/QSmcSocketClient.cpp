#include "smc/base/QSmcSocketClient.h"

#include "smc/base/SimSocketUtils.h"
#include "smc/base/SimWire.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

using namespace SimSocketUtils;

QSmcSocketClient::QSmcSocketClient(const std::string& socketPath, int nTimeoutMsecs)
    : m_SocketPath(socketPath), m_nTimeoutMsecs(nTimeoutMsecs > 0 ? nTimeoutMsecs : 1)
{}

QSmcSocketClient::~QSmcSocketClient()
{
    close();
}

bool QSmcSocketClient::open()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    closeLocked();
    std::string error;
    m_nFd = connectTo(m_SocketPath, m_nTimeoutMsecs, &error);
    if (m_nFd < 0) {
        std::printf("Error: cannot connect to the SMC simulator at %s: %s\n", m_SocketPath.c_str(),
                    error.c_str());
        std::fflush(stdout);
        return false;
    }
    m_bOpened = true;
    return true;
}

void QSmcSocketClient::close()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    closeLocked();
    m_bOpened = false;
}

void QSmcSocketClient::closeLocked()
{
    if (m_nFd >= 0)
        ::close(m_nFd);
    m_nFd = -1;
}

int QSmcSocketClient::exchange(int fd, int nTimeoutMsecs, const std::string& request,
                               uint16_t replyType, std::string& reply)
{
    // One deadline for the whole call: a daemon trickling bytes cannot hold the caller longer.
    const Deadline deadline = deadlineIn(nTimeoutMsecs);
    IoResult result = sendAll(fd, request, deadline);
    if (result != IoOk)
        return result;
    SimWire::FrameHeader header;
    result = receiveFrame(fd, header, reply, deadline);
    if (result == IoOk && header.type != replyType)
        return IoBadFrame;
    return result;
}

int QSmcSocketClient::exchangeReconnecting(const std::string& request, uint16_t replyType,
                                           std::string& reply)
{
    if (!m_bOpened)
        return IoClosed;
    int nResult =
        m_nFd >= 0 ? exchange(m_nFd, m_nTimeoutMsecs, request, replyType, reply) : IoClosed;
    if (nResult == IoClosed) {
        // The daemon went away or restarted: one fresh connection, one more try.
        closeLocked();
        m_nFd = connectTo(m_SocketPath, m_nTimeoutMsecs, nullptr);
        if (m_nFd >= 0)
            nResult = exchange(m_nFd, m_nTimeoutMsecs, request, replyType, reply);
    }
    if (nResult != IoOk)
        closeLocked(); // a timed-out or garbled stream is out of step: start afresh next time
    return nResult;
}

int QSmcSocketClient::call(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output)
{
    std::memset(&output, 0, sizeof output);
    const std::string request =
        SimWire::encodeFrame(SimWire::SimFrameCall, SimWire::encodeCall(selector, input));
    std::string reply;
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (exchangeReconnecting(request, SimWire::SimFrameCallReply, reply) != IoOk)
        return kSmcReturnError;
    uint32_t nResult = 0;
    SimWire::decodeCall(reply, nResult, output);
    return static_cast<int>(nResult);
}

bool QSmcSocketClient::model(std::string* pModel)
{
    const std::string request = SimWire::encodeFrame(SimWire::SimFrameModel, std::string());
    std::lock_guard<std::mutex> lock(m_Mutex);
    return exchangeReconnecting(request, SimWire::SimFrameModelReply, *pModel) == IoOk;
}

bool QSmcSocketClient::driveRequest(uint32_t nCommand, uint32_t nDrive, int32_t& nResult,
                                    std::string& block)
{
    std::string payload(SimWire::kDrivePayloadSize, '\0');
    SimWire::storeLittleEndian(nCommand, 4, &payload[0]);
    SimWire::storeLittleEndian(nDrive, 4, &payload[4]);
    const std::string request = SimWire::encodeFrame(SimWire::SimFrameDrive, payload);
    std::string reply;
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_bOpened = true; // drive clients connect on first use and quietly
    if (exchangeReconnecting(request, SimWire::SimFrameDriveReply, reply) != IoOk)
        return false;
    nResult = static_cast<int32_t>(SimWire::loadLittleEndian(reply.data(), 4));
    block = reply.substr(4);
    return true;
}

std::string QSmcSocketClient::queryModel(const std::string& socketPath, int nTimeoutMsecs,
                                         std::string* pError)
{
    const int fd = connectTo(socketPath, nTimeoutMsecs, pError);
    if (fd < 0)
        return std::string();
    std::string reply;
    const int nResult =
        exchange(fd, nTimeoutMsecs, SimWire::encodeFrame(SimWire::SimFrameModel, std::string()),
                 SimWire::SimFrameModelReply, reply);
    ::close(fd);
    if (nResult != IoOk) {
        if (pError)
            *pError = nResult == IoTimeout ? "no answer from the simulator"
                                           : "the simulator closed the connection";
        return std::string();
    }
    return reply;
}
