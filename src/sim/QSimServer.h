#pragma once

#include <QString>

#include <atomic>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

class QSimSmc;

// What the server grants its clients. The socket is open to every local user, so none of them
// may hold the server: beyond nMaxClients further clients wait in the listen queue until a
// connection ends, a connection that sends nothing for nIdleMsecs is closed, and so is one whose
// frame is not complete nFrameMsecs after its first byte (a client trickling bytes).
struct QSimServerLimits
{
    int nMaxClients = 64;
    int nIdleMsecs = 30000;
    // When accept fails for want of descriptors or memory, the listening socket stays readable;
    // the server waits this long before it tries again instead of spinning.
    int nAcceptRetryMsecs = 200;
    int nFrameMsecs = 2000;
};

// Serves a simulated controller on a Unix-domain socket: one thread per connection, frames as
// SimWire.h describes them, the peer's uid taken from the socket. A connection that sends
// anything but a well-formed frame is closed; the server carries on. A connection's descriptor
// is closed and its thread joined as soon as it ends.
class QSimServer
{
public:
    explicit QSimServer(QSimSmc& sim, const QSimServerLimits& limits = QSimServerLimits());
    ~QSimServer();

    // Binds and listens; the socket is open to every local user (the controller answers reads
    // to anyone and decides about writes itself). A stale socket file is replaced; a path that
    // a live server answers on, or that is not a socket, is refused.
    bool listen(const QString& path, QString* pError);

    // Serves until stop(); then closes every connection, waits for their threads and removes
    // the socket file.
    void run();

    // Ends run(). Async-signal-safe: a signal handler may call it.
    void stop();

    // Waits up to nMsecs, less if the server stops meanwhile (for slow-write faults).
    void sleepInterruptibly(int nMsecs);

    quint64 connectionCount() const { return m_nConnections.load(); }
    // Times accept failed for want of descriptors or memory.
    quint64 acceptFailures() const { return m_nAcceptFailures.load(); }
    // Connections held now; one that ended is let go at once.
    int liveConnections() const;

private:
    struct Connection
    {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> bDone{false};
    };

    void serve(Connection* pConnection);
    int pollTimeout() const;
    void acceptOne();
    void reapFinished(bool bAll);

    QSimSmc& m_Sim;
    QSimServerLimits m_Limits;
    qint64 m_nAcceptRetryAt = 0; // monotonic msecs before which accept is not tried again
    QString m_Path;
    int m_nListenFd = -1;
    int m_WakePipe[2] = {-1, -1}; // written by stop()
    int m_DonePipe[2] = {-1, -1}; // written by a connection's thread when it ends
    std::atomic<bool> m_bStopping{false};
    std::atomic<quint64> m_nConnections{0};
    std::atomic<quint64> m_nAcceptFailures{0};
    mutable std::mutex m_Mutex; // guards m_Connections and each connection's fd
    std::list<std::unique_ptr<Connection>> m_Connections;
    std::mutex m_SleepMutex;
    std::condition_variable m_SleepCondition;
};
