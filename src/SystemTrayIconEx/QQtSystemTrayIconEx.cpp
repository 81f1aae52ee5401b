#include "SystemTrayIconEx/QQtSystemTrayIconEx.h"

#include "SystemTrayIconEx/StatusItemPaintHelpers.h"
#include "core/TemperatureScaleHelpers.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

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
    m_bMenuVisible = false;
    // An item that outlives the application object (a child of it) finds the tray's widgets
    // already gone; hiding or deleting it then would touch freed memory.
    if (!QCoreApplication::instance()) {
        m_pTrayIcon->setParent(nullptr); // left to the end of the process
        m_pTrayIcon = nullptr;
        return;
    }
    m_pTrayIcon->hide();
    delete m_pTrayIcon;
    m_pTrayIcon = nullptr;
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
        m_pMenu->popup(menuPosition());
    }
}

QPoint QQtSystemTrayIconEx::menuPosition() const
{
    // Under the item, or above it when the tray is in the lower half of the screen; at the
    // pointer while the tray has not told where the item is.
    const QRect item = geometry();
    if (item.isEmpty()) {
        return QCursor::pos();
    }
    const QScreen* pScreen = QGuiApplication::screenAt(item.center());
    if (pScreen && item.center().y() > pScreen->geometry().center().y()) {
        return item.topLeft() - QPoint(0, m_pMenu->sizeHint().height());
    }
    return item.bottomLeft() + QPoint(0, 1);
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
        const QWidgetList before = QApplication::topLevelWidgets();
        m_pTrayIcon->show();
        for (QWidget* pWidget : QApplication::topLevelWidgets()) {
            if (!before.contains(pWidget) &&
                qstrcmp(pWidget->metaObject()->className(), "QSystemTrayIconSys") == 0) {
                m_pTrayWidget = pWidget;
            }
        }
    }
    // A tray that embeds the item as a window sizes it by the window's minimum size; without
    // this every item would be squeezed into a square.
    if (m_pTrayWidget) {
        m_pTrayWidget->setMinimumSize(m_Image.size() / m_Image.devicePixelRatio());
    }
}
