#pragma once

#include <QRect>
#include <QString>

// What the menu-bar item is asked to show. The application fills it through the four menu-bar
// setters of QSystemTrayIconEx; every platform layer draws from it.
struct QStatusItemState
{
    int m_ShowIcon = 1;         // above 0: draw the icon
    bool m_bPrecise = false;    // temperature with one decimal
    int m_DisplayFlags = 0;     // StatusItemHelpers::DisplayTemperature | DisplayRpm
    int m_Rpm = 0;              // fan speed to show
    double m_Temperature = 0.0; // temperature to show, degrees Celsius
};

// The width and text rules of the menu-bar item, free of any platform or settings access, so
// that every platform layer draws the same item and the rules can be checked anywhere. The
// scale is passed in: callers read it once (isFehrenheit()) per redraw.
namespace StatusItemHelpers {

enum DisplayFlag
{
    DisplayTemperature = 1,
    DisplayRpm = 2
};

// Height of the menu bar the item is laid out for, in points.
constexpr int kMenuBarHeight = 22;
// Font sizes of the one-line and the two-line forms, in points.
constexpr int kOneLineFontSize = 11;
constexpr int kTwoLineFontSize = 9;

// The temperature as it is displayed: rounded half away from zero while still in Celsius
// (unless precise), then converted to the display scale. Rounding before the conversion keeps
// the whole-degree Fahrenheit value consistent with the whole-degree Celsius one the user saw.
double displayTemperature(double celsius, bool bPrecise, bool bFahrenheit);

// "45°C", "45.4°C", "115°F": one decimal when precise, none otherwise.
QString temperatureText(double celsius, bool bPrecise, bool bFahrenheit);
// "1200rpm".
QString rpmText(int rpm);

// The item's width in points: 26 with the icon, 6 without, plus the room for the text. The
// single temperature gets more room from 100 degrees on, and more again for a decimal.
int statusItemLength(const QStatusItemState& state, bool bFahrenheit);

// The text of the item and how it is set.
struct StatusItemText
{
    QString text;      // empty: draw no text
    int nFontSize = 0; // points
    bool bCentred = false;
    int nLines = 0;
};
StatusItemText statusItemText(const QStatusItemState& state, bool bFahrenheit);

// Where the text starts: right of the icon (its size plus 8) or 4 points in without one.
int textX(const QStatusItemState& state, int iconSize);
// The text's distance from the bottom of the bar: 4 for one line, 0 for two.
int textBottom(int nLines);

// A window frame of a bottom-left-origin screen (points) as a top-left-origin rectangle: y is
// flipped against the screen's height, and each of x, y, width and height is rounded to the
// nearest integer, halves upwards.
QRect toolkitGeometry(double x, double y, double width, double height, double screenHeight);

// What the item does for one activation reported by the toolkit (reasons numbered as the
// toolkit numbers them: Unknown 0, Context 1, DoubleClick 2, Trigger 3, MiddleClick 4).
// A middle click is reported as MiddleClick, every other single press as Trigger (the right
// button's included); both open the menu. A double click is reported as such and closes the
// menu that its first click opened. Context is never reported.
struct ClickAction
{
    int nReason = 0; // the reason to report, same numbering
    bool bOpenMenu = false;
    bool bCloseMenu = false;
};
ClickAction clickAction(int toolkitReason);

} // namespace StatusItemHelpers
