#include "ui/PreferencesDialog.h"

#include "QsLog/QsLog.h"
#include "SystemTrayIconEx/QMyTrayIcon.h"
#include "app/app.h"
#include "core/FanControl.h"
#include "core/FanInfo.h"
#include "core/QOverheatWatch.h"
#include "core/QTempSensor.h"
#include "core/TemperatureScaleHelpers.h"
#include "helpers/FileSystemHelpers.h"
#include "helpers/ImageResourceUtils.h"
#include "helpers/QCoreServices.h"
#include "localization/QLanguageLoader.h"
#include "settings/PreferenceUtils.h"
#include "settings/QPreferences.h"
#include "smc/SmcGiveBackUtils.h"
#include "ui/MainWindow.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>

namespace {

// The maker's page for translators; every page opened there says where the visitor came from.
const char kTranslatePage[] = "https://brightfold.example/translate";
const char kReferrer[] = "thermora_mac";
const char kEnglish[] = "English";

QString textOf(const char* key)
{
    return LocalizationHelpers::text(QLatin1String(key));
}

// Items without an icon of their own get a transparent one, so that every text lines up.
QIcon blankIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    return QIcon(pixmap);
}

} // namespace

QPreferencesDialog::QPreferencesDialog(QWidget* pParent, QFanControl* pController)
    : QDialogEx(pParent, Qt::Sheet), m_pFanControl(pController)
{
    ImageResourceUtils::registerImages();
    ui.setupUi(this);
    setAttribute(Qt::WA_QuitOnClose, false);

    m_pButtonClose = new QPushButton(textOf("Common/buttonClose"), this);
    m_pButtonClose->setObjectName(QStringLiteral("buttonClose"));
    ui.buttonBox->addButton(m_pButtonClose, QDialogButtonBox::YesRole);

    createLogging();
    createComboIcons();
    createComboFans();
    ui.staticCelsius->hide();
    ui.checkPrecise->setChecked(PreferenceUtils::getInt(QStringLiteral("PreciseTemperature")) != 0);
    ui.checkGiveBack->setChecked(
        PreferenceUtils::getInt(QLatin1String(SmcGiveBackUtils::kGiveBackSetting)) > 0);

    connect(ui.comboSensor, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &QPreferencesDialog::OnSensorTrayChanged);
    connect(ui.comboFan, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &QPreferencesDialog::OnMacFanChanged);
    connect(ui.comboIcon, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &QPreferencesDialog::OnMacTrayIconChanged);
    connect(ui.checkFahrenheit, &QCheckBox::toggled, this, &QPreferencesDialog::OnTempScaleChanged);
    connect(ui.checkPrecise, &QCheckBox::toggled, this, &QPreferencesDialog::OnPreciseChanged);
    connect(ui.checkGiveBack, &QCheckBox::toggled, this, &QPreferencesDialog::OnGiveBackToggle);
    connect(ui.labelTranslate, &QLabel::linkActivated, this, &QPreferencesDialog::OnLinkActivated);
    connect(ui.labelBrowseLog, &QLabel::linkActivated, this, &QPreferencesDialog::OnLinkActivated);
    connect(m_pButtonClose, &QPushButton::clicked, this, &QWidget::close);
    connect(ui.checkAutostart, &QCheckBox::toggled, this, &QPreferencesDialog::OnAutoStartChanged);

    // Set after their connections: a checked state runs the slot once, storing the same value.
    ui.checkAutostart->setChecked(QThermoraApp::isAutoStart());
    ui.checkFahrenheit->setChecked(isFehrenheit());

    createComboSensors();
    showAlarmThresholds();
    for (QSpinBox* pSpin : {ui.spinAlarmCpuGpu, ui.spinAlarmOther})
        connect(pSpin, QOverload<int>::of(&QSpinBox::valueChanged), this,
                &QPreferencesDialog::OnAlarmThresholdChanged);
    FillLanguages();
    connect(ui.comboLanguage, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &QPreferencesDialog::OnLanguageChanged);

    applyLanguage();
    adjustSize();
    setFixedSize(size());
}

// --- Construction ---------------------------------------------------------------------------

