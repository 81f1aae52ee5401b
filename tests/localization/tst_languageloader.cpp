#include "localization/LanguageFileHelpers.h"
#include "localization/QLanguageLoader.h"
#include "support/QMemoryLogDestination.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const char* const kBuiltIn = "/Ready/languages/English.xml";

void writeFile(const QString& folder, const QString& name, const QByteArray& bytes)
{
    QFile file(QDir(folder).filePath(name));
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.fileName()));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

QByteArray document(const QByteArray& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<LanguageStrings version=\"1\">" + body +
           "</LanguageStrings>\n";
}

// Every text a translation must carry through unchanged: placeholders, line breaks, and the
// named links the code resolves.
QStringList invariants(const QString& text)
{
    QStringList found;
    static const QRegularExpression pattern(QStringLiteral("%\\d+|href='[^']*'|<br/>|\\n"));
    auto it = pattern.globalMatch(text);
    while (it.hasNext())
        found << it.next().captured();
    found.sort();
    return found;
}

} // namespace

class TstLanguageLoader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void keyWalk_data();
    void keyWalk();
    void malformedFileKeepsTable_data();
    void malformedFileKeepsTable();
    void startupLoad_data();
    void startupLoad();
    void runtimeSwitchKeepsEarlierTranslation();
    void autoDetect_data();
    void autoDetect();
    void missingLoaderFallsBackToKey();
    void languagesList();
    void flagIcons_data();
    void flagIcons();
    void builtInEnglish_data();
    void builtInEnglish();
    void shippedTranslations_data();
    void shippedTranslations();

private:
    std::unique_ptr<QTemporaryDir> m_pFolder;
    QSharedPointer<QMemoryLogDestination> m_pLog;
};

void TstLanguageLoader::initTestCase()
{
    m_pLog = QSharedPointer<QMemoryLogDestination>::create();
    QsLogging::Logger::instance().addDestination(m_pLog);
}

void TstLanguageLoader::init()
{
    m_pFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_pFolder->isValid());
}

