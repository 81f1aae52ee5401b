#pragma once

#include "ui/QDialogEx.h"

class QDialogButtonBox;
class QFanControl;
class QLabel;
class QPushButton;

// The form of the about dialog: the program icon on the left; name and version, a notice,
// the support link and the disclaimer on the right; the buttons below.
struct Ui_InfoDialog
{
    QLabel* m_AboutIcon = nullptr;
    QLabel* m_ProgramNameLabel = nullptr;
    QLabel* m_ProgramNameLabel_2 = nullptr;
    QLabel* labelSupport = nullptr;
    QLabel* labelWarning = nullptr;
    QDialogButtonBox* buttonBox = nullptr;

    void setupUi(QDialog* pDialog);
};

// Shows the program's name and version, a link to technical support and a disclaimer, and
// copies the technical report (TechInfoUtils) to the clipboard for support requests.
// Close is the default button; copying never closes the dialog.
class QInfoDialog : public QDialogEx
{
    Q_OBJECT
public:
    // pController: the fans and sensors of the report, not owned (null: an empty report).
    QInfoDialog(QWidget* pParent, QFanControl* pController);

    const Ui_InfoDialog& form() const { return ui; }
    QPushButton* copyButton() const { return m_pButtonCopy; }
    QPushButton* closeButton() const { return m_pButtonClose; }

public slots:
    void OnLinkActivated(const QString& link);
    void OnCopy();

private:
    void createButtonBox();

    QFanControl* m_pFanControl;
    QPushButton* m_pButtonCopy = nullptr;
    QPushButton* m_pButtonClose = nullptr;
    Ui_InfoDialog ui;
};
