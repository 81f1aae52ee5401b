#pragma once

#include "support/QMemoryLogDestination.h"

#include <QRegularExpression>

// Keeps the log lines written from the last start() on, for tests that check what was logged
// and at which level. Create one per test object (it raises the log level to Info).
class QLogCapture
{
public:
    QLogCapture() : m_pLines(new QMemoryLogDestination)
    {
        QsLogging::Logger::instance().addDestination(m_pLines);
        QsLogging::Logger::instance().setLoggingLevel(QsLogging::InfoLevel);
    }

    void start() { m_nStart = all().size(); }
    QStringList lines() const { return all().mid(m_nStart); }
    // Lines at the level ("INFO", "WARN", ...) that contain the text.
    int count(const char* level, const QString& text) const
    {
        return lines().filter(QRegularExpression("^" + QLatin1String(level))).filter(text).size();
    }

private:
    QStringList all() const
    {
        QsLogging::Logger::instance().waitForWrites();
        return m_pLines->lines();
    }

    QSharedPointer<QMemoryLogDestination> m_pLines;
    int m_nStart = 0;
};