void TstLanguageLoader::keyWalk_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("text");

    QTest::newRow("section/entry") << document("<MainWindow><listColumnFan>Fan</listColumnFan>"
                                               "</MainWindow>")
                                   << "MainWindow/listColumnFan" << true << "Fan";
    QTest::newRow("nested sections")
        << document("<A><B><C><leaf>deep</leaf></C></B></A>") << "A/B/C/leaf" << true << "deep";
    QTest::newRow("one-part key under root")
        << document("<top>alone</top>") << "top" << true << "alone";
    QTest::newRow("root name not part of key")
        << QByteArray("<Other><S><e>x</e></S></Other>") << "Other/S/e" << false << QString();
    QTest::newRow("other root name loads the same")
        << QByteArray("<Other lang=\"de\"><S><e>x</e></S></Other>") << "S/e" << true << "x";
    QTest::newRow("commented-out entry ignored")
        << document("<S><!-- <e>old</e> --><f>new</f></S>") << "S/e" << false << QString();
    QTest::newRow("comment before text")
        << document("<S><e><!-- note -->text</e></S>") << "S/e" << true << "text";
    QTest::newRow("first text only")
        << document("<S><e>first<!-- c -->second</e></S>") << "S/e" << true << "first";
    QTest::newRow("entities") << document(
                                     "<S><e>&lt;b&gt; &amp; &quot;q&quot; &apos;a&apos;</e></S>")
                              << "S/e" << true << "<b> & \"q\" 'a'";
    QTest::newRow("numeric references") << document("<S><e>&#65;&#x42;&#x44F;&#1103;</e></S>")
                                        << "S/e" << true << QString::fromUtf8("AB\xD1\x8F\xD1\x8F");
    QTest::newRow("bare ampersand") << document("<S><e>Show (black & white)</e></S>") << "S/e"
                                    << true << "Show (black & white)";
    QTest::newRow("ampersands that start no entity")
        << document("<S><e>& && &foo; &amp &LT; &#X41;</e></S>") << "S/e" << true
        << "& && &foo; &amp &LT; &#X41;";
    QTest::newRow("broken numeric references stay literal")
        << document("<S><e>a &#; b &#0; c &#xD800; d &#99999999999; e &#65 f</e></S>") << "S/e"
        << true << "a &#; b &#0; c &#xD800; d &#99999999999; e &#65 f";
    QTest::newRow("CDATA is not decoded") << document("<S><e><![CDATA[a &amp; <b> & c]]></e></S>")
                                          << "S/e" << true << "a &amp; <b> & c";
    QTest::newRow("ampersand in attribute")
        << document("<S note=\"R & D\"><e>ok</e></S>") << "S/e" << true << "ok";
    QTest::newRow("backslash n") << document("<S><e>one\\ntwo\\n</e></S>") << "S/e" << true
                                 << "one\ntwo\n";
    QTest::newRow("backslash from a reference")
        << document("<S><e>one&#92;ntwo</e></S>") << "S/e" << true << "one\ntwo";
    QTest::newRow("whitespace kept")
        << document("<S><e>  two  spaces </e></S>") << "S/e" << true << "  two  spaces ";
    QTest::newRow("empty entry") << document("<S><e/></S>") << "S/e" << true << "";
    QTest::newRow("entry with child becomes section")
        << document("<S><e>text<sub>inner</sub></e></S>") << "S/e/sub" << true << "inner";
    QTest::newRow("section has no text of its own")
        << document("<S><e>text<sub>inner</sub></e></S>") << "S/e" << false << QString();
    QTest::newRow("later duplicate wins")
        << document("<S><e>1</e><e>2</e></S>") << "S/e" << true << "2";
    QTest::newRow("UTF-8 text") << document("<S><e>L\xC3\xBC"
                                            "fter</e></S>")
                                << "S/e" << true
                                << QString::fromUtf8("L\xC3\xBC"
                                                     "fter");
    QTest::newRow("invalid UTF-8 replaced")
        << document("<S><e>a\xFF"
                    "b</e></S>")
        << "S/e" << true << QString(QStringLiteral("a") + QChar(0xFFFD) + QStringLiteral("b"));
    QTest::newRow("byte order mark")
        << ("\xEF\xBB\xBF" + document("<S><e>bom</e></S>")) << "S/e" << true << "bom";
    QTest::newRow("NUL cuts trailing garbage")
        << (document("<S><e>kept</e></S>") + QByteArray("\0<<<garbage", 11)) << "S/e" << true
        << "kept";
}

void TstLanguageLoader::keyWalk()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, key);
    QFETCH(bool, present);
    QFETCH(QString, text);

    writeFile(m_pFolder->path(), "Test.xml", file);
    QLanguageLoader loader(kBuiltIn);
    loader.setLanguagesFolder(m_pFolder->path());
    QVERIFY(loader.LoadLanguage(QStringLiteral("Test.xml")));
    QCOMPARE(loader.GetLanguageNameRaw(), QStringLiteral("Test.xml"));
    QCOMPARE(loader.stringTable().contains(key), present);
    if (present)
        QCOMPARE(loader.stringTable().value(key), text);
}

void TstLanguageLoader::malformedFileKeepsTable_data()
{
    QTest::addColumn<QByteArray>("file");

    QTest::newRow("missing file") << QByteArray();
    QTest::newRow("empty file") << QByteArray("", 0);
    QTest::newRow("unclosed element") << QByteArray("<R><S><e>text</e></S>");
    QTest::newRow("mismatched tags") << QByteArray("<R><S><e>text</f></S></R>");
    QTest::newRow("only a comment") << QByteArray("<!-- nothing here -->");
    QTest::newRow("only whitespace") << QByteArray("   \n  ");
    QTest::newRow("NUL inside a text") << QByteArray("<R><S><e>ab\0cd</e></S></R>", 26);
    QTest::newRow("NUL first") << QByteArray("\0<R><S><e>x</e></S></R>", 23);
    QTest::newRow("unquoted attribute") << QByteArray("<R a=1><S><e>x</e></S></R>");
    QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\xff\xfe<<>>");
    QTest::newRow("deep nesting") << QByteArray("<a>").repeated(5000);
}

