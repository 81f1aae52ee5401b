#pragma once

#include "SystemTrayIconEx/qsystemtrayicon.h"
#include "core/QOverheatWatch.h"
#include "ui/MainWindowForm.h"

#include <QFuture>
#include <QMainWindow>
#include <QMap>
#include <QThreadPool>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

class FanInfo;
class QAction;
class QDialog;
class QFanControl;
class QLabel;
class QMenu;
class QMyTrayIcon;
class QPushButton;
class QTableWidgetItem;
class QTempSensor;
class QUpdateChecker;
class QUpdatePresenter;

// The program's hub: the fans and sensors tables, the status line, the menu-bar item with its
// menu, and the three background workers that form the program's main loop:
//   initial load (once): the fan controller's Init and the tool's write rights, then
//     init_finished(1 when the administrator was asked, else 0);
//   update worker (every 1.5 s): fan speeds and sensor values, fan_update / sensor_update;
//   control worker (every 1 s, never in read-only mode): commands constant and sensor-based fans.
// Workers never touch widgets; their signals reach the window queued on the GUI thread. They
// run on a thread pool of the window's own, so that the two endless ones never starve the
// global pool that the update check and the download use.
//
// Closing the window only hides it; slotExit is the real exit, which stops the workers (up to
// 8 s) before the event loop ends.
class QFanControlMainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit QFanControlMainWindow(QWidget* pParent = nullptr,
                                   Qt::WindowFlags flags = Qt::WindowFlags());
    ~QFanControlMainWindow() override;

    void updatePreferences();
    // 0: the home-page link, 1: the read-only warning, -1: the previous one again, else empty.
    void setStatusText(int nStatus);
    // The exit's wait for the workers: 40 steps of 200 ms at most.
    void waitForThreadsFinished();

    QFanControl* fanControl() const { return m_pFanControl; }
    QMyTableWidget* fansTable() const { return ui.tableFans; }
    QMyTableWidget* sensorsTable() const { return ui.tableSensors; }
    QMenu* trayMenu() const { return m_pTrayMenu; }
    QMenu* fanMenu(int nFan) const { return m_fanMenus.value(nFan, nullptr); }
    QLabel* statusLabel() const { return m_pStatusLabel; }
    int separatorRow() const { return m_nSeparatorRow; }
    // True once the exit has begun (the workers were told to stop).
    bool isStopping() const { return isStopRequested(); }
    bool isInitialLoadRunning() const { return m_ThreadInit.isRunning(); }
    bool isUpdateWorkerRunning() const { return m_ThreadUpdate.isRunning(); }
    bool isControlWorkerRunning() const { return m_ThreadControl.isRunning(); }
    QUpdateChecker* updateChecker() const { return m_pUpdateChecker; }

    // Shortens the worker periods (tests); call before the initial load finishes.
    void setWorkerPeriods(int nUpdateMsecs, int nControlMsecs);
    // Shortens the exit's wait steps (tests); the budget stays 40 steps.
    void setExitWaitStep(int nMsecs);

    FanInfo* GetSelectedFan() const;

signals:
    void init_finished(int nResult);
    void fan_update(int fanIndex);
    void sensor_update(int row, double value);
    void smc_link_changed();

public slots:
    void OnInitFinished(int nResult);
    void slotFanUpdate(int fanIndex);
    // A NaN value: the sensor gives no valid reading (failed, or the controller is not
    // answering); the row shows a dash and its tooltip says since when.
    void OnSensorUpdate(int row, double value);
    // The status line follows whether the controller answers.
    void OnSmcLinkChanged();
    void OnFanDoubleClick(QTableWidgetItem* pItem);
    void resetTrayIcon();
    void slotTrayIconActivated(QSystemTrayIconEx::ActivationReason reason);
    void updateTrayMenu();
    void OnContextMenu(const QPoint& pos);
    void OnMinimize();
    void slotPreferences();
    void OnInfo();
    // Shows the window in its normal state and brings the program to the front.
    void slotRestore();
    // The real exit (menu, update checker, application quit); closing only hides.
    void slotExit();
    void slotHomePage();
    void slotCheckForUpdates();
    void OnLinkActivated(const QString& link);
    void slotUpdateFanPopupMenus();
    void slotShowSelectedFanDialog();
    void slotProcessFanAction(QAction* pAction);

