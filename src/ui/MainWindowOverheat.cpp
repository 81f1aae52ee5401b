// The window's side of the overheat alarm: per episode one notification through the menu-bar
// item and one Warn line; the sensor's row stays coloured while the episode lasts.
#include "ui/MainWindow.h"

#include "QsLog/QsLog.h"
#include "SystemTrayIconEx/QMyTrayIcon.h"
#include "core/FanControl.h"
#include "core/QTempSensor.h"
#include "core/TemperatureScaleHelpers.h"
#include "localization/QLanguageLoader.h"
#include "ui/MainWindowHelpers.h"

#include <QColor>

namespace {
QString overheatText(const char* key)
{
    return LocalizationHelpers::text(QLatin1String(key));
}

QString temperatureText(double celsius)
{
    return QString::number(qRound(getTemperatureValueForCurrentScale(celsius))) +
           getTemperatureScaleSymbol();
}
} // namespace

void QFanControlMainWindow::checkOverheat(int nRow, double celsius)
{
    if (!m_pFanControl)
        return;
    int nSeparatorRow = -1;
    const QVector<QTempSensor*>& sensors = m_pFanControl->sensors();
    const int nIndex = MainWindowHelpers::sensorRows(sensors, nSeparatorRow).indexOf(nRow);
    if (nIndex < 0)
        return;
    QTempSensor* pSensor = sensors.at(nIndex);
    m_OverheatWatch.loadThresholds(); // cached settings: follows the preferences at no cost
    switch (m_OverheatWatch.update(pSensor, celsius)) {
    case QOverheatWatch::EpisodeBegan:
        setSensorRowAlarm(nRow, true);
        notifyOverheat(pSensor, celsius);
        break;
    case QOverheatWatch::EpisodeEnded:
        setSensorRowAlarm(nRow, false);
        QLOG_INFO() << qUtf8Printable(QStringLiteral("Overheat over: %1 at %2 C")
                                          .arg(pSensor->GetDisplayName())
                                          .arg(celsius, 0, 'f', 1));
        break;
    case QOverheatWatch::NoChange:
        break;
    }
}

void QFanControlMainWindow::notifyOverheat(QTempSensor* pSensor, double celsius)
{
    const int nThreshold = m_OverheatWatch.threshold(pSensor);
    const QStringList held =
        QOverheatWatch::heldFans(m_pFanControl->fans(), overheatText("Overheat/heldFan"));
    QLOG_WARN() << qUtf8Printable(
        QStringLiteral("Overheat: %1 (%2) at %3 C, alarm threshold %4 C; constant fans below "
                       "their midpoint: %5")
            .arg(pSensor->GetDisplayName(), pSensor->GetKey())
            .arg(celsius, 0, 'f', 1)
            .arg(nThreshold)
            .arg(held.isEmpty() ? QStringLiteral("none") : held.join(QStringLiteral(", "))));
    QString text =
        overheatText("Overheat/message")
            .arg(pSensor->GetDisplayName(), temperatureText(celsius), temperatureText(nThreshold));
    if (!held.isEmpty())
        text += QLatin1Char('\n') +
                overheatText("Overheat/heldFans").arg(held.join(QStringLiteral(", ")));
    showNotification(overheatText("Overheat/title").arg(pSensor->GetDisplayName()), text);
}

void QFanControlMainWindow::setSensorRowAlarm(int nRow, bool bAlarm)
{
    for (int nColumn = 0; nColumn < ui.tableSensors->columnCount(); ++nColumn) {
        QTableWidgetItem* pItem = ui.tableSensors->item(nRow, nColumn);
        if (!pItem)
            continue;
        pItem->setData(Qt::BackgroundRole, bAlarm ? QVariant(QColor(255, 205, 205)) : QVariant());
        pItem->setData(Qt::ForegroundRole, bAlarm ? QVariant(QColor(140, 0, 0)) : QVariant());
    }
}

void QFanControlMainWindow::showNotification(const QString& title, const QString& text)
{
    if (m_pTrayIcon && m_pTrayIcon->systemTrayIcon())
        m_pTrayIcon->systemTrayIcon()->showMessage(title, text, QSystemTrayIconEx::Warning,
                                                   kNotificationMsecs);
}
