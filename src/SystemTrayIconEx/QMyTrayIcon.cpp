#include "SystemTrayIconEx/QMyTrayIcon.h"
#include "settings/PreferenceUtils.h"

#include "SystemTrayIconEx/StatusItemHelpers.h"
#include "SystemTrayIconEx/qsystemtrayicon.h"
#include "core/FanControl.h"
#include "core/FanInfo.h"
#include "core/QTempSensor.h"
#include "helpers/ImageResourceUtils.h"
#include "helpers/QCoreServices.h"
#include "localization/QLanguageLoader.h"
#include "settings/QPreferences.h"

#include <QColor>
#include <QFile>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTransform>
#include <QWidget>

namespace {
// A three-bladed fan in a ring, for as long as the real tray images are not in the resources.
QPixmap drawnFan(int size, const QColor& color)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal unit = size / 16.0;
    painter.translate(size / 2.0, size / 2.0);
    painter.setPen(QPen(color, 1.2 * unit));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(0, 0), 7.0 * unit, 7.0 * unit);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    QPainterPath blade;
    blade.moveTo(0, 0);
    blade.cubicTo(1.5 * unit, -2.0 * unit, 4.5 * unit, -4.5 * unit, 1.0 * unit, -5.8 * unit);
    blade.cubicTo(-1.0 * unit, -4.0 * unit, -1.0 * unit, -2.0 * unit, 0, 0);
    for (int i = 0; i < 3; ++i) {
        painter.drawPath(QTransform().rotate(120.0 * i).map(blade));
    }
    painter.drawEllipse(QPointF(0, 0), 1.6 * unit, 1.6 * unit);
    return pixmap;
}

QIcon drawnTrayIcon(bool bBlackWhite)
{
    const QColor color = bBlackWhite ? QColor(0x30, 0x30, 0x30) : QColor(0x1f, 0x7a, 0xd6);
    QIcon icon;
    icon.addPixmap(drawnFan(16, color));
    icon.addPixmap(drawnFan(32, color));
    return icon;
}
} // namespace

QMyTrayIcon::QMyTrayIcon(QFanControl* pFanControl, QWidget* pParent)
    : m_pSystemTrayIcon(new QSystemTrayIconEx(pParent)), m_pFanControl(pFanControl),
      m_pParent(pParent)
{
    m_pSystemTrayIcon->setVisible(true);
    const QString sensorKey = PreferenceUtils::getString("traySensor");
    if (!sensorKey.isEmpty() && m_pFanControl && m_pFanControl->sensorByKey(sensorKey)) {
        return; // the first update() sets the icon together with the temperature
    }
    m_pSystemTrayIcon->setIcon(getTrayIconPic(PreferenceUtils::getInt("menubarIcon") == 2));
}

QMyTrayIcon::~QMyTrayIcon() = default;

void QMyTrayIcon::update()
{
    const QString sensorKey = PreferenceUtils::getString("traySensor");
    QTempSensor* pSensor =
        !sensorKey.isEmpty() && m_pFanControl ? m_pFanControl->sensorByKey(sensorKey) : nullptr;
    m_pSystemTrayIcon->setIcon(getTrayIconPic(PreferenceUtils::getInt("menubarIcon") == 2));
    const int fanIndex = PreferenceUtils::getInt("trayFan");
    m_pSystemTrayIcon->setShowMacIcon(PreferenceUtils::getInt("menubarIcon") != 0);
    const bool bPrecise = PreferenceUtils::getInt("PreciseTemperature") != 0;

    int flags = 0;
    if (pSensor) {
        const bool bNoValue = pSensor->isFailed() || m_pFanControl->isSmcLost();
        m_pSystemTrayIcon->setMacTemp(bNoValue ? qQNaN() : pSensor->GetValue());
        flags |= StatusItemHelpers::DisplayTemperature;
    }
    FanInfo* pFan = fanIndex != -1 && m_pFanControl ? m_pFanControl->GetFan(fanIndex) : nullptr;
    if (pFan) {
        m_pSystemTrayIcon->setMacRPM(pFan->GetRPM());
        flags |= StatusItemHelpers::DisplayRpm;
    }
    m_pSystemTrayIcon->setMacTrayIcon(flags, bPrecise);

    m_pSystemTrayIcon->setToolTip(fansToolTip());
}

QString QMyTrayIcon::fansToolTip() const
{
    if (!m_pFanControl)
        return QString();
    const QString format = LocalizationHelpers::format(QStringLiteral("TrayMenu/toolTipFan"),
                                                       QStringLiteral("%1 - %2 RPM"), 2);
    QStringList lines;
    for (const FanInfo* pFan : m_pFanControl->fans()) {
        // A fan not read yet, or a controller that does not answer, has no speed to show.
        const int nRpm = pFan->GetRPM();
        const bool bKnown = nRpm >= 0 && !m_pFanControl->isSmcLost();
        lines << format.arg(pFan->GetName(),
                            bKnown ? QString::number(nRpm) : QStringLiteral("\u2014"));
    }
    return lines.join(QLatin1Char('\n'));
}

void QMyTrayIcon::reset()
{}

QIcon QMyTrayIcon::getTrayIconPic(bool bBlackWhite)
{
    QString path = QStringLiteral(":/Resources/tray.png");
    if (bBlackWhite) {
        path.replace(QLatin1String(".png"), QLatin1String("_grey.png"));
    }
    ImageResourceUtils::registerImages();
    if (!QFile::exists(path)) {
        return drawnTrayIcon(bBlackWhite);
    }
    return QIcon(path);
}
