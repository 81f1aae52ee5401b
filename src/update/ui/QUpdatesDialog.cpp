#include "update/ui/QUpdatesDialog.h"

#include "settings/QPreferences.h"
#include "ui/GraphicHelpers.h"
#include "update/QUpdateChecker.h"
#include "update/UpdateNotesUtils.h"
#include "update/ui/QUpdateProgressDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

QUpdatesDialog::QUpdatesDialog(QUpdateChecker* pChecker, QWidget* pParent)
    : QDialogEx(pParent), m_pChecker(pChecker)
{
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(m_pChecker->texts().get(QUpdateTexts::SoftwareUpdate));
    setupUI();
    adjustSize();
    connect(this, &QDialog::rejected, this, &QUpdatesDialog::slotRemindLater);
}

void QUpdatesDialog::setupUI()
{
    const QUpdateTexts& texts = m_pChecker->texts();
    QHBoxLayout* pMain = new QHBoxLayout(this);
    QVBoxLayout* pLeft = new QVBoxLayout();
    QLabel* pIcon = new QLabel(this);
    if (!m_pChecker->appIcon().isNull()) {
        pIcon->setPixmap(m_pChecker->appIcon().pixmap(64, 64));
        pIcon->setFixedSize(64, 64);
    }
    pLeft->addWidget(pIcon);
    pLeft->addStretch();
    pMain->addLayout(pLeft);

    QVBoxLayout* pRight = new QVBoxLayout();
    const QString newest =
        m_pChecker->releases().isEmpty() ? QString() : m_pChecker->releases().first().version;
    QLabel* pHeading = new QLabel(
        QStringLiteral("<b>%1</b>")
            .arg(texts.get(QUpdateTexts::NewVersionAvailable).arg(m_pChecker->appName())),
        this);
    QLabel* pDescription =
        new QLabel(texts.get(QUpdateTexts::NowAvailable)
                       .arg(m_pChecker->appName(), newest, m_pChecker->currentVersion()),
                   this);
    pDescription->setWordWrap(true);
    pDescription->setMinimumWidth(457);
    QLabel* pNotesHeading =
        new QLabel(QStringLiteral("<b>%1</b>").arg(texts.get(QUpdateTexts::ReleaseNotes)), this);
    QTextBrowser* pBrowser = new QTextBrowser(this);
    pBrowser->setObjectName(QStringLiteral("releaseNotes"));
    pBrowser->setReadOnly(true);
    pBrowser->setOpenExternalLinks(true);
    pBrowser->setMinimumHeight(200);
    pBrowser->setHtml(createHTML(pBrowser));
    QCheckBox* pAuto = new QCheckBox(texts.get(QUpdateTexts::CheckAutomatically), this);
    pAuto->setChecked(m_pChecker->isAutomatic());
    connect(pAuto, &QCheckBox::toggled, this, &QUpdatesDialog::slotAutoUpdateToggle);

    QDialogButtonBox* pButtons = new QDialogButtonBox(this);
    QPushButton* pRemind =
        pButtons->addButton(texts.get(QUpdateTexts::RemindMeLater), QDialogButtonBox::AcceptRole);
    QPushButton* pInstall =
        pButtons->addButton(texts.get(QUpdateTexts::InstallUpdate), QDialogButtonBox::AcceptRole);
    QPushButton* pSkip =
        pButtons->addButton(texts.get(QUpdateTexts::SkipThisVersion), QDialogButtonBox::ResetRole);
    pInstall->setDefault(true);
    connect(pRemind, &QPushButton::clicked, this, &QUpdatesDialog::slotRemindLater);
    connect(pInstall, &QPushButton::clicked, this, &QUpdatesDialog::slotInstall);
    connect(pSkip, &QPushButton::clicked, this, &QUpdatesDialog::slotSkip);

    const QList<QWidget*> smaller{pDescription, pNotesHeading, pAuto, pButtons};
    for (QWidget* pWidget : smaller)
        GraphicHelpers::DecrementWidgetFontSize(pWidget, 2);
    pRight->addWidget(pHeading);
    pRight->addWidget(pDescription);
    pRight->addWidget(pNotesHeading);
    pRight->addWidget(pBrowser);
    pRight->addWidget(pAuto);
    pRight->addWidget(pButtons);
    pMain->addLayout(pRight);
    pMain->setContentsMargins(8, 8, 8, 8);
}

