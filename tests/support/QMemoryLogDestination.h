#pragma once

#include "QsLog/QsLog.h"

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

// A log destination that keeps every line in memory, for tests that check what was logged.
// Add it with QsLogging::Logger::instance().addDestination(dest) and call waitForWrites()
// before reading lines().
class QMemoryLogDestination : public QsLogging::Destination
{
public:
    void write(const QString& message, QsLogging::Level) override
    {
        QMutexLocker lock(&m_Mutex);
        m_Lines.append(message);
    }
    bool isValid() override { return true; }

    QStringList lines() const
    {
        QMutexLocker lock(&m_Mutex);
        return m_Lines;
    }

private:
    mutable QMutex m_Mutex;
    QStringList m_Lines;
};