protected:
    void closeEvent(QCloseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;
    bool event(QEvent* pEvent) override;
    void showEvent(QShowEvent* pEvent) override;
    void hideEvent(QHideEvent* pEvent) override;

    // The shut-down error: a warning box. Tests replace it, a modal box would block them.
    virtual void showExitError(const QString& title, const QString& text);
    // Runs a dialog of the window modally; tests replace it to answer dialogs.
    virtual int execDialog(QDialog* pDialog);
    // Runs a popup menu modally at a screen position; tests replace it to see which menu opens.
    virtual void execPopupMenu(QMenu* pMenu, const QPoint& globalPos);
    // A notification through the menu-bar item (none where the desktop has no item); tests
    // replace it to see what would be shown.
    virtual void showNotification(const QString& title, const QString& text);

private:
    void InitializeFansTable();
    void InitializeSensorsTable();
    void createButtonBox();
    void createTrayIcon();
    void createTrayIconMenu();
    void startUpdateChecker();
    void RestoreWindowPosition();
    void SaveWindowPosition();
    void FillFansTable();
    void FillSensorsTable();
    void retranslateTables();
    QString failedSensorToolTip(int row) const;
    void retranslateTrayMenu();

    // The menu-bar item. Where the desktop has none, these do nothing.
    bool hasTrayIcon() const;
    void updateTrayIcon();
    void setTrayIconVisible(bool bVisible);
    void setTrayIconMenu(QMenu* pMenu);
    void resetTrayIconContent();
    void destroyTrayIcon();

    // The overheat alarm (MainWindowOverheat.cpp), fed by every sensor update.
    void checkOverheat(int nRow, double celsius);
    void notifyOverheat(QTempSensor* pSensor, double celsius);
    void setSensorRowAlarm(int nRow, bool bAlarm);
    static constexpr int kNotificationMsecs = 10000;

    void showFanControlDialog(FanInfo* pFan);
    // The preferences and about dialogs: modal to the window, or on their own when it is hidden.
    QWidget* dialogParent();
    void runOwnDialog(QDialog* pDialog);
    void resetFanMode(FanInfo* pFan);
    // Hides the window; where the desktop has no menu-bar item to come back from, it is
    // minimized instead so that it can still be found.
    void hideToMenuBar();
    // The write-rights check of the key-writing tool, run once by the initial load. Returns
    // true when rights had to be requested (the program then comes to the front).
    bool checkWriteRightsHook();

    // Workers.
    void InitialLoadThread();
    void UpdateThread();
    void ControlFanSpeedThread();
    bool isStopRequested() const;
    // Sets the stop flag and wakes every sleeping worker at once.
    void stopWorkers();
    // Sleeps up to nMsecs on the wait condition; false when woken for the exit.
    bool waitForNextCycle(int nMsecs);

    QFanControl* m_pFanControl = nullptr;
    // GUI thread only: the initial load has handed the controller's lists over. Until then
    // the load worker is still filling them and nothing on this thread may read them.
    bool m_bLoaded = false;
    bool m_bExitRequested = false;
    QFuture<void> m_ThreadInit;
    QFuture<void> m_ThreadUpdate;
    QFuture<void> m_ThreadControl;
    // The workers sleep on the condition under the mutex; the exit sets the flag under the
    // same mutex and wakes them all.
    std::atomic<int> m_stopThreads{0};
    std::condition_variable m_waitCondition;
    std::mutex m_mutex;
    QUpdateChecker* m_pUpdateChecker = nullptr;
    std::unique_ptr<QUpdatePresenter> m_pUpdatePresenter;
    QMyTrayIcon* m_pTrayIcon = nullptr;
    QMenu* m_pTrayMenu = nullptr;
    QAction* m_pActionShow = nullptr;
    QAction* m_pActionWebsite = nullptr;
    QAction* m_pActionCheckForUpdates = nullptr;
    QAction* m_pActionPreferences = nullptr;
    QAction* m_pActionExit = nullptr;
    QMap<int, QMenu*> m_fanMenus;
    QPushButton* m_pButtonMinimize = nullptr;
    QPushButton* m_pButtonPreferences = nullptr;
    QPushButton* m_pButtonAbout = nullptr;
    int m_nSeparatorRow = -1;
    Ui_ThermoraClass ui;

    // The status line; one per window, created on first use.
    QLabel* m_pStatusLabel = nullptr;
    int m_nPreviousStatus = 0;
    QString m_SmcLostText; // while the controller does not answer: the status line's text

    QOverheatWatch m_OverheatWatch; // GUI thread only

    // Written on the GUI thread, read by the update worker.
    std::atomic<bool> m_bWindowVisible{false};
    int m_nUpdatePeriodMsecs = 1500;
    int m_nControlPeriodMsecs = 1000;
    int m_nExitWaitStepMsecs = 200;
    // Initial load, update and control worker, with one thread to spare.
    QThreadPool m_WorkerPool;
};