void TstLanguageLoader::malformedFileKeepsTable()
{
    QFETCH(QByteArray, file);

    if (!file.isNull()) // a null row stands for no file at all
        writeFile(m_pFolder->path(), "Bad.xml", file);
    QLanguageLoader loader(kBuiltIn);
    loader.setLanguagesFolder(m_pFolder->path());
    QVERIFY(loader.LoadLanguage(QStringLiteral("English.xml")));
    const QHash<QString, QString> before = loader.stringTable();
    QsLogging::Logger::instance().waitForWrites();
    const int linesBefore = m_pLog->lines().size();

    QVERIFY(!loader.LoadLanguage(QStringLiteral("Bad.xml")));
    QsLogging::Logger::instance().waitForWrites();
    const QStringList lines = m_pLog->lines().mid(linesBefore);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().startsWith("WARN") && lines.first().contains("Bad.xml"),
             qPrintable(lines.first()));
    QCOMPARE(loader.stringTable(), before);
    QCOMPARE(loader.GetLanguageNameRaw(), QStringLiteral("English.xml"));
    QCOMPARE(loader.GetString("MainWindow/listColumnFan"), QStringLiteral("Fan"));
}

void TstLanguageLoader::startupLoad_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<bool>("germanShipped");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("fanColumn");   // translated in the German file
    QTest::addColumn<QString>("aboutButton"); // missing from the German file

    const QString german = QString::fromUtf8("L\xC3\xBC"
                                             "fter");
    QTest::newRow("translation over English")
        << "German.xml" << true << "German.xml" << german << "About...";
    QTest::newRow("English setting ignores a file on disk")
        << "English.xml" << true << "English.xml"
        << "Fan"
        << "About...";
    QTest::newRow("setting names a missing file") << "Missing.xml" << true << "English.xml"
                                                  << "Fan"
                                                  << "About...";
    QTest::newRow("setting names a broken file") << "Broken.xml" << true << "English.xml"
                                                 << "Fan"
                                                 << "About...";
    QTest::newRow("no setting, system language shipped")
        << "" << true << "German.xml" << german << "About...";
    QTest::newRow("no setting, system language not shipped") << "" << false << ""
                                                             << "Fan"
                                                             << "About...";
}

void TstLanguageLoader::startupLoad()
{
    QFETCH(QString, setting);
    QFETCH(bool, germanShipped);
    QFETCH(QString, result);
    QFETCH(QString, fanColumn);
    QFETCH(QString, aboutButton);

    const QString folder = m_pFolder->path();
    if (germanShipped)
        writeFile(folder, "German.xml",
                  document("<MainWindow><listColumnFan>L\xC3\xBC"
                           "fter</listColumnFan></MainWindow>"));
    writeFile(folder, "English.xml",
              document("<MainWindow><listColumnFan>from disk</listColumnFan></MainWindow>"));
    writeFile(folder, "Broken.xml", "<R><MainWindow><listColumnFan>x</listColumnFan>");

    QLanguageLoader loader(kBuiltIn);
    loader.setLanguagesFolder(folder);
    QCOMPARE(loader.load(setting), result);
    QCOMPARE(loader.GetString("MainWindow/listColumnFan"), fanColumn);
    QCOMPARE(loader.GetString("MainWindow/buttonAbout"), aboutButton);
}

