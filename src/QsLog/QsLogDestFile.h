#pragma once

#include "QsLog/QsLogDest.h"

#include <QFile>
#include <QSharedPointer>
#include <QTextStream>

namespace QsLogging {

// Decides when a log file is too big and how the old file is kept.
class RotationStrategy
{
public:
    virtual ~RotationStrategy();

    // Takes the file's name and its size on disk (0 when it does not exist).
    virtual void setInitialInfo(const QFile& file) = 0;
    // Counts one line (without its line end) towards the current size.
    virtual void includeMessageInCalculation(const QString& message) = 0;
    virtual bool shouldRotate() = 0;
    virtual void rotate() = 0;
    virtual QIODevice::OpenMode recommendedOpenModeFlag() = 0;
};
using RotationStrategyPtr = QSharedPointer<RotationStrategy>;

// Never rotates; the file is truncated when it is opened.
class NullRotationStrategy : public RotationStrategy
{
public:
    void setInitialInfo(const QFile&) override {}
    void includeMessageInCalculation(const QString&) override {}
    bool shouldRotate() override { return false; }
    void rotate() override {}
    QIODevice::OpenMode recommendedOpenModeFlag() override { return QIODevice::Truncate; }
};

// Rotates once the file grows past a maximum size. Backups are the file name plus ".1"
// (newest) up to ".<backup count>" (oldest); a backup count of 0 just deletes the full file.
class SizeRotationStrategy : public RotationStrategy
{
public:
    static constexpr int MaxBackupCount = 10;

    void setInitialInfo(const QFile& file) override;
    void includeMessageInCalculation(const QString& message) override;
    bool shouldRotate() override;
    void rotate() override;
    QIODevice::OpenMode recommendedOpenModeFlag() override { return QIODevice::Append; }

    void setMaximumSizeInBytes(qint64 size) { m_maxSizeInBytes = size; }
    // Clamped to 0..MaxBackupCount.
    void setBackupCount(int nBackups);
    int backupCount() const { return m_nBackupsCount; }
    qint64 currentSizeInBytes() const { return m_currentSizeInBytes; }

private:
    QString backupName(int nIndex) const;

    QString m_fileName;
    qint64 m_currentSizeInBytes = 0;
    qint64 m_maxSizeInBytes = 0;
    int m_nBackupsCount = 0;
};

// Appends each line to a UTF-8 text file and flushes it at once, so the log survives a crash.
// A file that cannot be opened is reported on standard error; its lines are then lost.
class FileDestination : public Destination
{
public:
    FileDestination(const QString& filePath, RotationStrategyPtr rotationStrategy);
    void write(const QString& message, Level level) override;
    bool isValid() override;

private:
    QIODevice::OpenMode openMode() const;
    void attachStream();

    QFile m_file;
    QTextStream m_outputStream;
    RotationStrategyPtr m_rotationStrategy;
};

} // namespace QsLogging
