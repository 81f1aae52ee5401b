#include "QsLog/QsLog.h"

#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"
#include "helpers/ThreadHandoff.h"

#include <QRunnable>
#include <QThreadPool>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace QsLogging {

namespace {

const char* levelToText(Level theLevel)
{
    switch (theLevel) {
    case TraceLevel:
        return "TRACE";
    case DebugLevel:
        return "DEBUG";
    case InfoLevel:
        return "INFO ";
    case WarnLevel:
        return "WARN ";
    case ErrorLevel:
        return "ERROR";
    case FatalLevel:
        return "FATAL";
    case OffLevel:
        return "";
    }
    qFatal("bad log level");
    return "";
}

std::atomic<Logger*> g_pLogger{nullptr};
std::mutex g_InstanceMutex;

} // namespace

class LoggerImpl
{
public:
    LoggerImpl()
    {
        // One writer thread keeps lines in statement order; it stays until the logger dies.
        threadPool.setMaxThreadCount(1);
        threadPool.setExpiryTimeout(-1);
        destList.reserve(2);
    }

    QThreadPool threadPool;
    std::mutex logMutex; // guards destList while lines are written
    std::atomic<int> level{InfoLevel};
    QVector<DestinationPtr> destList;

    // Lines queued but not yet written, for waitForWrites().
    std::mutex pendingMutex;
    std::condition_variable pendingDone;
    int nPending = 0;
};

// One finished line on its way to the destinations, run on the logger's writer thread.
class LogWriterRunnable : public QRunnable
{
public:
    LogWriterRunnable(Logger* pLogger, LoggerImpl* pImpl, const QString& message, Level level)
        : m_pLogger(pLogger), m_pImpl(pImpl), m_message(message), m_level(level)
    {}

    void run() override
    {
        ThreadHandoff::take(this);
        m_pLogger->write(m_message, m_level);
        ThreadHandoff::give(m_pImpl);
        std::lock_guard<std::mutex> lock(m_pImpl->pendingMutex);
        if (--m_pImpl->nPending == 0)
            m_pImpl->pendingDone.notify_all();
    }

private:
    Logger* m_pLogger;
    LoggerImpl* m_pImpl;
    QString m_message;
    Level m_level;
};

Logger& Logger::instance()
{
    Logger* pLogger = g_pLogger.load(std::memory_order_acquire);
    if (pLogger)
        return *pLogger;
    std::lock_guard<std::mutex> lock(g_InstanceMutex);
    pLogger = g_pLogger.load(std::memory_order_relaxed);
    if (!pLogger) {
        pLogger = new Logger;
        g_pLogger.store(pLogger, std::memory_order_release);
    }
    return *pLogger;
}

void Logger::destroyInstance()
{
    std::lock_guard<std::mutex> lock(g_InstanceMutex);
    Logger* pLogger = g_pLogger.exchange(nullptr);
    delete pLogger;
}

Logger::Logger() : d(new LoggerImpl)
{}

Logger::~Logger()
{
    // Every queued line is written before the destinations go away.
    waitForWrites();
    d->threadPool.waitForDone(-1);
    ThreadHandoff::take(d.get());
}

void Logger::setLoggingLevel(Level newLevel)
{
    d->level.store(newLevel, std::memory_order_relaxed);
}

Level Logger::loggingLevel() const
{
    return static_cast<Level>(d->level.load(std::memory_order_relaxed));
}

void Logger::addDestination(DestinationPtr destination)
{
    Q_ASSERT(destination);
    if (!destination)
        return;
    std::lock_guard<std::mutex> lock(d->logMutex);
    d->destList.push_back(destination);
}

void Logger::write(const QString& message, Level level)
{
    // Destinations may lock on their own, so they are called with the list copied, never under
    // the logger's lock. Only the one writer thread gets here, so lines still come one at a time.
    QVector<DestinationPtr> destinations;
    {
        std::lock_guard<std::mutex> lock(d->logMutex);
        destinations = d->destList;
    }
    for (const DestinationPtr& dest : qAsConst(destinations))
        dest->write(message, level);
}

void Logger::enqueueWrite(const QString& message, Level level)
{
    {
        std::lock_guard<std::mutex> lock(d->pendingMutex);
        ++d->nPending;
    }
    LogWriterRunnable* pRunnable = new LogWriterRunnable(this, d.get(), message, level);
    ThreadHandoff::give(pRunnable);
    d->threadPool.start(pRunnable, 0);
}

void Logger::waitForWrites()
{
    std::unique_lock<std::mutex> lock(d->pendingMutex);
    d->pendingDone.wait(lock, [this] { return d->nPending == 0; });
}

Logger::Helper::Helper(Level logLevel) : m_level(logLevel), m_qtDebug(&m_buffer)
{}

Logger::Helper::~Helper()
{
    writeToLog();
}

void Logger::Helper::writeToLog()
{
    const char* const levelName = levelToText(m_level);
    const QString completeMessage = QStringLiteral("%1 %2 %3")
                                        .arg(QLatin1String(levelName),
                                             QCoreServices::clock()->now().toLocalTime().toString(
                                                 QStringLiteral("yyyy-MM-ddThh:mm:ss.zzz")),
                                             m_buffer);
    Logger::instance().enqueueWrite(completeMessage, m_level);
}

} // namespace QsLogging
