#include "SystemTrayIconEx/qsystemtrayicon.h"

#include "SystemTrayIconEx/QPlatformSystemTrayIconEx.h"

#include <QApplication>
#include <QMenu>
#include <QMetaObject>
#include <QPointer>
#include <QStyle>
#include <QtGlobal>

class QSystemTrayIconExPrivate
{
public:
    QSystemTrayIconExPrivate() : pPlatform(QPlatformSystemTrayIconEx::create()) {}

    QPointer<QMenu> pMenu;
    QIcon icon;
    QString toolTip;
    bool bVisible = false;
    QScopedPointer<QPlatformSystemTrayIconEx> pPlatform;
    QMetaObject::Connection activatedConnection;
    QMetaObject::Connection messageConnection;
};

QSystemTrayIconEx::QSystemTrayIconEx(QObject* pParent)
    : QObject(pParent), d(new QSystemTrayIconExPrivate)
{
    qRegisterMetaType<QSystemTrayIconEx::ActivationReason>();
    qRegisterMetaType<QPlatformSystemTrayIconEx::ActivationReason>();
}

QSystemTrayIconEx::QSystemTrayIconEx(const QIcon& icon, QObject* pParent)
    : QSystemTrayIconEx(pParent)
{
    setIcon(icon);
}

QSystemTrayIconEx::~QSystemTrayIconEx()
{
    if (d->bVisible) {
        d->pPlatform->cleanup();
    }
}

void QSystemTrayIconEx::setIcon(const QIcon& icon)
{
    d->icon = icon;
    if (d->bVisible) {
        d->pPlatform->updateIcon(icon);
    }
}

QIcon QSystemTrayIconEx::icon() const
{
    return d->icon;
}

void QSystemTrayIconEx::setContextMenu(QMenu* pMenu)
{
    d->pMenu = pMenu;
    if (d->bVisible) {
        d->pPlatform->updateMenu(pMenu);
    }
}

QMenu* QSystemTrayIconEx::contextMenu() const
{
    return d->pMenu;
}

void QSystemTrayIconEx::setToolTip(const QString& toolTip)
{
    d->toolTip = toolTip;
    if (d->bVisible) {
        d->pPlatform->updateToolTip(toolTip);
    }
}

QString QSystemTrayIconEx::toolTip() const
{
    return d->toolTip;
}

QRect QSystemTrayIconEx::geometry() const
{
    return d->bVisible ? d->pPlatform->geometry() : QRect();
}

void QSystemTrayIconEx::setVisible(bool bVisible)
{
    if (bVisible == d->bVisible) {
        return;
    }
    d->bVisible = bVisible;
    if (!bVisible) {
        d->pPlatform->cleanup();
        disconnectPlatform();
        return;
    }
    // At start the icon comes right after the item is made visible: the item is shown anyway
    // (it draws its text without one), so there is nothing to warn about.
    d->pPlatform->init();
    connectPlatform();
    if (d->pMenu) {
        d->pPlatform->updateMenu(d->pMenu);
    }
    d->pPlatform->updateIcon(d->icon);
    d->pPlatform->updateToolTip(d->toolTip);
}

bool QSystemTrayIconEx::isVisible() const
{
    return d->bVisible;
}

bool QSystemTrayIconEx::isSystemTrayAvailable()
{
    QScopedPointer<QPlatformSystemTrayIconEx> pPlatform(QPlatformSystemTrayIconEx::create());
    return pPlatform->isSystemTrayAvailable();
}

bool QSystemTrayIconEx::supportsMessages()
{
    QScopedPointer<QPlatformSystemTrayIconEx> pPlatform(QPlatformSystemTrayIconEx::create());
    return pPlatform->supportsMessages();
}

void QSystemTrayIconEx::showMessage(const QString& title, const QString& message, MessageIcon icon,
                                    int msecs)
{
    if (!d->bVisible) {
        return;
    }
    QIcon notificationIcon;
    if (QApplication::style()) {
        switch (icon) {
        case Information:
            notificationIcon =
                QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation);
            break;
        case Warning:
            notificationIcon = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
            break;
        case Critical:
            notificationIcon = QApplication::style()->standardIcon(QStyle::SP_MessageBoxCritical);
            break;
        case NoIcon:
            break;
        }
    }
    d->pPlatform->showMessage(title, message, notificationIcon,
                              static_cast<QPlatformSystemTrayIconEx::MessageIcon>(icon), msecs);
}

void QSystemTrayIconEx::setMacTrayIcon(int flags, bool bPrecise)
{
    QStatusItemState& state = d->pPlatform->menuBarState();
    state.m_DisplayFlags = flags;
    state.m_bPrecise = bPrecise;
    // Re-applying the icon recomputes the width and redraws.
    if (d->bVisible) {
        d->pPlatform->updateIcon(d->icon);
    }
}

void QSystemTrayIconEx::setMacRPM(int rpm)
{
    d->pPlatform->menuBarState().m_Rpm = rpm;
}

void QSystemTrayIconEx::setMacTemp(double celsius)
{
    d->pPlatform->menuBarState().m_Temperature = celsius;
}

void QSystemTrayIconEx::setShowMacIcon(int showIcon)
{
    d->pPlatform->menuBarState().m_ShowIcon = showIcon;
}

QStatusItemState QSystemTrayIconEx::menuBarState() const
{
    return d->pPlatform->menuBarState();
}

QPlatformSystemTrayIconEx* QSystemTrayIconEx::platformTrayIcon() const
{
    return d->pPlatform.data();
}

void QSystemTrayIconEx::connectPlatform()
{
    QPlatformSystemTrayIconEx* pPlatform = d->pPlatform.data();
    // The reasons share their numbers, so they pass through unchanged.
    d->activatedConnection =
        connect(pPlatform, &QPlatformSystemTrayIconEx::activated, this,
                [this](QPlatformSystemTrayIconEx::ActivationReason reason) {
                    emit activated(static_cast<QSystemTrayIconEx::ActivationReason>(reason));
                });
    d->messageConnection = connect(pPlatform, &QPlatformSystemTrayIconEx::messageClicked, this,
                                   &QSystemTrayIconEx::messageClicked);
}

void QSystemTrayIconEx::disconnectPlatform()
{
    disconnect(d->activatedConnection);
    disconnect(d->messageConnection);
}
