#pragma once

#include "QsLog/QsLog.h"

#include <QStringList>

#include <mutex>

// Keeps every logged line in memory. Call waitForWrites() on the logger before lines().
class QMemoryLogDestination : public QsLogging::Destination
{
public:
    void write(const QString& message, QsLogging::Level) override
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Lines.append(message);
    }
    bool isValid() override { return true; }
    QStringList lines() const
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Lines;
    }

private:
    mutable std::mutex m_Mutex;
    QStringList m_Lines;
};
