#pragma once

#include "smc/QSmcTransport.h"
#include "smc/base/QSmcSocketClient.h"

#include <QString>

// The program's client of the simulator daemon: the plain socket client behind the program's
// transport interface, with the daemon's model identifier as text.
class QSmcTransportSocket : public QSmcTransport
{
public:
    static constexpr int kDefaultTimeoutMsecs = QSmcSocketClient::kDefaultTimeoutMsecs;

    explicit QSmcTransportSocket(const QString& socketPath,
                                 int nTimeoutMsecs = kDefaultTimeoutMsecs);

    bool open() override { return m_Client.open(); }
    void close() override { m_Client.close(); }
    int call(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output) override
    {
        return m_Client.call(selector, input, output);
    }
    QString machineModel() override;

    QString socketPath() const { return m_SocketPath; }

    // Asks the daemon at socketPath for its model identifier over a connection of its own;
    // empty (with *pError set) when it cannot.
    static QString queryModel(const QString& socketPath, int nTimeoutMsecs = 5000,
                              QString* pError = nullptr);

    // The socket named by the environment variable THERMORA_SMC_SOCKET; empty when unset.
    static QString socketPathFromEnvironment();

private:
    QString m_SocketPath;
    QSmcSocketClient m_Client;
};