void TstLanguageLoader::runtimeSwitchKeepsEarlierTranslation()
{
    const QString folder = m_pFolder->path();
    writeFile(folder, "German.xml",
              document("<Common><buttonClose>Schlie\xC3\x9F"
                       "en</buttonClose><buttonCancel>Abbrechen</buttonCancel></Common>"));
    writeFile(folder, "Russian.xml",
              document("<Common><buttonCancel>\xD0\x9E\xD1\x82\xD0\xBC\xD0\xB5\xD0\xBD\xD0\xB0"
                       "</buttonCancel></Common>"));
    QLanguageLoader loader(kBuiltIn);
    loader.setLanguagesFolder(folder);
    QCOMPARE(loader.load("German.xml"), QStringLiteral("German.xml"));

    // Switching does not reload English first: a key the new file lacks keeps the old text.
    QVERIFY(loader.LoadLanguage(QStringLiteral("Russian.xml")));
    QCOMPARE(loader.GetLanguageName(), QStringLiteral("Russian"));
    QCOMPARE(loader.GetString("Common/buttonCancel"),
             QString::fromUtf8("\xD0\x9E\xD1\x82\xD0\xBC"
                               "\xD0\xB5\xD0\xBD\xD0\xB0"));
    QCOMPARE(loader.GetString("Common/buttonClose"), QString::fromUtf8("Schlie\xC3\x9F"
                                                                       "en"));
    QCOMPARE(loader.GetString("Common/buttonOK"), QStringLiteral("OK"));
}

void TstLanguageLoader::autoDetect_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("fileName"); // the file the locale asks for
    QTest::addColumn<bool>("shipped");

    QTest::newRow("German, Germany") << "de_DE"
                                     << "German.xml" << true;
    QTest::newRow("German, Switzerland") << "de_CH"
                                         << "German.xml" << true;
    QTest::newRow("Russian") << "ru_RU"
                             << "Russian.xml" << true;
    QTest::newRow("English, UK: built in") << "en_GB"
                                           << "English.xml" << true;
    QTest::newRow("French: not shipped") << "fr_FR"
                                         << "French.xml" << false;
    QTest::newRow("Chinese, Taiwan") << "zh_TW"
                                     << "Chinese.xml" << false;
    QTest::newRow("Portuguese, Brazil") << "pt_BR"
                                        << "Portuguese.xml" << false;
    QTest::newRow("Norwegian") << "nb_NO"
                               << "Norwegian Bokmal.xml" << false;
    QTest::newRow("C locale") << "C"
                              << "C.xml" << false;
}

void TstLanguageLoader::autoDetect()
{
    QFETCH(QString, locale);
    QFETCH(QString, fileName);
    QFETCH(bool, shipped);

    QCOMPARE(LanguageFileHelpers::languageFileForLocale(QLocale(locale)), fileName);

    const QString folder = m_pFolder->path();
    writeFile(folder, "German.xml", document("<S><e>de</e></S>"));
    writeFile(folder, "Russian.xml", document("<S><e>ru</e></S>"));
    QLanguageLoader loader(kBuiltIn);
    loader.setLanguagesFolder(folder);
    QCOMPARE(loader.AutoDetectLanguage(QLocale(locale)), shipped ? fileName : QString());
    QCOMPARE(loader.GetLanguageNameRaw(), shipped ? fileName : QString());
}

void TstLanguageLoader::missingLoaderFallsBackToKey()
{
    const QString key = QStringLiteral("MainWindow/buttonAbout");
    {
        QLanguageLoader loader(kBuiltIn);
        QCOMPARE(g_pLocale, &loader);
        QCOMPARE(LocalizationHelpers::text(key), key); // nothing loaded yet
        loader.load(QStringLiteral("English.xml"));
        QCOMPARE(LocalizationHelpers::text(key), QStringLiteral("About..."));
        QCOMPARE(loader.GetString("MainWindow/noSuchKey"), QStringLiteral("MainWindow/noSuchKey"));
    }
    QCOMPARE(g_pLocale, nullptr);
    QCOMPARE(LocalizationHelpers::text(key), key);

    // A built-in resource that is not there: every text shows as its key.
    QLanguageLoader broken(QStringLiteral("/Ready/languages/Nothing.xml"));
    broken.setLanguagesFolder(m_pFolder->path());
    QCOMPARE(broken.load(QString()), QString());
    QCOMPARE(broken.GetString(key), key);
}

