#pragma once

#include "update/QUpdateChecker.h"

class QMainWindow;

// Shows the update checker's findings with the program's dialogs: the update dialog when a
// newer release exists, and for a manual check the up-to-date or error message.
class QUpdateDialogPresenter : public QUpdatePresenter
{
public:
    explicit QUpdateDialogPresenter(QMainWindow* pWindow) : m_pWindow(pWindow) {}

    void showUpdates(QUpdateChecker* pChecker) override;
    void showResult(QUpdateChecker* pChecker, int nCode) override;

private:
    // The window when it is visible; otherwise the program comes to the front first.
    QWidget* dialogParent();

    QMainWindow* m_pWindow;
};