void QPreferencesDialog::createLogging()
{
    if (PreferenceUtils::getInt(QStringLiteral("EnableLog")) == 1) {
        ui.checkLog->setChecked(true);
    } else {
        ui.checkLog->hide();
        ui.labelBrowseLog->hide();
        enableLKeyHook();
    }
    connect(ui.checkLog, &QCheckBox::toggled, this, &QPreferencesDialog::OnLogToggle);
}

void QPreferencesDialog::createComboIcons()
{
    ui.comboIcon->addItem(blankIcon(), QString());
    ui.comboIcon->addItem(QMyTrayIcon::getTrayIconPic(false), QString());
    ui.comboIcon->addItem(QMyTrayIcon::getTrayIconPic(true), QString());
    // An absent setting (-1) leaves no item chosen.
    ui.comboIcon->setCurrentIndex(PreferenceUtils::getInt(QStringLiteral("menubarIcon")));
}

void QPreferencesDialog::createComboFans()
{
    ui.comboFan->addItem(blankIcon(), QString());
    const int nFans = m_pFanControl ? m_pFanControl->fanCount() : 0;
    for (int i = 0; i < nFans; ++i) {
        if (FanInfo* pFan = m_pFanControl->GetFan(i))
            ui.comboFan->addItem(FanInfo::GetFanIconByType(pFan->GetType(), false, false),
                                 pFan->GetName());
    }
    ui.comboFan->setCurrentIndex(0);
    const int nTrayFan = PreferenceUtils::getInt(QStringLiteral("trayFan"));
    if (nTrayFan != -1 && nTrayFan + 1 < ui.comboFan->count())
        ui.comboFan->setCurrentIndex(nTrayFan + 1);
}

