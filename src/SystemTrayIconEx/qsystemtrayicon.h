#pragma once

#include "SystemTrayIconEx/StatusItemHelpers.h"

#include <QIcon>
#include <QObject>
#include <QRect>
#include <QScopedPointer>
#include <QString>

class QMenu;
class QPlatformSystemTrayIconEx;
class QSystemTrayIconExPrivate;

// The application's menu-bar item, shaped like the toolkit's tray icon (icon, context menu,
// tooltip, visibility, geometry, messages, "activated" and "messageClicked"), with four setters
// for the text the item shows next to its icon. The platform object behind it does the drawing
// and exists as long as this object; the item is in the bar only while visible.
//
// Only setMacTrayIcon and setIcon redraw: set the values first, setMacTrayIcon last.
class QSystemTrayIconEx : public QObject
{
    Q_OBJECT
public:
    enum ActivationReason
    {
        Unknown = 0,
        Context = 1,
        DoubleClick = 2,
        Trigger = 3,
        MiddleClick = 4
    };
    Q_ENUM(ActivationReason)

    enum MessageIcon
    {
        NoIcon = 0,
        Information = 1,
        Warning = 2,
        Critical = 3
    };
    Q_ENUM(MessageIcon)

    explicit QSystemTrayIconEx(QObject* pParent = nullptr);
    QSystemTrayIconEx(const QIcon& icon, QObject* pParent = nullptr);
    ~QSystemTrayIconEx() override;

    void setIcon(const QIcon& icon);
    QIcon icon() const;

    // Not owned; the item forgets a menu that is deleted.
    void setContextMenu(QMenu* pMenu);
    QMenu* contextMenu() const;

    void setToolTip(const QString& toolTip);
    QString toolTip() const;

    QRect geometry() const;
    void setVisible(bool bVisible);
    bool isVisible() const;
    void show() { setVisible(true); }
    void hide() { setVisible(false); }

    static bool isSystemTrayAvailable();
    static bool supportsMessages();

    void showMessage(const QString& title, const QString& message, MessageIcon icon = Information,
                     int msecs = 10000);

    // The menu-bar setters. setMacTrayIcon stores the display flags (StatusItemHelpers::
    // DisplayFlag) and the precision and redraws; the other three only store.
    void setMacTrayIcon(int flags, bool bPrecise);
    void setMacRPM(int rpm);
    void setMacTemp(double celsius);
    void setShowMacIcon(int showIcon);

    // What the item currently shows.
    QStatusItemState menuBarState() const;
    QPlatformSystemTrayIconEx* platformTrayIcon() const;

signals:
    void activated(QSystemTrayIconEx::ActivationReason reason);
    void messageClicked();

private:
    Q_DISABLE_COPY(QSystemTrayIconEx)
    void connectPlatform();
    void disconnectPlatform();

    QScopedPointer<QSystemTrayIconExPrivate> d;
};
