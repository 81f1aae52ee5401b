#pragma once

#include "core/FanControl.h"
#include "core/FanInfo.h"
#include "core/QTempSensor.h"
#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"
#include "localization/QLanguageLoader.h"
#include "settings/QPreferences.h"
#include "smc/QSmcControlMac.h"
#include "smc/sim/QSimSmc.h"
#include "smc/sim/QSmcTransportInProcess.h"
#include "support/QSimMachine.h"

#include <QScopedPointer>
#include <QTemporaryDir>

#include <cstring>

// A machine for the fan control dialog, on the in-process simulated SMC:
//   fan 0 "CPU"  1000..6000 RPM
//   fan 1 "ODD"  1500..1500 RPM (minimum equals maximum)
//   sensors TA0P "Ambient", TC0P "CPU Proximity", TG0D "GPU Diode", TO0P "Optical Drive"
// with English texts and its own settings file. bSensors false leaves the temperature keys out.
class QFanDialogMachine
{
public:
    explicit QFanDialogMachine(bool bSensors = true, int nFahrenheit = 0)
        : m_Locale(QStringLiteral("/Ready/languages/English.xml"))
    {
        m_pPreferences.reset(new QPreferences(m_Dir.filePath(QStringLiteral("thermora.ini"))));
        m_pPreferences->setInt(QStringLiteral("Fahrenheit"), nFahrenheit);
        QCoreServices::setPreferences(m_pPreferences.data());
        QCoreServices::setReadOnly(false);
        m_Locale.load(QStringLiteral("English.xml"));
        m_pMachine.reset(new QSimMachine(machineKeys(bSensors)));
        m_pMachine->start();
    }

    ~QFanDialogMachine()
    {
        m_pMachine.reset();
        QCoreServices::setPreferences(nullptr);
        QCoreServices::setReadOnly(false);
    }

    QFanControl* controller() const { return m_pMachine->pController.data(); }
    FanInfo* fan(int index) const { return controller()->GetFan(index); }
    QTempSensor* sensor(const char* key) const
    {
        return controller()->sensorByKey(QLatin1String(key));
    }
    QPreferences* preferences() const { return m_pPreferences.data(); }
    QString storedMode(int index) const
    {
        return m_pPreferences->getString(QStringLiteral("Fan_%1").arg(index));
    }
    // The second byte of the fan-mode mask as the simulated controller holds it.
    int maskInController()
    {
        QByteArray bytes;
        return m_pMachine->sim.value("FS! ", bytes) && bytes.size() == 2 ? quint8(bytes[1]) : -1;
    }

    // Gives the fan a mode the way the program does (text form, then SetControlMode).
    void setMode(int index, const QString& text)
    {
        fan(index)->SetControlMode(FanControlMode::fromString(text));
    }

private:
    static QVector<QSimKey> machineKeys(bool bSensors)
    {
        using namespace SimMachineUtils;
        QVector<QSimKey> keys = {numberKey("FNum", "ui8 ", 2, 1), numberKey("FS! ", "ui16", 0, 2)};
        keys << fanKeys(0, "CPU", 1800, 1000, 6000) << fanKeys(1, "ODD", 1500, 1500, 1500);
        if (bSensors) {
            keys << numberKey("TA0P", "sp78", 24, 2) << numberKey("TC0P", "sp78", 45, 2)
                 << numberKey("TG0D", "sp78", 40, 2) << numberKey("TO0P", "sp78", 35, 2);
        }
        return keys;
    }

    QTemporaryDir m_Dir;
    QScopedPointer<QPreferences> m_pPreferences;
    QLanguageLoader m_Locale;
    QScopedPointer<QSimMachine> m_pMachine;
};
