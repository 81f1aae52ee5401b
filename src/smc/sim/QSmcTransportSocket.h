#pragma once

#include "smc/QSmcTransport.h"

#include <QString>

#include <mutex>

// Client of the simulator daemon over its Unix-domain socket (wire format in SimWire.h).
// Calls are synchronous and serialised; each waits at most the timeout for its reply. A
// connection the daemon has closed (broken pipe, reset) is re-opened once per call and the call
// sent again.
class QSmcTransportSocket : public QSmcTransport
{
public:
    static constexpr int kDefaultTimeoutMsecs = 30000; // above any slow write the daemon fakes

    explicit QSmcTransportSocket(const QString& socketPath,
                                 int nTimeoutMsecs = kDefaultTimeoutMsecs);
    ~QSmcTransportSocket() override;

    // Prints "Error: cannot connect to the SMC simulator at PATH: REASON" to standard output
    // when the daemon cannot be reached.
    bool open() override;
    void close() override;
    int call(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output) override;
    QString machineModel() override;

    QString socketPath() const { return m_SocketPath; }

    // Asks the daemon at socketPath for its model identifier over a connection of its own;
    // empty (with *pError set) when it cannot.
    static QString queryModel(const QString& socketPath, int nTimeoutMsecs = 5000,
                              QString* pError = nullptr);

    // The socket named by the environment variable THERMORA_SMC_SOCKET; empty when unset.
    static QString socketPathFromEnvironment();

private:
    Q_DISABLE_COPY(QSmcTransportSocket)

    // One request and its reply on fd; IoOk or why not.
    static int exchange(int fd, const QByteArray& request, quint16 replyType, QByteArray& reply);
    int exchangeReconnecting(const QByteArray& request, quint16 replyType, QByteArray& reply);
    void closeLocked();

    QString m_SocketPath;
    int m_nTimeoutMsecs;
    std::mutex m_Mutex;
    int m_nFd = -1;
    bool m_bOpened = false;
};
