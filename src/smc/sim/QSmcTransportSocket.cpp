#include "smc/sim/QSmcTransportSocket.h"

#include "smc/sim/SimSocketUtils.h"
#include "smc/sim/SimWire.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

using namespace SimSocketUtils;

QSmcTransportSocket::QSmcTransportSocket(const QString& socketPath, int nTimeoutMsecs)
    : m_SocketPath(socketPath), m_nTimeoutMsecs(nTimeoutMsecs > 0 ? nTimeoutMsecs : 1)
{}

QSmcTransportSocket::~QSmcTransportSocket()
{
    close();
}

bool QSmcTransportSocket::open()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    closeLocked();
    QString error;
    m_nFd = connectTo(m_SocketPath, m_nTimeoutMsecs, &error);
    if (m_nFd < 0) {
        std::printf("Error: cannot connect to the SMC simulator at %s: %s\n",
                    qPrintable(m_SocketPath), qPrintable(error));
        std::fflush(stdout);
        return false;
    }
    m_bOpened = true;
    return true;
}

void QSmcTransportSocket::close()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    closeLocked();
    m_bOpened = false;
}

void QSmcTransportSocket::closeLocked()
{
    if (m_nFd >= 0)
        ::close(m_nFd);
    m_nFd = -1;
}

int QSmcTransportSocket::exchange(int fd, const QByteArray& request, quint16 replyType,
                                  QByteArray& reply)
{
    IoResult result = sendAll(fd, request);
    if (result != IoOk)
        return result;
    SimWire::FrameHeader header;
    result = receiveFrame(fd, header, reply);
    if (result == IoOk && header.type != replyType)
        return IoBadFrame;
    return result;
}

int QSmcTransportSocket::exchangeReconnecting(const QByteArray& request, quint16 replyType,
                                              QByteArray& reply)
{
    if (!m_bOpened)
        return IoClosed;
    int nResult = m_nFd >= 0 ? exchange(m_nFd, request, replyType, reply) : IoClosed;
    if (nResult == IoClosed) {
        // The daemon went away or restarted: one fresh connection, one more try.
        closeLocked();
        m_nFd = connectTo(m_SocketPath, m_nTimeoutMsecs, nullptr);
        if (m_nFd >= 0)
            nResult = exchange(m_nFd, request, replyType, reply);
    }
    if (nResult != IoOk)
        closeLocked(); // a timed-out or garbled stream is out of step: start afresh next time
    return nResult;
}

int QSmcTransportSocket::call(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output)
{
    std::memset(&output, 0, sizeof output);
    const QByteArray request =
        SimWire::encodeFrame(SimWire::SimFrameCall, SimWire::encodeCall(selector, input));
    QByteArray reply;
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (exchangeReconnecting(request, SimWire::SimFrameCallReply, reply) != IoOk)
        return kIOReturnError;
    quint32 nResult = 0;
    SimWire::decodeCall(reply, nResult, output);
    return static_cast<int>(nResult);
}

QString QSmcTransportSocket::machineModel()
{
    const QByteArray request = SimWire::encodeFrame(SimWire::SimFrameModel, QByteArray());
    QByteArray reply;
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (exchangeReconnecting(request, SimWire::SimFrameModelReply, reply) != IoOk)
        return QString();
    return QString::fromUtf8(reply);
}

QString QSmcTransportSocket::queryModel(const QString& socketPath, int nTimeoutMsecs,
                                        QString* pError)
{
    const int fd = connectTo(socketPath, nTimeoutMsecs, pError);
    if (fd < 0)
        return QString();
    QByteArray reply;
    const int nResult = exchange(fd, SimWire::encodeFrame(SimWire::SimFrameModel, QByteArray()),
                                 SimWire::SimFrameModelReply, reply);
    ::close(fd);
    if (nResult != IoOk) {
        if (pError)
            *pError = nResult == IoTimeout ? QStringLiteral("no answer from the simulator")
                                           : QStringLiteral("the simulator closed the connection");
        return QString();
    }
    return QString::fromUtf8(reply);
}

QString QSmcTransportSocket::socketPathFromEnvironment()
{
    return qEnvironmentVariable("THERMORA_SMC_SOCKET");
}
