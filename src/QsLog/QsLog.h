#pragma once

#include "QsLog/QsLogDest.h"
#include "QsLog/QsLogLevel.h"
#include "QsLog/QsLogPath.h"

#include <QDebug>
#include <QString>

#include <memory>

namespace QsLogging {

class LoggerImpl;

// Process-wide logger: a level threshold and a list of destinations. Lines are formatted on
// the calling thread and written, in order, by one writer thread.
class Logger
{
public:
    static Logger& instance();
    static void destroyInstance();

    void setLoggingLevel(Level newLevel);
    Level loggingLevel() const;

    void addDestination(DestinationPtr destination);

    // Hands a finished line to every destination, in the order they were added.
    void write(const QString& message, Level level);
    // Queues a finished line for the writer thread.
    void enqueueWrite(const QString& message, Level level);

    // Blocks until every queued line has been written (tests and shut-down).
    void waitForWrites();

    // One log statement: collects the message and formats the line when it goes out of scope.
    class Helper
    {
    public:
        explicit Helper(Level logLevel);
        ~Helper();
        QDebug& stream() { return m_qtDebug; }

    private:
        void writeToLog();

        Level m_level;
        QString m_buffer;
        QDebug m_qtDebug;
    };

private:
    Logger();
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    std::unique_ptr<LoggerImpl> d;
};

} // namespace QsLogging

// A disabled level costs one comparison and formats nothing. Every line carries the source
// file and line of its statement. The loop runs at most once; unlike an if/else it cannot
// capture the else of an unbraced if around the statement.
#define QLOG_AT_LEVEL(lvl)                                                                         \
    for (bool qsLogEnabled = QsLogging::Logger::instance().loggingLevel() <= (lvl); qsLogEnabled;  \
         qsLogEnabled = false)                                                                     \
    QsLogging::Logger::Helper(lvl).stream() << __FILE__ << '@' << __LINE__

#define QLOG_TRACE() QLOG_AT_LEVEL(QsLogging::TraceLevel)
#define QLOG_DEBUG() QLOG_AT_LEVEL(QsLogging::DebugLevel)
#define QLOG_INFO() QLOG_AT_LEVEL(QsLogging::InfoLevel)
#define QLOG_WARN() QLOG_AT_LEVEL(QsLogging::WarnLevel)
#define QLOG_ERROR() QLOG_AT_LEVEL(QsLogging::ErrorLevel)
#define QLOG_FATAL() QLOG_AT_LEVEL(QsLogging::FatalLevel)
