#include "QsLog/QsLogDestFile.h"

#include <QFileInfo>

#include <iostream>

namespace QsLogging {

RotationStrategy::~RotationStrategy() = default;

void SizeRotationStrategy::setInitialInfo(const QFile& file)
{
    m_fileName = file.fileName();
    // A leftover file counts from its full size, so an oversized one rotates at the first line.
    m_currentSizeInBytes = QFileInfo(m_fileName).size();
}

void SizeRotationStrategy::includeMessageInCalculation(const QString& message)
{
    m_currentSizeInBytes += message.toUtf8().size();
}

bool SizeRotationStrategy::shouldRotate()
{
    return m_currentSizeInBytes > m_maxSizeInBytes;
}

void SizeRotationStrategy::setBackupCount(int nBackups)
{
    m_nBackupsCount = qBound(0, nBackups, MaxBackupCount);
}

QString SizeRotationStrategy::backupName(int nIndex) const
{
    return m_fileName + QStringLiteral(".%1").arg(nIndex);
}

void SizeRotationStrategy::rotate()
{
    if (m_nBackupsCount == 0) {
        if (!QFile::remove(m_fileName))
            std::cerr << "QsLog: backup delete failed " << qPrintable(m_fileName) << std::endl;
        return;
    }

    // Only a gap-free run of backups from ".1" up is shifted; the oldest one allowed is
    // overwritten, so there are never more than m_nBackupsCount of them.
    int nLastExistingBackup = 0;
    for (int i = 1; i <= m_nBackupsCount; ++i) {
        if (!QFile::exists(backupName(i)))
            break;
        nLastExistingBackup = qMin(i, m_nBackupsCount - 1);
    }

    for (int i = nLastExistingBackup; i >= 1; --i) {
        const QString oldName = backupName(i);
        const QString newName = backupName(i + 1);
        QFile::remove(newName);
        if (!QFile::rename(oldName, newName)) {
            std::cerr << "QsLog: could not rename backup " << qPrintable(oldName) << " to "
                      << qPrintable(newName) << std::endl;
        }
    }

    const QString firstBackup = backupName(1);
    if (QFile::exists(firstBackup))
        QFile::remove(firstBackup);
    if (!QFile::rename(m_fileName, firstBackup)) {
        std::cerr << "QsLog: could not rename log " << qPrintable(m_fileName) << " to "
                  << qPrintable(firstBackup) << std::endl;
    }
}

FileDestination::FileDestination(const QString& filePath, RotationStrategyPtr rotationStrategy)
    : m_rotationStrategy(rotationStrategy)
{
    if (!m_rotationStrategy)
        m_rotationStrategy = RotationStrategyPtr(new NullRotationStrategy);

    m_file.setFileName(filePath);
    if (!m_file.open(openMode()))
        std::cerr << "QsLog: could not open log file " << qPrintable(filePath) << std::endl;
    attachStream();
    m_rotationStrategy->setInitialInfo(m_file);
}

QIODevice::OpenMode FileDestination::openMode() const
{
    return QIODevice::WriteOnly | QIODevice::Text | m_rotationStrategy->recommendedOpenModeFlag();
}

void FileDestination::attachStream()
{
    m_outputStream.setDevice(&m_file);
    m_outputStream.setCodec("UTF-8");
}

void FileDestination::write(const QString& message, Level)
{
    // A file that failed to open loses its lines (reported once, at open). It must not rotate
    // either: whatever sits at that path is not our log.
    if (!m_file.isOpen())
        return;

    m_rotationStrategy->includeMessageInCalculation(message);
    if (m_rotationStrategy->shouldRotate()) {
        m_outputStream.setDevice(nullptr);
        m_file.close();
        m_rotationStrategy->rotate();
        if (!m_file.open(openMode())) {
            std::cerr << "QsLog: could not reopen log file " << qPrintable(m_file.fileName())
                      << std::endl;
        }
        m_rotationStrategy->setInitialInfo(m_file);
        attachStream();
    }

    if (!m_file.isOpen())
        return; // lost, as reported when the file failed to reopen
    m_outputStream << message << '\n';
    m_outputStream.flush();
}

bool FileDestination::isValid()
{
    return !m_file.fileName().isEmpty();
}

} // namespace QsLogging
