#pragma once

#include <QMainWindow>

class QLabel;

// The program's main window. For now it shows who is running where; the fan and sensor
// tables arrive with the window's own worker threads.
class QFanControlMainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit QFanControlMainWindow(QWidget* pParent = nullptr,
                                   Qt::WindowFlags flags = Qt::WindowFlags());

    // The read-only warning line, empty when fans can be commanded.
    QString readOnlyWarning() const;

public slots:
    // Shows the window in its normal state and brings the program to the front.
    void slotRestore();
    // The real exit (menu, update checker, application quit); closing only hides.
    void slotExit();

protected:
    void closeEvent(QCloseEvent* pEvent) override;

private:
    bool m_bExitRequested = false;
};
