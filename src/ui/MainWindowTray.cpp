// The window's side of the menu-bar item.
#include "ui/MainWindow.h"

#include "SystemTrayIconEx/QMyTrayIcon.h"
#include "SystemTrayIconEx/qsystemtrayicon.h"

#include <QMenu>

void QFanControlMainWindow::createTrayIcon()
{
    m_pTrayIcon = new QMyTrayIcon(m_pFanControl, this);
    if (QSystemTrayIconEx* pItem = m_pTrayIcon->systemTrayIcon())
        connect(pItem, &QSystemTrayIconEx::activated, this,
                &QFanControlMainWindow::slotTrayIconActivated);
}

bool QFanControlMainWindow::hasTrayIcon() const
{
    return m_pTrayIcon && m_pTrayIcon->systemTrayIcon() &&
           QSystemTrayIconEx::isSystemTrayAvailable();
}

void QFanControlMainWindow::updateTrayIcon()
{
    // Before the load the item keeps its plain icon; the end of the load updates it.
    if (m_pTrayIcon && m_bLoaded)
        m_pTrayIcon->update();
}

void QFanControlMainWindow::resetTrayIconContent()
{
    if (m_pTrayIcon)
        m_pTrayIcon->reset();
}

void QFanControlMainWindow::setTrayIconVisible(bool bVisible)
{
    if (m_pTrayIcon && m_pTrayIcon->systemTrayIcon())
        m_pTrayIcon->systemTrayIcon()->setVisible(bVisible);
}

void QFanControlMainWindow::setTrayIconMenu(QMenu* pMenu)
{
    if (m_pTrayIcon && m_pTrayIcon->systemTrayIcon())
        m_pTrayIcon->systemTrayIcon()->setContextMenu(pMenu);
}

void QFanControlMainWindow::destroyTrayIcon()
{
    setTrayIconVisible(false);
    delete m_pTrayIcon;
    m_pTrayIcon = nullptr;
}
