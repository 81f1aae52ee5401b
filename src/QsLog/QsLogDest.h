#pragma once

#include "QsLog/QsLogLevel.h"

#include <QSharedPointer>
#include <QString>
#include <QtGlobal>

namespace QsLogging {

// Where finished log lines go. Implementations are called from the logger's writer thread
// only, one line at a time.
class Destination
{
public:
    virtual ~Destination();
    virtual void write(const QString& message, Level level) = 0;
    virtual bool isValid() = 0;
};
using DestinationPtr = QSharedPointer<Destination>;

enum LogRotationOption
{
    DisableLogRotation = 0,
    EnableLogRotation = 1
};

// Strong types so that a size and a count cannot be swapped at the call site.
struct MaxSizeBytes
{
    MaxSizeBytes() = default;
    explicit MaxSizeBytes(qint64 bytes) : size(bytes) {}
    qint64 size = 0;
};

struct MaxOldLogCount
{
    MaxOldLogCount() = default;
    explicit MaxOldLogCount(int nCount) : count(nCount) {}
    int count = 0;
};

class DestinationFactory
{
public:
    // A file destination for the path. EnableLogRotation rotates by size, keeping at most
    // oldLogsToKeep backups (at most 10); any other option truncates the file at open and
    // never rotates.
    static DestinationPtr
    MakeFileDestination(const QString& filePath, LogRotationOption rotation = DisableLogRotation,
                        const MaxSizeBytes& sizeInBytesToRotateAfter = MaxSizeBytes(),
                        const MaxOldLogCount& oldLogsToKeep = MaxOldLogCount());
};

} // namespace QsLogging
