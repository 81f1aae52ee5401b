#include "ui/QDialogEx.h"

#include <QKeyEvent>

QDialogEx::QDialogEx(QWidget* pParent, Qt::WindowFlags flags) : QDialog(pParent, flags)
{
    setWindowFlags(windowFlags() | Qt::WindowTitleHint | Qt::CustomizeWindowHint |
                   Qt::WindowCloseButtonHint);
}

void QDialogEx::keyPressEvent(QKeyEvent* pEvent)
{
    // Qt reports the Mac's Command key as the Control modifier, so this is Command+W there.
    if (pEvent->key() == Qt::Key_W && (pEvent->modifiers() & Qt::ControlModifier)) {
        done(0);
        pEvent->ignore();
        return;
    }
    QDialog::keyPressEvent(pEvent);
}
