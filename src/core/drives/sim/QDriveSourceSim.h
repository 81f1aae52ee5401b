#pragma once

#include "core/drives/QDriveSource.h"

#include <functional>
#include <memory>

class QSmcSocketClient;

// The drives of a simulated machine. The simulator answers three requests: the number of
// drives, a drive's identify block and a drive's SMART block (SimWire's drive frame); the
// source reaches it either in-process or over the simulator's socket.
class QDriveSourceSim : public QDriveSource
{
public:
    enum Command : uint32_t
    {
        CommandCount = 0,
        CommandIdentify = 1,
        CommandSmartData = 2
    };
    // Sends one request. Returns the simulator's result (the drive count for CommandCount,
    // 0 or an error for the blocks) and fills block; false when the simulator cannot be asked.
    using Request = std::function<bool(uint32_t nCommand, uint32_t nDrive, int32_t& nResult,
                                       QByteArray& block)>;

    explicit QDriveSourceSim(Request request);
    // The simulator daemon listening at socketPath.
    static QDriveSourceSim* overSocket(const QString& socketPath);

    int deviceNames(QStringList& names) override;
    QDriveHandle* open(const QString& name, int* pErrno) override;

    // The name of drive i: "sim/<i>".
    static QString driveName(int i);

private:
    std::shared_ptr<Request> m_pRequest;
};
