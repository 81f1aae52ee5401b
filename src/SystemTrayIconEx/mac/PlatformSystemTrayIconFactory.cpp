#include "SystemTrayIconEx/QPlatformSystemTrayIconEx.h"
#include "SystemTrayIconEx/mac/QCocoaSystemTrayIconEx.h"

// The item lives in the menu bar.
QPlatformSystemTrayIconEx* QPlatformSystemTrayIconEx::create(QObject* pParent)
{
    return new QCocoaSystemTrayIconEx(pParent);
}
