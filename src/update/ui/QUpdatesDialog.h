#pragma once

#include "ui/QDialogEx.h"

class QTextBrowser;
class QUpdateChecker;

// Announces a newer release: its version, the notes of every newer release, automatic checks
// on or off, and the three choices remind me later, skip this version and install.
class QUpdatesDialog : public QDialogEx
{
    Q_OBJECT
public:
    QUpdatesDialog(QUpdateChecker* pChecker, QWidget* pParent = nullptr);

    void setupUI();
    // The release notes as an HTML table, newest release first.
    QString createHTML(QTextBrowser* pBrowser = nullptr) const;

public slots:
    void slotRemindLater();
    void slotSkip();
    void slotInstall();
    void slotAutoUpdateToggle(bool bChecked);

protected:
    // Runs the progress dialog modally; tests replace it.
    virtual int execProgressDialog(QDialog* pDialog);

private:
    QUpdateChecker* m_pChecker;
    bool m_bAnswered = false;
};
