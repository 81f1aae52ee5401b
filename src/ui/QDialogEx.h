#pragma once

#include <QDialog>

class QKeyEvent;

// The base of every dialog of the program: a title bar with a close button and no other
// title-bar buttons, and Ctrl+W (Command+W on the Mac) closing the dialog as Cancel does.
class QDialogEx : public QDialog
{
    Q_OBJECT
public:
    explicit QDialogEx(QWidget* pParent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

protected:
    void keyPressEvent(QKeyEvent* pEvent) override;
};
