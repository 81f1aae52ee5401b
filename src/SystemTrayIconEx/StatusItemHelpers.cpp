#include "SystemTrayIconEx/StatusItemHelpers.h"

#include "core/TemperatureScaleHelpers.h"

#include <QChar>

#include <cmath>

namespace StatusItemHelpers {

namespace {
QString scaleSymbol(bool bFahrenheit)
{
    return QString(QChar(0x00B0)) + (bFahrenheit ? QLatin1Char('F') : QLatin1Char('C'));
}
} // namespace

double displayTemperature(double celsius, bool bPrecise, bool bFahrenheit)
{
    const double value = bPrecise ? celsius : std::round(celsius); // half away from zero
    return bFahrenheit ? celsiusToFahrenheit(value) : value;
}

QString temperatureText(double celsius, bool bPrecise, bool bFahrenheit)
{
    if (std::isnan(celsius)) // a failed sensor: no number rather than a stale one
        return QStringLiteral("\u2014") + scaleSymbol(bFahrenheit);
    const double value = displayTemperature(celsius, bPrecise, bFahrenheit);
    return QString::asprintf(bPrecise ? "%.1f" : "%.0f", value) + scaleSymbol(bFahrenheit);
}

QString rpmText(int rpm)
{
    return QString::asprintf("%drpm", rpm);
}

int statusItemLength(const QStatusItemState& state, bool bFahrenheit)
{
    int length = state.m_ShowIcon > 0 ? 26 : 6;
    switch (state.m_DisplayFlags) {
    case DisplayTemperature | DisplayRpm:
        length += 43;
        break;
    case DisplayRpm:
        length += 50;
        break;
    case DisplayTemperature: {
        const double value = displayTemperature(state.m_Temperature, state.m_bPrecise, bFahrenheit);
        length += value < 100.0 ? 28 : 34;
        if (state.m_bPrecise) {
            length += bFahrenheit ? 8 : 10;
        }
        break;
    }
    default:
        break;
    }
    return length;
}

StatusItemText statusItemText(const QStatusItemState& state, bool bFahrenheit)
{
    StatusItemText result;
    switch (state.m_DisplayFlags) {
    case DisplayTemperature:
        result.text = temperatureText(state.m_Temperature, state.m_bPrecise, bFahrenheit);
        result.nFontSize = kOneLineFontSize;
        result.nLines = 1;
        break;
    case DisplayRpm:
        result.text = rpmText(state.m_Rpm);
        result.nFontSize = kOneLineFontSize;
        result.nLines = 1;
        break;
    case DisplayTemperature | DisplayRpm:
        // The leading space balances the degree sign against the longer speed line.
        result.text = QStringLiteral(" %1\n%2").arg(
            temperatureText(state.m_Temperature, state.m_bPrecise, bFahrenheit),
            rpmText(state.m_Rpm));
        result.nFontSize = kTwoLineFontSize;
        result.bCentred = true;
        result.nLines = 2;
        break;
    default:
        break;
    }
    return result;
}

int textX(const QStatusItemState& state, int iconSize)
{
    return state.m_ShowIcon != 0 ? iconSize + 8 : 4;
}

int textBottom(int nLines)
{
    return nLines >= 2 ? 0 : 4;
}

QRect toolkitGeometry(double x, double y, double width, double height, double screenHeight)
{
    auto roundHalfUp = [](double value) { return static_cast<int>(std::floor(value + 0.5)); };
    return QRect(roundHalfUp(x), roundHalfUp(screenHeight - (y + height)), roundHalfUp(width),
                 roundHalfUp(height));
}

ClickAction clickAction(int toolkitReason)
{
    enum
    {
        Unknown = 0,
        Context = 1,
        DoubleClick = 2,
        Trigger = 3,
        MiddleClick = 4
    };
    ClickAction action;
    switch (toolkitReason) {
    case DoubleClick:
        action.nReason = DoubleClick;
        action.bCloseMenu = true;
        break;
    case MiddleClick:
        action.nReason = MiddleClick;
        action.bOpenMenu = true;
        break;
    case Context:
    case Trigger:
        action.nReason = Trigger;
        action.bOpenMenu = true;
        break;
    default:
        action.nReason = Unknown;
        break;
    }
    return action;
}

} // namespace StatusItemHelpers
