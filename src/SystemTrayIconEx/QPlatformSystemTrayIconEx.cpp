#include "SystemTrayIconEx/QPlatformSystemTrayIconEx.h"

QPlatformSystemTrayIconEx::QPlatformSystemTrayIconEx(QObject* pParent) : QObject(pParent)
{}

QPlatformSystemTrayIconEx::~QPlatformSystemTrayIconEx() = default;
