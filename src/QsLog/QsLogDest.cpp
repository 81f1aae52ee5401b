#include "QsLog/QsLogDest.h"

#include "QsLog/QsLogDestFile.h"

namespace QsLogging {

Destination::~Destination() = default;

DestinationPtr DestinationFactory::MakeFileDestination(const QString& filePath,
                                                       LogRotationOption rotation,
                                                       const MaxSizeBytes& sizeInBytesToRotateAfter,
                                                       const MaxOldLogCount& oldLogsToKeep)
{
    if (rotation == EnableLogRotation) {
        QSharedPointer<SizeRotationStrategy> logRotation(new SizeRotationStrategy);
        logRotation->setMaximumSizeInBytes(sizeInBytesToRotateAfter.size);
        logRotation->setBackupCount(oldLogsToKeep.count);
        return DestinationPtr(new FileDestination(filePath, logRotation));
    }
    return DestinationPtr(
        new FileDestination(filePath, RotationStrategyPtr(new NullRotationStrategy)));
}

} // namespace QsLogging