void TstLanguageLoader::languagesList()
{
    const QString folder = m_pFolder->path();
    for (const char* name :
         {"russian.xml", "German.xml", "Upper.XML", "notes.txt", "English.xml", "Arabic.xml.bak"})
        writeFile(folder, name, document("<S><e>x</e></S>"));
    QVERIFY(QDir(folder).mkdir("Folder.xml"));

    QLanguageLoader loader(kBuiltIn);
    loader.setLanguagesFolder(folder);
    QCOMPARE(loader.GetLanguagesList(),
             QStringList({"English", "German", "russian"})); // sorted ignoring case

    QVERIFY(QFile::remove(QDir(folder).filePath("English.xml")));
    QCOMPARE(loader.GetLanguagesList(), QStringList({"German", "russian"}));

    loader.setLanguagesFolder(QDir(folder).filePath("does-not-exist"));
    QCOMPARE(loader.GetLanguagesList(), QStringList());
}

void TstLanguageLoader::flagIcons_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("country");
    QTest::addColumn<QString>("iconName");
    QTest::addColumn<bool>("drawn");

    QTest::newRow("English, US") << "English" << int(QLocale::UnitedStates) << "English" << true;
    QTest::newRow("English, UK") << "English" << int(QLocale::UnitedKingdom) << "English_UK"
                                 << true;
    QTest::newRow("German") << "German" << int(QLocale::UnitedKingdom) << "German" << true;
    QTest::newRow("Russian") << "Russian" << int(QLocale::Germany) << "Russian" << true;
    QTest::newRow("Chinese") << "Chinese" << int(QLocale::China) << "Chinese_Simplified" << false;
    QTest::newRow("unknown") << "Klingon" << int(QLocale::AnyCountry) << "Klingon" << false;
}

void TstLanguageLoader::flagIcons()
{
    QFETCH(QString, language);
    QFETCH(int, country);
    QFETCH(QString, iconName);
    QFETCH(bool, drawn);

    QCOMPARE(LanguageFileHelpers::iconNameForLanguage(language, QLocale::Country(country)),
             iconName);
    const QIcon icon = QLanguageLoader::iconFromLanguage(iconName);
    QCOMPARE(icon.isNull(), !drawn);
    if (drawn)
        QVERIFY(!icon.pixmap(QSize(24, 16)).isNull());
}

void TstLanguageLoader::builtInEnglish_data()
{
    // The texts whose file form differs from what is shown: entities, the bare ampersand, links.
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");

    QTest::newRow("bare ampersand") << "PreferencesWindow/comboIconOptionShowBW"
                                    << "Show (black & white)";
    QTest::newRow("escaped ampersand") << "MainWindow/statusMoreApps"
                                       << "%1 version & more apps";
    QTest::newRow("line break markup")
        << "FanControlDialog/statusWarning"
        << "Something is wrong - min/max fan values are equal (%1).<br/> Please make sure to "
           "uninstall any other fan controlling software and reset SMC.";
    QTest::newRow("named link") << "NewVersionDialog/staticNewVersion"
                                << "New version of the program is available. Please visit our "
                                   "<a href='website'>website</a> for the newest version.";
    QTest::newRow("apostrophe") << "MainWindow/statusNonAppleFSWarningMac"
                                << "Read-only mode: non-Apple file system detected (%1). Try "
                                   "moving the app to '/Applications'?";
}

