#include "SystemTrayIconEx/QQtSystemTrayIconEx.h"

#include "SystemTrayIconEx/StatusItemPaintHelpers.h"
#include "core/TemperatureScaleHelpers.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QPalette>
#include <QPixmap>

namespace {
// Platforms that draw into memory have no desktop and never a tray; the toolkit's tray icon
// would only complain there.
bool hasDesktop()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}
} // namespace

QQtSystemTrayIconEx::QQtSystemTrayIconEx(QObject* pParent) : QPlatformSystemTrayIconEx(pParent)
{}

QQtSystemTrayIconEx::~QQtSystemTrayIconEx()
{
    cleanup();
}

void QQtSystemTrayIconEx::init()
{
    if (m_pTrayIcon || !hasDesktop()) {
        return;
    }
    m_pTrayIcon = new QSystemTrayIcon(this);
    connect(m_pTrayIcon, &QSystemTrayIcon::activated, this, &QQtSystemTrayIconEx::OnActivated);
    connect(m_pTrayIcon, &QSystemTrayIcon::messageClicked, this,
            &QPlatformSystemTrayIconEx::messageClicked);
}

void QQtSystemTrayIconEx::cleanup()
{
    if (!m_pTrayIcon) {
        return;
    }
    m_pTrayIcon->hide();
    delete m_pTrayIcon;
    m_pTrayIcon = nullptr;
    m_bMenuVisible = false;
}

void QQtSystemTrayIconEx::updateIcon(const QIcon& icon)
{
    m_Icon = icon;
    redraw();
}

void QQtSystemTrayIconEx::updateToolTip(const QString& toolTip)
{
    if (m_pTrayIcon) {
        m_pTrayIcon->setToolTip(toolTip);
    }
}

void QQtSystemTrayIconEx::updateMenu(QMenu* pMenu)
{
    if (m_pMenu) {
        disconnect(m_pMenu, nullptr, this, nullptr);
    }
    m_pMenu = pMenu;
    if (pMenu) {
        connect(pMenu, &QMenu::aboutToHide, this, &QQtSystemTrayIconEx::OnMenuHidden);
    }
}

QRect QQtSystemTrayIconEx::geometry() const
{
    return m_pTrayIcon ? m_pTrayIcon->geometry() : QRect();
}

void QQtSystemTrayIconEx::showMessage(const QString& title, const QString& message,
                                      const QIcon& icon, MessageIcon /*iconType*/, int msecs)
{
    if (m_pTrayIcon) {
        m_pTrayIcon->showMessage(title, message, icon, msecs);
    }
}

bool QQtSystemTrayIconEx::isSystemTrayAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool QQtSystemTrayIconEx::supportsMessages() const
{
    return QSystemTrayIcon::supportsMessages();
}

void QQtSystemTrayIconEx::OnActivated(QSystemTrayIcon::ActivationReason reason)
{
    const StatusItemHelpers::ClickAction action =
        StatusItemHelpers::clickAction(static_cast<int>(reason));
    if (action.bCloseMenu && m_pMenu && m_pMenu->isVisible()) {
        m_pMenu->hide();
    }
    emit activated(static_cast<ActivationReason>(action.nReason));
    // The slot connected to "activated" may have changed or removed the menu.
    if (action.bOpenMenu && m_pMenu && !m_pMenu->isEmpty()) {
        m_bMenuVisible = true;
        redraw();
        m_pMenu->popup(QCursor::pos());
    }
}

void QQtSystemTrayIconEx::OnMenuHidden()
{
    if (!m_bMenuVisible) {
        return;
    }
    m_bMenuVisible = false;
    redraw();
}

void QQtSystemTrayIconEx::redraw()
{
    StatusItemPaintHelpers::Options options;
    options.bHighlighted = m_bMenuVisible;
    options.textColor = QApplication::palette().color(QPalette::WindowText);
    options.highlightColor = QApplication::palette().color(QPalette::Highlight);
    options.highlightedTextColor = QApplication::palette().color(QPalette::HighlightedText);
    if (QCoreApplication::testAttribute(Qt::AA_UseHighDpiPixmaps)) {
        options.dDevicePixelRatio = qApp->devicePixelRatio();
    }
    m_Image = StatusItemPaintHelpers::render(menuBarState(), isFehrenheit(), m_Icon, options);
    if (!m_pTrayIcon) {
        return;
    }
    m_pTrayIcon->setIcon(QIcon(QPixmap::fromImage(m_Image)));
    if (!m_pTrayIcon->isVisible()) {
        m_pTrayIcon->show();
    }
}
