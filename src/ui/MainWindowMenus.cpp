// The status-item menu, the per-fan submenus (also the fans table's context menu) and what
// their entries do.
#include "ui/MainWindow.h"

#include "QsLog/QsLog.h"
#include "app/app.h"
#include "core/FanControl.h"
#include "core/FanInfo.h"
#include "helpers/QCoreServices.h"
#include "localization/QLanguageLoader.h"
#include "ui/FanControlDialog.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCursor>
#include <QItemSelectionModel>
#include <QMenu>

namespace {

QString uiText(const char* key)
{
    return LocalizationHelpers::text(QLatin1String(key));
}

const char kCommandControl[] = "control";
const char kCommandReset[] = "reset";

QString fanActionData(int nFan, const char* command)
{
    return QStringLiteral("%1:%2").arg(nFan).arg(QLatin1String(command));
}

} // namespace

void QFanControlMainWindow::createTrayIconMenu()
{
    if (m_pTrayMenu)
        return;
    const int nFans = m_pFanControl ? m_pFanControl->fanCount() : 0;
    for (int i = 0; i < nFans; ++i) {
        QMenu* pMenu = new QMenu(this);
        m_fanMenus.insert(i, pMenu);
        connect(pMenu, &QMenu::aboutToShow, this, &QFanControlMainWindow::slotUpdateFanPopupMenus);
    }

    m_pTrayMenu = new QMenu(this);
    m_pTrayMenu->setObjectName(QStringLiteral("trayMenu"));
    m_pActionShow = m_pTrayMenu->addAction(uiText("TrayMenu/itemShow"));
    connect(m_pActionShow, &QAction::triggered, this, &QFanControlMainWindow::slotRestore);
    m_pActionWebsite = m_pTrayMenu->addAction(uiText("TrayMenu/itemWebsite"));
    connect(m_pActionWebsite, &QAction::triggered, this, &QFanControlMainWindow::slotHomePage);
    m_pActionCheckForUpdates = m_pTrayMenu->addAction(uiText("TrayMenu/itemCheckForUpdates"));
    connect(m_pActionCheckForUpdates, &QAction::triggered, this,
            &QFanControlMainWindow::slotCheckForUpdates);
    m_pActionCheckForUpdates->setEnabled(m_pUpdateChecker != nullptr);
    m_pTrayMenu->addSeparator();
    if (!m_fanMenus.isEmpty()) {
        for (QMenu* pMenu : qAsConst(m_fanMenus))
            m_pTrayMenu->addMenu(pMenu);
        m_pTrayMenu->addSeparator();
    }
    m_pActionPreferences = m_pTrayMenu->addAction(uiText("MainWindow/buttonPreferences"));
    connect(m_pActionPreferences, &QAction::triggered, this,
            &QFanControlMainWindow::slotPreferences);
    m_pTrayMenu->addSeparator();
    m_pActionExit = m_pTrayMenu->addAction(uiText("TrayMenu/itemExit"));
    connect(m_pActionExit, &QAction::triggered, this, &QFanControlMainWindow::slotExit);

    setTrayIconMenu(m_pTrayMenu);
}

void QFanControlMainWindow::retranslateTrayMenu()
{
    m_pActionShow->setText(uiText("TrayMenu/itemShow"));
    m_pActionWebsite->setText(uiText("TrayMenu/itemWebsite"));
    m_pActionCheckForUpdates->setText(uiText("TrayMenu/itemCheckForUpdates"));
    m_pActionPreferences->setText(uiText("MainWindow/buttonPreferences"));
    m_pActionExit->setText(uiText("TrayMenu/itemExit"));
}

void QFanControlMainWindow::updateTrayMenu()
{
    if (!m_pTrayMenu)
        return;
    updateTrayIcon();
    retranslateTrayMenu();
}