void TstLanguageLoader::builtInEnglish()
{
    QFETCH(QString, key);
    QFETCH(QString, text);

    QLanguageLoader loader(kBuiltIn);
    loader.setLanguagesFolder(m_pFolder->path()); // empty: the built-in file is not on disk
    QCOMPARE(loader.load(QStringLiteral("English.xml")), QStringLiteral("English.xml"));
    QCOMPARE(loader.GetString(key), text);

    // Every key the program asks for, and nothing else.
    static const char* const sections[][2] = {
        {"MainWindow",
         "staticFanListHeader staticSensorsListHeader listColumnFan listColumnMinRPM "
         "listColumnCurrentRPM listColumnMaxRPM listColumnControl listColumnSensor "
         "listColumnSensorValue listSeparatorDrives popupMenuItemControl popupMenuItemReset "
         "fanControlAutomatic fanControlConstant fanControlSensor fanControlUnknown "
         "buttonMinimize buttonMinimizeMac buttonPreferences buttonAbout statusMoreApps "
         "statusNonAppleFSWarningMac messageUnableToAccessSMC"},
        {"FanControlDialog", "title radioAutomatic radioConstant radioSensor staticIncrease "
                             "staticMax statusWarning"},
        {"TrayMenu", "itemShow itemWebsite itemCheckForUpdates itemExit itemSensorBased"},
        {"PreferencesWindow",
         "title staticLanguage checkSystemStart checkFahrenheit checkPrecise groupTrayIcon "
         "groupTrayIconMac checkLog browseLog staticSensor staticFan staticIcon "
         "comboIconOptionShow comboIconOptionShowBW comboOptionNone staticCelsiusOnlyOnWindows"},
        {"AboutDialog",
         "title staticTechnicalSupport staticWarning buttonCopyTechInfo copyInfoMessage"},
        {"NewVersionDialog", "title staticNewVersion"},
        {"Common", "buttonClose buttonOK buttonCancel buttonContinue"},
    };
    QSet<QString> expected;
    for (const auto& section : sections) {
        for (const QString& entry : QString::fromLatin1(section[1]).split(' '))
            expected.insert(QString::fromLatin1(section[0]) + '/' + entry);
    }
    const QStringList actualKeys = loader.stringTable().keys();
    QCOMPARE(QSet<QString>(actualKeys.begin(), actualKeys.end()), expected);
    for (const QString& k : expected)
        QVERIFY2(!loader.stringTable().value(k).isEmpty(), qPrintable(k));
}

void TstLanguageLoader::shippedTranslations_data()
{
    QTest::addColumn<QString>("fileName");

    const QDir folder(TestSupport::sourceDir() + "/src/resources/languages");
    const QStringList files = folder.entryList({"*.xml"}, QDir::Files, QDir::Name);
    QVERIFY2(files.contains("English.xml"), qPrintable(folder.path()));
    for (const QString& file : files) {
        if (file != "English.xml")
            QTest::newRow(qPrintable(file)) << file;
    }
}

void TstLanguageLoader::shippedTranslations()
{
    QFETCH(QString, fileName);

    QLanguageLoader english(kBuiltIn);
    QVERIFY(english.LoadLanguage(QStringLiteral("English.xml")));
    QLanguageLoader translation(kBuiltIn);
    translation.setLanguagesFolder(TestSupport::sourceDir() + "/src/resources/languages");
    QVERIFY(translation.LoadLanguage(fileName));

    const QHash<QString, QString>& reference = english.stringTable();
    const QHash<QString, QString>& translated = translation.stringTable();
    QStringList referenceKeys = reference.keys();
    QStringList translatedKeys = translated.keys();
    referenceKeys.sort();
    translatedKeys.sort();
    QCOMPARE(translatedKeys, referenceKeys);

    for (auto it = reference.cbegin(); it != reference.cend(); ++it) {
        const QString text = translated.value(it.key());
        QVERIFY2(!text.isEmpty(), qPrintable(it.key()));
        QVERIFY2(invariants(text) == invariants(it.value()), qPrintable(it.key() + ": " + text));
    }
    QVERIFY(!QLanguageLoader::iconFromLanguage(fileName.chopped(4)).isNull());
}

int main(int argc, char* argv[])
{
    // A fixed system language for the rows that detect it (read once, at first use).
    qputenv("LC_ALL", "de_DE.UTF-8");
    QApplication app(argc, argv);
    TstLanguageLoader test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_languageloader.moc"
