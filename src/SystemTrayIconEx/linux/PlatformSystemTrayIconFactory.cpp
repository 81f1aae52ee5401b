#include "SystemTrayIconEx/QPlatformSystemTrayIconEx.h"
#include "SystemTrayIconEx/QQtSystemTrayIconEx.h"

// Desktops here have a tray, not a menu bar of their own: the item lives on the toolkit's tray
// icon.
QPlatformSystemTrayIconEx* QPlatformSystemTrayIconEx::create(QObject* pParent)
{
    return new QQtSystemTrayIconEx(pParent);
}
