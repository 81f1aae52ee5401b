#pragma once

#include <QIcon>

class QFanControl;
class QSystemTrayIconEx;
class QWidget;

// Decides what the menu-bar item shows: the application icon (in colour, in black and white or
// not at all), one sensor's temperature, one fan's speed, or both on two lines, and a tooltip
// listing every fan's speed. The choices come from the settings "menubarIcon", "traySensor",
// "trayFan" and "PreciseTemperature"; the drawing is the item's own (QSystemTrayIconEx).
//
// The item is a child of the parent widget, which deletes it.
class QMyTrayIcon
{
public:
    // pFanControl and pParent are not owned. The item is made visible at once; its icon follows
    // here unless a chosen sensor already exists, in which case the first update() sets it.
    QMyTrayIcon(QFanControl* pFanControl, QWidget* pParent);
    ~QMyTrayIcon();

    // Re-reads the settings and hands icon, values, display flags and tooltip to the item.
    void update();
    // Nothing to reset: update() re-reads everything.
    void reset();

    // ":/Resources/tray.png" or its "_grey" sibling, with their "@2x" variants; a drawn stand-in
    // while the images are not in the resources.
    static QIcon getTrayIconPic(bool bBlackWhite);

    // The item, for the window to install its menu and connect "activated".
    QSystemTrayIconEx* systemTrayIcon() const { return m_pSystemTrayIcon; }

private:
    // One line per fan: its name and speed in the user's language.
    QString fansToolTip() const;
    QSystemTrayIconEx* m_pSystemTrayIcon;
    QFanControl* m_pFanControl;
    QWidget* m_pParent;
};
