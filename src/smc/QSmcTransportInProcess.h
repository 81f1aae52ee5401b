#pragma once

#include "sim/QSimSmc.h"
#include "smc/QSmcTransport.h"

#include <QSharedPointer>

// Calls a simulated controller in the same process, as a peer with a given uid (0 = root).
class QSmcTransportInProcess : public QSmcTransport
{
public:
    // Shares ownership of the simulator.
    explicit QSmcTransportInProcess(QSharedPointer<QSimSmc> pSim, uint32_t nUid = 0);
    // Does not own the simulator, which must outlive the transport.
    explicit QSmcTransportInProcess(QSimSmc* pSim, uint32_t nUid = 0);

    bool open() override;
    void close() override;
    int call(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output) override;
    QString machineModel() override;

    QSimSmc* sim() const { return m_pSim; }
    bool isOpen() const { return m_bOpen; }

private:
    QSharedPointer<QSimSmc> m_pOwned;
    QSimSmc* m_pSim;
    uint32_t m_nUid;
    bool m_bOpen = false;
};
