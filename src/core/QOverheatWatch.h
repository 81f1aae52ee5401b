#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

class FanInfo;
class QTempSensor;

// Tells when a sensor overheats: an episode begins with a reading at or above the sensor's
// alarm threshold and ends with one at least kHysteresisCelsius below it, so a reading that
// hovers at the threshold raises one alarm, not one per update. Pure logic: the caller feeds
// readings and thresholds and decides what an alarm does (the window notifies, logs and colours
// the row).
//
// Thresholds, in degrees Celsius, from the settings "OverheatAlarmCpuGpu" (processor and
// graphics sensors, keys TC... and TG...) and "OverheatAlarmOther" (drives and everything
// else). Processors and graphics chips throttle themselves at about 100 C, so 95 C warns
// before that happens; drives, memory, power supplies and enclosures wear or fail from about
// 70 C on, so the others warn there.
class QOverheatWatch
{
public:
    static constexpr int kDefaultCpuGpuCelsius = 95;
    static constexpr int kDefaultOtherCelsius = 70;
    // Below this much under the threshold the episode is over: sensors jitter by a degree or
    // two, and a fan that caught up lowers the temperature by several degrees.
    static constexpr int kHysteresisCelsius = 5;
    // What the preferences allow; a stored value outside this is taken as corrupt.
    static constexpr int kLowestAlarmCelsius = 40;
    static constexpr int kHighestAlarmCelsius = 120;
    static constexpr const char* kCpuGpuSetting = "OverheatAlarmCpuGpu";
    static constexpr const char* kOtherSetting = "OverheatAlarmOther";

    enum Change
    {
        NoChange,
        EpisodeBegan,
        EpisodeEnded
    };

    QOverheatWatch(int nCpuGpuCelsius = kDefaultCpuGpuCelsius,
                   int nOtherCelsius = kDefaultOtherCelsius);

    void setThresholds(int nCpuGpuCelsius, int nOtherCelsius);
    // The thresholds from the settings (a missing one is stored with its default first; a
    // corrupt one reads as the default and is left as it is).
    void loadThresholds();
    int threshold(QTempSensor* pSensor) const;
    int cpuGpuCelsius() const { return m_nCpuGpuCelsius; }
    int otherCelsius() const { return m_nOtherCelsius; }

    // One reading of the sensor; 0 or below (no reading) changes nothing.
    Change update(QTempSensor* pSensor, double celsius);
    bool isOverheated(QTempSensor* pSensor) const;

    // A processor or graphics sensor: an SMC key (not a drive) beginning with TC or TG.
    static bool isCpuGpuSensor(QTempSensor* pSensor);
    // The fans that an alarm leaves as they are although they could cool more: constant speed
    // below the middle of their range. Each entry is entryFormat with %1 = the fan's name and
    // %2 = its speed.
    static QStringList heldFans(const QVector<FanInfo*>& fans, const QString& entryFormat);

private:
    int m_nCpuGpuCelsius;
    int m_nOtherCelsius;
    QSet<QTempSensor*> m_Overheated;
};
