#include "smc/QSmcTransportInProcess.h"

#include <cstring>

QSmcTransportInProcess::QSmcTransportInProcess(QSharedPointer<QSimSmc> pSim, uint32_t nUid)
    : m_pOwned(pSim), m_pSim(pSim.data()), m_nUid(nUid)
{}

QSmcTransportInProcess::QSmcTransportInProcess(QSimSmc* pSim, uint32_t nUid)
    : m_pSim(pSim), m_nUid(nUid)
{}

bool QSmcTransportInProcess::open()
{
    m_bOpen = m_pSim != nullptr;
    return m_bOpen;
}

void QSmcTransportInProcess::close()
{
    m_bOpen = false;
}

int QSmcTransportInProcess::call(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output)
{
    if (!m_bOpen) {
        // Like a closed connection: no service behind it.
        std::memset(&output, 0, sizeof output);
        return kSmcReturnError;
    }
    return m_pSim->call(selector, input, output, m_nUid);
}

QString QSmcTransportInProcess::machineModel()
{
    return m_pSim ? m_pSim->model() : QString();
}
