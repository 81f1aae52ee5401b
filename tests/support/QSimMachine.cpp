#include "support/QSimMachine.h"

#include "core/QTempSensor.h"
#include "sim/SimDumpUtils.h"
#include "smc/QSmcTransportInProcess.h"

#include <cstring>

QSimKey SimMachineUtils::numberKey(const QByteArray& key, const QByteArray& type, double value,
                                   int size)
{
    QSimKey k{key, type, QByteArray(size, '\0'), 0};
    SimDumpUtils::encodeNumber(type, value, k.bytes);
    return k;
}

QSimKey SimMachineUtils::fanIdKey(int index, const QByteArray& name)
{
    QByteArray id(16, '\0');
    memcpy(id.data() + 4, name.constData(), size_t(qMin(12, name.size())));
    return {"F" + QByteArray::number(index) + "ID", "{fds", id, 0};
}

QVector<QSimKey> SimMachineUtils::fanKeys(int index, const QByteArray& name, int rpm, int rpmMin,
                                          int rpmMax)
{
    const QByteArray prefix = "F" + QByteArray::number(index);
    return {fanIdKey(index, name), numberKey(prefix + "Ac", "fpe2", rpm, 2),
            numberKey(prefix + "Mn", "fpe2", rpmMin, 2),
            numberKey(prefix + "Mx", "fpe2", rpmMax, 2), numberKey(prefix + "Tg", "fpe2", rpm, 2)};
}

SMCKeyData_t SimMachineUtils::request(uint8_t command, const char* keyName, uint32_t nSize,
                                      uint32_t nIndex)
{
    SMCKeyData_t input;
    std::memset(&input, 0, sizeof input);
    input.command = command;
    input.key = keyName ? SimDumpUtils::packCode(QByteArray(keyName, 4)) : 0;
    input.dataSize = nSize;
    input.index = nIndex;
    return input;
}

QSimMachine::QSimMachine(const QVector<QSimKey>& keys) : sim(&clock)
{
    sim.setKeys(keys);
    pSmc = new QSmcControlMac(new QSmcTransportInProcess(&sim));
    pSmc->Open();
    pSmc->useDirectWrites();
}

QSimMachine::~QSimMachine()
{
    pController.reset();
    delete pSmc;
}

void QSimMachine::start()
{
    pController.reset(new QFanControl(pSmc, &clock));
    pController->setSleep([this](int nMsecs) { clock.advanceMsecs(nMsecs); });
    pController->Init();
    for (int i = 0; i < pController->fanCount(); ++i) {
        pController->UpdateFanInfo(i, false);
    }
    for (QTempSensor* pSensor : pController->sensors()) {
        pController->UpdateTempSensor(pSensor);
    }
}
