#include "core/drives/sim/QDriveSourceSim.h"

#include "core/drives/DriveDataUtils.h"
#include "smc/base/QSmcSocketClient.h"

#include <cerrno>

using namespace DriveDataUtils;

namespace {

const QString kPrefix = QStringLiteral("sim/");

class QSimDriveHandle : public QDriveHandle
{
public:
    QSimDriveHandle(std::shared_ptr<QDriveSourceSim::Request> pRequest, uint32_t nDrive)
        : m_pRequest(std::move(pRequest)), m_nDrive(nDrive)
    {}

    uint32_t identify(QByteArray& block) override
    {
        return fetch(QDriveSourceSim::CommandIdentify, block);
    }
    // The simulated drives always have SMART on.
    uint32_t enableSmart() override { return kDriveSuccess; }
    uint32_t readSmartData(QByteArray& block) override
    {
        return fetch(QDriveSourceSim::CommandSmartData, block);
    }

private:
    uint32_t fetch(uint32_t nCommand, QByteArray& block)
    {
        int32_t nResult = 0;
        if (!(*m_pRequest)(nCommand, m_nDrive, nResult, block))
            return kDriveNotResponding;
        return static_cast<uint32_t>(nResult);
    }

    std::shared_ptr<QDriveSourceSim::Request> m_pRequest;
    uint32_t m_nDrive;
};

} // namespace

QDriveSourceSim::QDriveSourceSim(Request request)
    : m_pRequest(std::make_shared<Request>(std::move(request)))
{}

QDriveSourceSim* QDriveSourceSim::overSocket(const QString& socketPath)
{
    auto pClient = std::make_shared<QSmcSocketClient>(socketPath.toLocal8Bit().toStdString());
    return new QDriveSourceSim(
        [pClient](uint32_t nCommand, uint32_t nDrive, int32_t& nResult, QByteArray& block) {
            std::string data;
            if (!pClient->driveRequest(nCommand, nDrive, nResult, data))
                return false;
            block = QByteArray(data.data(), static_cast<int>(data.size()));
            return true;
        });
}

QString QDriveSourceSim::driveName(int i)
{
    return kPrefix + QString::number(i);
}

int QDriveSourceSim::deviceNames(QStringList& names)
{
    int32_t nCount = 0;
    QByteArray unused;
    if (!(*m_pRequest)(CommandCount, 0, nCount, unused) || nCount < 0)
        return -1;
    for (int i = 0; i < nCount; ++i)
        names << driveName(i);
    return nCount;
}

QDriveHandle* QDriveSourceSim::open(const QString& name, int* pErrno)
{
    bool bOk = false;
    const uint32_t nDrive = name.startsWith(kPrefix) ? name.mid(kPrefix.size()).toUInt(&bOk) : 0;
    if (!bOk) {
        *pErrno = ENOENT;
        return nullptr;
    }
    return new QSimDriveHandle(m_pRequest, nDrive);
}
