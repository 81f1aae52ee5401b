#pragma once

#include "smc/base/QSmcCallTransport.h"

#include <mutex>
#include <string>

// Client of the simulator daemon over its Unix-domain socket (wire format in SimWire.h), in
// plain C++ for the key-writing tool. Calls are synchronous and serialised; each, request and
// reply together, ends within the timeout however the bytes trickle in. A connection the daemon has
// closed (broken pipe, reset) is re-opened once per call and the call sent again.
class QSmcSocketClient : public QSmcCallTransport
{
public:
    // Above a slow write the daemon fakes by default (3 s).
    static constexpr int kDefaultTimeoutMsecs = 5000;

    explicit QSmcSocketClient(const std::string& socketPath,
                              int nTimeoutMsecs = kDefaultTimeoutMsecs);
    ~QSmcSocketClient() override;
    QSmcSocketClient(const QSmcSocketClient&) = delete;
    QSmcSocketClient& operator=(const QSmcSocketClient&) = delete;

    // Prints "Error: cannot connect to the SMC simulator at PATH: REASON" to standard output
    // when the daemon cannot be reached.
    bool open() override;
    void close() override;
    int call(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output) override;
    // The daemon's model identifier; false when it cannot be asked.
    bool model(std::string* pModel);
    // One drive request (SimWire's drive frame); connects on first use. False when the daemon
    // cannot be asked; otherwise its result and block.
    bool driveRequest(uint32_t nCommand, uint32_t nDrive, int32_t& nResult, std::string& block);

    const std::string& socketPath() const { return m_SocketPath; }

    // Asks the daemon at socketPath for its model identifier over a connection of its own;
    // empty (with *pError set) when it cannot.
    static std::string queryModel(const std::string& socketPath, int nTimeoutMsecs,
                                  std::string* pError);

private:
    // One request and its reply on fd; IoOk or why not.
    static int exchange(int fd, int nTimeoutMsecs, const std::string& request, uint16_t replyType,
                        std::string& reply);
    int exchangeReconnecting(const std::string& request, uint16_t replyType, std::string& reply);
    void closeLocked();

    std::string m_SocketPath;
    int m_nTimeoutMsecs;
    std::mutex m_Mutex;
    int m_nFd = -1;
    bool m_bOpened = false;
};
