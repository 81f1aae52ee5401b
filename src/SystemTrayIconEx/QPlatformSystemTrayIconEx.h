#pragma once

#include "SystemTrayIconEx/StatusItemHelpers.h"

#include <QIcon>
#include <QObject>
#include <QRect>
#include <QString>

class QMenu;

// The platform object behind QSystemTrayIconEx: puts one item into the platform's menu bar or
// tray, draws it from the icon and the menu-bar state, reports clicks and shows the menu. One
// implementation per platform, made by create().
//
// The menu-bar state is kept here, common to every platform; QSystemTrayIconEx stores into it
// and then re-applies the icon, which redraws.
class QPlatformSystemTrayIconEx : public QObject
{
    Q_OBJECT
public:
    // Same values as the toolkit's and as QSystemTrayIconEx's.
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

    explicit QPlatformSystemTrayIconEx(QObject* pParent = nullptr);
    ~QPlatformSystemTrayIconEx() override;

    // This platform's implementation.
    static QPlatformSystemTrayIconEx* create(QObject* pParent = nullptr);

    // Puts the item into the bar (once; again after cleanup).
    virtual void init() = 0;
    // Takes the item out of the bar.
    virtual void cleanup() = 0;
    // Stores the icon and redraws the item at the width the menu-bar state asks for.
    virtual void updateIcon(const QIcon& icon) = 0;
    virtual void updateToolTip(const QString& toolTip) = 0;
    // The menu shown on a click; null for none. Not owned.
    virtual void updateMenu(QMenu* pMenu) = 0;
    // The item's place on the screen; empty while it has none.
    virtual QRect geometry() const = 0;
    virtual void showMessage(const QString& title, const QString& message, const QIcon& icon,
                             MessageIcon iconType, int msecs) = 0;
    virtual bool isSystemTrayAvailable() const = 0;
    virtual bool supportsMessages() const = 0;

    const QStatusItemState& menuBarState() const { return m_State; }
    QStatusItemState& menuBarState() { return m_State; }

signals:
    void activated(QPlatformSystemTrayIconEx::ActivationReason reason);
    void messageClicked();

private:
    QStatusItemState m_State;
};
