#include "update/ui/QUpdateDialogPresenter.h"

#include "app/app.h"
#include "update/ui/QUpdatesDialog.h"

#include <QMainWindow>
#include <QMessageBox>

QWidget* QUpdateDialogPresenter::dialogParent()
{
    if (m_pWindow && m_pWindow->isVisible())
        return m_pWindow;
    if (m_pWindow)
        QMyApplication::activateAppTopmost(m_pWindow);
    return nullptr;
}

void QUpdateDialogPresenter::showUpdates(QUpdateChecker* pChecker)
{
    QUpdatesDialog dialog(pChecker, dialogParent());
    dialog.setWindowModality(Qt::WindowModal);
    pChecker->setOpenDialog(&dialog);
    dialog.exec();
    pChecker->setOpenDialog(nullptr);
}

void QUpdateDialogPresenter::showResult(QUpdateChecker* pChecker, int nCode)
{
    const QUpdateTexts& texts = pChecker->texts();
    QMessageBox box(m_pWindow && m_pWindow->isVisible() ? m_pWindow : nullptr);
    box.setWindowModality(Qt::WindowModal);
    if (nCode == QUpdateChecker::UpToDate) {
        box.setText(QStringLiteral("<b>%1</b>").arg(texts.get(QUpdateTexts::UpToDate)));
        box.setInformativeText(texts.get(QUpdateTexts::NewestVersion)
                                   .arg(pChecker->appName(), pChecker->currentVersion()));
        box.setIconPixmap(pChecker->appIcon().pixmap(64, 64));
    } else {
        box.setIcon(QMessageBox::Warning);
        const bool bDownload =
            nCode == QUpdateChecker::DownloadFailed || nCode == QUpdateChecker::FeedNotFound;
        box.setText(texts.get(bDownload ? QUpdateTexts::DownloadError : QUpdateTexts::FeedError));
    }
    pChecker->setOpenDialog(&box);
    box.exec();
    pChecker->setOpenDialog(nullptr);
}
