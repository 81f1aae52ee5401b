#pragma once

#include "core/FanControl.h"
#include "helpers/QClock.h"
#include "sim/QSimSmc.h"
#include "smc/QSmcControlMac.h"

#include <QScopedPointer>
#include <QVector>

// Building blocks of the small machines that tests serve from the in-process simulated SMC.
namespace SimMachineUtils {
// A key holding a number in its own type ("fpe2", "sp78", "ui8 "...).
QSimKey numberKey(const QByteArray& key, const QByteArray& type, double value, int size);
// "F<index>ID": the fan's name at bytes 4 to 15.
QSimKey fanIdKey(int index, const QByteArray& name);
// One fan: its name, current speed (also its target), minimum and maximum.
QVector<QSimKey> fanKeys(int index, const QByteArray& name, int rpm, int rpmMin, int rpmMax);
// One zero-filled call structure for a command, with a key (or none), a size and an index.
SMCKeyData_t request(uint8_t command, const char* keyName, uint32_t nSize = 0, uint32_t nIndex = 0);
} // namespace SimMachineUtils

// The program's fan controller over the protocol backend over an in-process simulated SMC,
// all on one manual clock. Writes go straight to the simulator. The caller may adjust the
// simulator (faults, fixed readings) between construction and start().
class QSimMachine
{
public:
    explicit QSimMachine(const QVector<QSimKey>& keys);
    ~QSimMachine();

    // Creates the controller, runs its Init and reads every fan and sensor once in full.
    void start();

    QManualClock clock;
    QSimSmc sim;
    QSmcControlMac* pSmc = nullptr; // owned
    QScopedPointer<QFanControl> pController;

private:
    Q_DISABLE_COPY(QSimMachine)
};
