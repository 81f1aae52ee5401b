#pragma once

#include <QLocale>
#include <QMap>
#include <QString>

// The update checker's own texts, English with a built-in Russian set, independent of the
// language files.
class QUpdateTexts
{
public:
    enum String
    {
        ReleasedOn = 0,
        NewVersionAvailable,
        NowAvailable,
        SoftwareUpdate,
        ReleaseNotes,
        RemindMeLater,
        SkipThisVersion,
        InstallUpdate,
        CheckAutomatically,
        UpToDate,
        NewestVersion,
        DownloadError,
        FeedError,
        Updating,
        Cancel,
        InstallAndRelaunch,
        Downloading,
        Extracting,
        ReadyToInstall,
        SizeOfTotal,
        UnitBytes,
        UnitKilobytes,
        UnitMegabytes,
        UnitGigabytes,
        Count
    };

    // Fills the English texts, then the Russian ones over them when enabled and the language
    // is Russian.
    void update(QLocale::Language language = QLocale::system().language());
    void disableLocalization() { m_bEnabled = false; }
    QString get(int nString) const { return m_Strings.value(nString); }

private:
    bool m_bEnabled = true;
    QMap<int, QString> m_Strings;
};
