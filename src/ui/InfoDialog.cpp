#include "ui/InfoDialog.h"

#include "app/TechInfoReport.h"
#include "app/app.h"
#include "core/FanControl.h"
#include "helpers/ImageResourceUtils.h"
#include "helpers/QCoreServices.h"
#include "localization/QLanguageLoader.h"
#include "ui/GraphicHelpers.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// The maker's technical-support forum; every page opened there says where the visitor came from.
const char kSupportPage[] = "https://brightfold.example/forum/thermora";
const char kReferrer[] = "thermora_mac";
const int kIconSize = 128;

QString textOf(const char* key)
{
    return LocalizationHelpers::text(QLatin1String(key));
}

QLabel* addLabel(QDialog* pDialog, QVBoxLayout* pLayout, const char* name, Qt::Alignment align)
{
    QLabel* pLabel = new QLabel(pDialog);
    pLabel->setObjectName(QLatin1String(name));
    pLabel->setAlignment(align);
    pLabel->setWordWrap(true);
    pLayout->addWidget(pLabel);
    return pLabel;
}

} // namespace

void Ui_InfoDialog::setupUi(QDialog* pDialog)
{
    pDialog->setObjectName(QStringLiteral("InfoDialog"));
    QVBoxLayout* pOuter = new QVBoxLayout(pDialog);
    pOuter->setObjectName(QStringLiteral("verticalLayout_2"));
    QHBoxLayout* pRow = new QHBoxLayout();
    pRow->setObjectName(QStringLiteral("horizontalLayout"));
    m_AboutIcon = new QLabel(pDialog);
    m_AboutIcon->setObjectName(QStringLiteral("m_AboutIcon"));
    m_AboutIcon->setAlignment(Qt::AlignTop);
    pRow->addWidget(m_AboutIcon);
    QVBoxLayout* pTexts = new QVBoxLayout();
    pTexts->setObjectName(QStringLiteral("verticalLayout"));
    m_ProgramNameLabel = addLabel(pDialog, pTexts, "m_ProgramNameLabel", Qt::AlignCenter);
    m_ProgramNameLabel_2 = addLabel(pDialog, pTexts, "m_ProgramNameLabel_2", Qt::AlignCenter);
    labelSupport = addLabel(pDialog, pTexts, "labelSupport", Qt::AlignCenter);
    labelWarning = addLabel(pDialog, pTexts, "labelWarning", Qt::AlignLeft | Qt::AlignTop);
    labelWarning->setMinimumWidth(360);
    pRow->addLayout(pTexts);
    pOuter->addLayout(pRow);
    buttonBox = new QDialogButtonBox(pDialog);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    pOuter->addWidget(buttonBox);
}

QInfoDialog::QInfoDialog(QWidget* pParent, QFanControl* pController)
    : QDialogEx(pParent, Qt::Sheet), m_pFanControl(pController)
{
    ImageResourceUtils::registerImages();
    setAttribute(Qt::WA_QuitOnClose, false);
    ui.setupUi(this);
    createButtonBox();
    connect(ui.labelSupport, &QLabel::linkActivated, this, &QInfoDialog::OnLinkActivated);

    ui.m_AboutIcon->setPixmap(
        QPixmap(QStringLiteral(":/Resources/icon_128.png"))
            .scaled(kIconSize, kIconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    GraphicHelpers::DecrementWidgetFontSize(ui.labelWarning, 2);
    GraphicHelpers::DecrementWidgetFontSize(ui.labelSupport, 1);
    GraphicHelpers::DecrementWidgetFontSize(ui.m_ProgramNameLabel, 1);
    GraphicHelpers::DecrementWidgetFontSize(ui.m_ProgramNameLabel_2, 1);

    ui.m_ProgramNameLabel->setText(
        QStringLiteral("<b>%1 %2</b>")
            .arg(QLatin1String(kThermoraProgramName), QLatin1String(kThermoraVersion)));
    ui.m_ProgramNameLabel_2->setText(textOf("AboutDialog/staticNotice"));
    setWindowTitle(textOf("AboutDialog/title"));
    ui.labelSupport->setText(QStringLiteral("<a href='support'>%1</a>")
                                 .arg(textOf("AboutDialog/staticTechnicalSupport")));
    ui.labelWarning->setText(textOf("AboutDialog/staticWarning"));

    adjustSize();
    setFixedSize(size());
}

void QInfoDialog::createButtonBox()
{
    m_pButtonCopy = ui.buttonBox->addButton(textOf("AboutDialog/buttonCopyTechInfo"),
                                            QDialogButtonBox::AcceptRole);
    m_pButtonCopy->setObjectName(QStringLiteral("buttonCopy"));
    m_pButtonCopy->setDefault(false);
    m_pButtonCopy->setAutoDefault(false);
    connect(m_pButtonCopy, &QPushButton::clicked, this, [this](bool) { OnCopy(); });

    m_pButtonClose =
        ui.buttonBox->addButton(textOf("Common/buttonClose"), QDialogButtonBox::RejectRole);
    m_pButtonClose->setObjectName(QStringLiteral("buttonClose"));
    m_pButtonClose->setAutoDefault(true);
    m_pButtonClose->setDefault(true);
    connect(m_pButtonClose, &QPushButton::clicked, this, [this](bool) { accept(); });
}

void QInfoDialog::OnLinkActivated(const QString&)
{
    QUrl url{QLatin1String(kSupportPage)};
    url.setQuery(QStringLiteral("ref=%1").arg(QLatin1String(kReferrer)));
    QDesktopServices::openUrl(url);
}

void QInfoDialog::OnCopy()
{
    QClipboard* pClipboard = QApplication::clipboard();
    const QString text =
        m_pFanControl ? TechInfoUtils::technicalReport(*m_pFanControl, QCoreServices::sysInfo())
                      : QString();
    pClipboard->setText(text, QClipboard::Clipboard);
    QMessageBox::information(this, QLatin1String(kThermoraProgramName),
                             textOf("AboutDialog/copyInfoMessage"), QMessageBox::Ok);
}