QString QUpdatesDialog::createHTML(QTextBrowser*) const
{
    const QString released = m_pChecker->texts().get(QUpdateTexts::ReleasedOn);
    QString html = QStringLiteral(
        "<html><body><table cellspacing='0' cellpadding='2' style='padding-top: 10px;'>");
    for (const QUpdateRelease& release : m_pChecker->releases()) {
        const QDate& date = release.date;
        const QString when = QStringLiteral("%1 %2 %3")
                                 .arg(date.day())
                                 .arg(QLocale::system().monthName(date.month()))
                                 .arg(date.year());
        html += QStringLiteral("<tr>");
        html += QStringLiteral("<td style='height:10px;' bgcolor='#EEEEEE' width='20%' "
                               "align='right'><font color='#1E51BE'><b>%1</b></font></td>")
                    .arg(release.version.toHtmlEscaped());
        html += QStringLiteral("<td style='height:10px;' bgcolor='#EEEEEE' width='80%'><font "
                               "color='#8A8A8A'><p style='margin-left: 8'>%1</font></p></td>")
                    .arg(released.arg(when));
        html += QStringLiteral("</tr>");
        const int nItems = release.items.size();
        for (int i = 0; i < nItems; ++i) {
            QString style;
            if (i == 0)
                style = QStringLiteral("style='padding-top: 5px;'");
            else if (i == nItems - 1)
                style = QStringLiteral("style='padding-bottom: 12px;'");
            const QUpdateReleaseItem& item = release.items.at(i);
            // Only the program's own icons: the type names one of them or none.
            static const QStringList icons{QStringLiteral("fixed"), QStringLiteral("improved"),
                                           QStringLiteral("new")};
            const QString type = icons.contains(item.type) ? item.type : QString();
            html += QStringLiteral("<tr>");
            html += QStringLiteral("<td %1 width='20%' align='right'><img "
                                   "src=':/UpdateChecker/%2.png'></td>")
                        .arg(style, type);
            html += QStringLiteral("<td %1><p style='margin-left: 8'>%2</p></td>")
                        .arg(style, UpdateNotesUtils::sanitize(item.text));
            html += QStringLiteral("</tr>");
        }
    }
    html += QStringLiteral("</table></body></html>");
    return html;
}

void QUpdatesDialog::slotAutoUpdateToggle(bool bChecked)
{
    m_pChecker->setAutomatic(bChecked);
    if (m_pChecker->preferences())
        m_pChecker->preferences()->setInt(QStringLiteral("UpdateChecker_Auto"), bChecked ? 1 : 0);
}

void QUpdatesDialog::slotRemindLater()
{
    // Closing after an answer also rejects nothing: only the first answer counts.
    if (m_bAnswered)
        return;
    m_bAnswered = true;
    m_pChecker->remindLater();
    done(QDialog::Accepted);
}

void QUpdatesDialog::slotSkip()
{
    if (m_bAnswered)
        return;
    m_bAnswered = true;
    m_pChecker->skipCurrentVersion();
    done(QDialog::Accepted);
}

void QUpdatesDialog::slotInstall()
{
    if (m_bAnswered)
        return;
    m_bAnswered = true;
    done(QDialog::Accepted);
    QWidget* pParent = qobject_cast<QWidget*>(m_pChecker->parentWidget());
    QUpdateProgressDialog progress(m_pChecker,
                                   (pParent && pParent->isVisible()) ? pParent : nullptr);
    progress.setWindowModality(Qt::WindowModal);
    m_pChecker->setOpenDialog(&progress);
    if (execProgressDialog(&progress) == QDialog::Rejected)
        m_pChecker->remindLater();
    m_pChecker->setOpenDialog(nullptr);
}

int QUpdatesDialog::execProgressDialog(QDialog* pDialog)
{
    return pDialog->exec();
}