void QPreferencesDialog::createComboSensors()
{
    const QSignalBlocker blocker(ui.comboSensor);
    ui.comboSensor->addItem(blankIcon(), QString());
    if (m_pFanControl) {
        for (QTempSensor* pSensor : m_pFanControl->sensors())
            ui.comboSensor->addItem(FanInfo::GetFanIconByType(pSensor->GetFanType(), true, false),
                                    pSensor->GetDisplayName(), pSensor->GetKey());
    }
    ui.comboSensor->setCurrentIndex(0);
    // A sensor that is gone shows None; the stored key stays until the user picks another.
    const QString key = PreferenceUtils::getString(QStringLiteral("traySensor"));
    const int nIndex = key.isEmpty()
                           ? -1
                           : ui.comboSensor->findData(key, Qt::UserRole,
                                                      Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (nIndex > 0)
        ui.comboSensor->setCurrentIndex(nIndex);
}

// A language as its speakers name it; a language file the program does not know by its file name.
QString QPreferencesDialog::nativeLanguageName(const QString& language)
{
    static const char* const kNames[][2] = {
        {"English", "English"},
        {"German", "Deutsch"},
        {"Russian", "\u0420\u0443\u0441\u0441\u043a\u0438\u0439"}};
    for (const auto& names : kNames) {
        if (language == QLatin1String(names[0]))
            return QString::fromUtf8(names[1]);
    }
    return language;
}

void QPreferencesDialog::FillLanguages()
{
    QStringList languages = g_pLocale ? g_pLocale->GetLanguagesList() : QStringList();
    // English is built in: it is offered even when the languages folder has no file for it.
    if (g_pLocale && !languages.contains(QLatin1String(kEnglish))) {
        languages.append(QLatin1String(kEnglish));
        languages.sort(Qt::CaseInsensitive);
    }
    for (const QString& language : languages)
        ui.comboLanguage->addItem(QLanguageLoader::iconFromLanguage(language),
                                  nativeLanguageName(language), language);
    const int nCurrent = g_pLocale ? ui.comboLanguage->findData(g_pLocale->GetLanguageName()) : -1;
    if (nCurrent >= 0)
        ui.comboLanguage->setCurrentIndex(nCurrent);
}

void QPreferencesDialog::applyLanguage()
{
    setWindowTitle(textOf("PreferencesWindow/title"));
    ui.labelLanguage->setText(textOf("PreferencesWindow/staticLanguage"));
    ui.checkAutostart->setText(textOf("PreferencesWindow/checkSystemStart"));
    ui.checkFahrenheit->setText(textOf("PreferencesWindow/checkFahrenheit"));
    ui.checkPrecise->setText(textOf("PreferencesWindow/checkPrecise"));
    ui.checkLog->setText(textOf("PreferencesWindow/checkLog"));
    ui.checkGiveBack->setText(textOf("PreferencesWindow/checkGiveBack"));
    ui.labelBrowseLog->setText(
        QStringLiteral("<a href='browse'>%1</a>").arg(textOf("PreferencesWindow/browseLog")));
    ui.labelTranslate->setText(QStringLiteral("<a href=\"translate\">%1</a>")
                                   .arg(textOf("PreferencesWindow/linkTranslate")));
    const QString pad = QStringLiteral("  ");
    m_pButtonClose->setText(pad + textOf("Common/buttonClose") + pad);
    ui.labelSensor->setText(textOf("PreferencesWindow/staticSensor"));
    ui.labelFan->setText(textOf("PreferencesWindow/staticFan"));
    ui.labelIcon->setText(textOf("PreferencesWindow/staticIcon"));
    ui.staticCelsius->setText(textOf("PreferencesWindow/staticCelsiusOnlyOnWindows"));
    const QString none = textOf("PreferencesWindow/comboOptionNone");
    ui.comboSensor->setItemText(0, none);
    ui.comboFan->setItemText(0, none);
    ui.comboIcon->setItemText(0, none);
    ui.comboIcon->setItemText(1, textOf("PreferencesWindow/comboIconOptionShow"));
    ui.comboIcon->setItemText(2, textOf("PreferencesWindow/comboIconOptionShowBW"));
    ui.labelTray->setText(
        QStringLiteral("<b>%1</b>").arg(textOf("PreferencesWindow/groupTrayIconMac")));
    ui.labelAlarmCpuGpu->setText(textOf("PreferencesWindow/staticAlarmCpuGpu"));
    ui.labelAlarmOther->setText(textOf("PreferencesWindow/staticAlarmOther"));
}

void QPreferencesDialog::showAlarmThresholds()
{
    QOverheatWatch watch;
    watch.loadThresholds();
    const std::pair<QSpinBox*, int> rows[] = {{ui.spinAlarmCpuGpu, watch.cpuGpuCelsius()},
                                              {ui.spinAlarmOther, watch.otherCelsius()}};
    for (auto [pSpin, nCelsius] : rows) {
        const QSignalBlocker blocker(pSpin); // showing a value stores nothing
        pSpin->setRange(getTemperatureValueForCurrentScale(QOverheatWatch::kLowestAlarmCelsius),
                        getTemperatureValueForCurrentScale(QOverheatWatch::kHighestAlarmCelsius));
        pSpin->setSuffix(QLatin1Char(' ') + getTemperatureScaleSymbol());
        pSpin->setValue(getTemperatureValueForCurrentScale(nCelsius));
    }
}

// --- The hidden log option ------------------------------------------------------------------

void QPreferencesDialog::enableLKeyHook()
{
    for (QObject* pChild : children()) {
        if (pChild->isWidgetType())
            pChild->installEventFilter(this);
    }
}

bool QPreferencesDialog::eventFilter(QObject* pObject, QEvent* pEvent)
{
    if (pEvent->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(pEvent)->key() == Qt::Key_L &&
        ui.checkLog->isHidden()) {
        setFixedSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        ui.checkLog->show();
        ui.checkLog->setChecked(true);
        ui.labelBrowseLog->show();
        if (layout())
            layout()->update();
        return true;
    }
    return QDialog::eventFilter(pObject, pEvent);
}

// --- Menu-bar display -----------------------------------------------------------------------

bool QPreferencesDialog::keepMenuBarNotEmpty(int nChangedIndex)
{
    if (nChangedIndex != 0 || ui.comboSensor->currentIndex() > 0 ||
        ui.comboFan->currentIndex() > 0 || ui.comboIcon->currentIndex() > 0)
        return false;
    ui.comboIcon->setCurrentIndex(1);
    return true;
}

void QPreferencesDialog::OnSensorTrayChanged(int index)
{
    keepMenuBarNotEmpty(index);
    const QString key =
        index > 0 ? ui.comboSensor->itemData(index, Qt::UserRole).toString() : QString();
    PreferenceUtils::setString(QStringLiteral("traySensor"), key);
    resetTrayIcon();
}

void QPreferencesDialog::OnMacFanChanged(int index)
{
    keepMenuBarNotEmpty(index);
    PreferenceUtils::setInt(QStringLiteral("trayFan"), index >= 1 ? index - 1 : -1);
    resetTrayIcon();
}

void QPreferencesDialog::OnMacTrayIconChanged(int index)
{
    // The change to Show re-enters this slot and is stored then.
    if (keepMenuBarNotEmpty(index))
        return;
    PreferenceUtils::setInt(QStringLiteral("menubarIcon"), index);
    resetTrayIcon();
}

// --- Other settings -------------------------------------------------------------------------

void QPreferencesDialog::OnAutoStartChanged(bool bChecked)
{
    QThermoraApp::toggleAutoStart(bChecked);
    // The box shows what really happened to the login item.
    const QSignalBlocker blocker(ui.checkAutostart);
    ui.checkAutostart->setChecked(QThermoraApp::isAutoStart());
}

void QPreferencesDialog::OnTempScaleChanged(bool)
{
    PreferenceUtils::setInt(QStringLiteral("Fahrenheit"), ui.checkFahrenheit->isChecked() ? 1 : 0);
    showAlarmThresholds();
    if (QFanControlMainWindow* pWindow = mainWindow()) {
        pWindow->updatePreferences();
        pWindow->resetTrayIcon();
    }
}

void QPreferencesDialog::OnPreciseChanged(bool)
{
    PreferenceUtils::setInt(QStringLiteral("PreciseTemperature"),
                            ui.checkPrecise->isChecked() ? 1 : 0);
    resetTrayIcon();
}

void QPreferencesDialog::OnLogToggle(bool bChecked)
{
    PreferenceUtils::setInt(QStringLiteral("EnableLog"), bChecked ? 1 : 0);
    // Switching on takes effect at the next start; off at once.
    if (!bChecked)
        QsLogging::Logger::instance().setLoggingLevel(QsLogging::OffLevel);
}

void QPreferencesDialog::OnGiveBackToggle(bool bChecked)
{
    PreferenceUtils::setInt(QLatin1String(SmcGiveBackUtils::kGiveBackSetting), bChecked ? 1 : 0);
    // At once: switched on, the fans are given back however the program ends from now on.
    SmcGiveBackUtils::followSetting(QCoreServices::preferences());
}

void QPreferencesDialog::OnAlarmThresholdChanged()
{
    PreferenceUtils::setInt(QLatin1String(QOverheatWatch::kCpuGpuSetting),
                            getCelsiusTemperatureFromValue(ui.spinAlarmCpuGpu->value()));
    PreferenceUtils::setInt(QLatin1String(QOverheatWatch::kOtherSetting),
                            getCelsiusTemperatureFromValue(ui.spinAlarmOther->value()));
}

void QPreferencesDialog::OnLinkActivated(const QString& link)
{
    if (link == QLatin1String("translate")) {
        QUrl url{QLatin1String(kTranslatePage)};
        url.setQuery(QStringLiteral("ref=%1").arg(QLatin1String(kReferrer)));
        QDesktopServices::openUrl(url);
    } else if (link == QLatin1String("browse")) {
        FileSystemHelpers::BrowseLocalFile(QsLogging::defaultLogPath(), true);
    }
}

void QPreferencesDialog::OnLanguageChanged(int index)
{
    if (!g_pLocale)
        return;
    const QString language = index >= 0 ? ui.comboLanguage->itemData(index).toString() : QString();
    if (!language.isEmpty() && language != g_pLocale->GetLanguageName())
        g_pLocale->LoadLanguage(language + QStringLiteral(".xml"));
    PreferenceUtils::setString(QStringLiteral("InterfaceLanguage"),
                               g_pLocale->GetLanguageNameRaw());
    if (QFanControlMainWindow* pWindow = mainWindow())
        pWindow->updatePreferences();
    applyLanguage();
}

// --- Main window ----------------------------------------------------------------------------

QFanControlMainWindow* QPreferencesDialog::mainWindow() const
{
    QThermoraApp* pApp = QThermoraApp::instance();
    if (pApp && pApp->mainWindow())
        return pApp->mainWindow();
    return qobject_cast<QFanControlMainWindow*>(parentWidget());
}

void QPreferencesDialog::resetTrayIcon() const
{
    if (QFanControlMainWindow* pWindow = mainWindow())
        pWindow->resetTrayIcon();
}
