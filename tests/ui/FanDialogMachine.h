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
        : m_Locale(QStringLiteral("/Ready/languages/English.xml")), m_Sim(&m_Clock)
    {
        m_pPreferences.reset(new QPreferences(m_Dir.filePath(QStringLiteral("thermora.ini"))));
        m_pPreferences->setInt(QStringLiteral("Fahrenheit"), nFahrenheit);
        QCoreServices::setPreferences(m_pPreferences.data());
        QCoreServices::setReadOnly(false);
        m_Locale.load(QStringLiteral("English.xml"));

        QVector<QSimKey> keys = {key("FNum", "ui8 ", 2, 1),
                                 fanId(0, "CPU"),
                                 fanId(1, "ODD"),
                                 key("F0Ac", "fpe2", 1800, 2),
                                 key("F0Mn", "fpe2", 1000, 2),
                                 key("F0Mx", "fpe2", 6000, 2),
                                 key("F0Tg", "fpe2", 1800, 2),
                                 key("F1Ac", "fpe2", 1500, 2),
                                 key("F1Mn", "fpe2", 1500, 2),
                                 key("F1Mx", "fpe2", 1500, 2),
                                 key("F1Tg", "fpe2", 1500, 2),
                                 key("FS! ", "ui16", 0, 2)};
        if (bSensors) {
            keys << key("TA0P", "sp78", 24, 2) << key("TC0P", "sp78", 45, 2)
                 << key("TG0D", "sp78", 40, 2) << key("TO0P", "sp78", 35, 2);
        }
        m_Sim.setKeys(keys);
        m_pSmc = new QSmcControlMac(new QSmcTransportInProcess(&m_Sim));
        m_pSmc->Open();
        m_pSmc->useDirectWrites();
        m_pController.reset(new QFanControl(m_pSmc, &m_Clock));
        m_pController->Init();
        for (int i = 0; i < m_pController->fanCount(); ++i) {
            m_pController->UpdateFanInfo(i, false);
        }
        for (QTempSensor* pSensor : m_pController->sensors()) {
            m_pController->UpdateTempSensor(pSensor);
        }
    }

    ~QFanDialogMachine()
    {
        m_pController.reset();
        delete m_pSmc;
        QCoreServices::setPreferences(nullptr);
        QCoreServices::setReadOnly(false);
    }

    QFanControl* controller() const { return m_pController.data(); }
    FanInfo* fan(int index) const { return m_pController->GetFan(index); }
    QTempSensor* sensor(const char* key) const
    {
        return m_pController->sensorByKey(QLatin1String(key));
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
        return m_Sim.value("FS! ", bytes) && bytes.size() == 2 ? quint8(bytes[1]) : -1;
    }

    // Gives the fan a mode the way the program does (text form, then SetControlMode).
    void setMode(int index, const QString& text)
    {
        fan(index)->SetControlMode(FanControlMode::fromString(text));
    }

private:
    static QSimKey key(const QByteArray& name, const QByteArray& type, double value, int size)
    {
        QSimKey k{name, type, QByteArray(size, '\0'), 0};
        SimDumpUtils::encodeNumber(type, value, k.bytes);
        return k;
    }
    static QSimKey fanId(int index, const char* name)
    {
        QByteArray id(16, '\0');
        memcpy(id.data() + 4, name, strlen(name));
        return {QStringLiteral("F%1ID").arg(index).toLatin1(), "{fds", id, 0};
    }

    QTemporaryDir m_Dir;
    QScopedPointer<QPreferences> m_pPreferences;
    QLanguageLoader m_Locale;
    QManualClock m_Clock;
    QSimSmc m_Sim;
    QSmcControlMac* m_pSmc = nullptr;
    QScopedPointer<QFanControl> m_pController;
};