void QFanControlMainWindow::slotUpdateFanPopupMenus()
{
    if (!m_pFanControl)
        return;
    for (auto it = m_fanMenus.constBegin(); it != m_fanMenus.constEnd(); ++it) {
        FanInfo* pFan = m_pFanControl->GetFan(it.key());
        QMenu* pMenu = it.value();
        pMenu->clear();
        if (!pFan)
            continue;
        // The previous group and its actions go later, not now: one of them may be the action
        // whose triggered signal is still being delivered (a dialog it opened runs its own
        // event loop, in which this menu can be opened again).
        for (QActionGroup* pOld :
             pMenu->findChildren<QActionGroup*>(QString(), Qt::FindDirectChildrenOnly))
            pOld->deleteLater();
        QActionGroup* pGroup = new QActionGroup(pMenu);
        const int nFan = m_pFanControl->fanIndex(pFan);

        QAction* pControl = pGroup->addAction(uiText("MainWindow/popupMenuItemControl"));
        pControl->setData(fanActionData(nFan, kCommandControl));
        pMenu->addAction(pControl);

        if (!pFan->GetControlMode().isAutomatic()) {
            QAction* pReset = pGroup->addAction(uiText("MainWindow/popupMenuItemReset"));
            pReset->setData(fanActionData(nFan, kCommandReset));
            pMenu->addSeparator();
            pMenu->addAction(pReset);
        }
        connect(pGroup, &QActionGroup::triggered, this,
                &QFanControlMainWindow::slotProcessFanAction);
    }
}

void QFanControlMainWindow::slotProcessFanAction(QAction* pAction)
{
    if (!pAction || !m_pFanControl)
        return;
    const QStringList parts = pAction->data().toString().split(QLatin1Char(':'));
    if (parts.size() < 2)
        return;
    bool bOk = false;
    const int nFan = parts.at(0).toInt(&bOk, 10);
    if (!bOk)
        return;
    FanInfo* pFan = m_pFanControl->GetFan(nFan);
    if (!pFan)
        return;
    if (parts.at(1) == QLatin1String(kCommandControl))
        showFanControlDialog(pFan);
    else if (parts.at(1) == QLatin1String(kCommandReset))
        resetFanMode(pFan);
}

void QFanControlMainWindow::OnContextMenu(const QPoint& pos)
{
    QTableWidgetItem* pItem = ui.tableFans->itemAt(pos);
    if (!pItem)
        return;
    ui.tableFans->selectRow(pItem->row());
    FanInfo* pFan = GetSelectedFan();
    if (!pFan || !m_pFanControl)
        return;
    QMenu* pMenu = m_fanMenus.value(m_pFanControl->fanIndex(pFan), nullptr);
    if (pMenu)
        execPopupMenu(pMenu, QCursor::pos());
}

void QFanControlMainWindow::execPopupMenu(QMenu* pMenu, const QPoint& globalPos)
{
    pMenu->exec(globalPos);
}

FanInfo* QFanControlMainWindow::GetSelectedFan() const
{
    QItemSelectionModel* pSelection = ui.tableFans->selectionModel();
    if (!pSelection || !m_pFanControl)
        return nullptr;
    const QModelIndexList selected = pSelection->selectedIndexes();
    if (selected.isEmpty())
        return nullptr;
    const QModelIndex& first = selected.first();
    if (first.row() < 0 || first.column() < 0 || !first.model())
        return nullptr;
    return m_pFanControl->GetFan(first.row());
}

void QFanControlMainWindow::showFanControlDialog(FanInfo* pFan)
{
    if (!pFan || QApplication::activeModalWidget())
        return;
    // A hidden window is no parent: the dialog must come up on its own, in front.
    QWidget* pParent = isVisible() ? this : nullptr;
    QFanControlDialog dialog(pParent, pFan, m_pFanControl);
    // Modal to the window only: an application-modal dialog would also block the menu-bar
    // item's own window, and with it the menu and Exit. A second request is still refused
    // above, as the dialog counts as the active modal widget.
    dialog.setWindowModality(Qt::WindowModal);
    if (!pParent)
        QMyApplication::activateAppTopmost(this);
    if (execDialog(&dialog) == QDialog::Accepted && m_pFanControl)
        slotFanUpdate(m_pFanControl->fanIndex(pFan));
}

void QFanControlMainWindow::resetFanMode(FanInfo* pFan)
{
    if (QCoreServices::isReadOnly() || !pFan)
        return;
    pFan->SetControlMode(FanControlMode::automatic());
    if (m_pFanControl) {
        m_pFanControl->saveFansControlMode();
        slotFanUpdate(m_pFanControl->fanIndex(pFan));
    }
}

void QFanControlMainWindow::resetTrayIcon()
{
    resetTrayIconContent();
    updateTrayIcon();
    updateTrayMenu();
}

void QFanControlMainWindow::slotTrayIconActivated(QSystemTrayIconEx::ActivationReason)
{
    // Clicking the item only opens its menu; the platform layer does that.
}
