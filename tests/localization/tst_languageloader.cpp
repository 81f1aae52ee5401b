#include "localization/LanguageFileHelpers.h"
#include "localization/QLanguageLoader.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const char* const kBuiltIn = "/Ready/languages/English.xml";

QByteArray document(const QByteArray& body)
{
    return "<?xml version=\"1.0\"?>\n<LanguageStrings version=\"1\">" + body + "</LanguageStrings>";
}

} // namespace

class TestLanguageLoader : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void keyWalk_data();
    void keyWalk();
    void load_data();
    void load();
    void languagesListAndFlags();

private:
    void write(const QString& name, const QByteArray& bytes);
    std::unique_ptr<QTemporaryDir> m_pFolder;
    std::unique_ptr<QLanguageLoader> m_pLoader;
};

void TestLanguageLoader::init()
{
    m_pFolder.reset(new QTemporaryDir);
    m_pLoader.reset(new QLanguageLoader(kBuiltIn));
    m_pLoader->setLanguagesFolder(m_pFolder->path());
}

void TestLanguageLoader::write(const QString& name, const QByteArray& bytes)
{
    QFile file(m_pFolder->filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

// What one file puts into the table. An empty key checks that the file fails to load and
// changes nothing; text "-" means the key is absent.
void TestLanguageLoader::keyWalk_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");

    QTest::newRow("section/entry") << document("<S><e>Fan</e></S>") << "S/e"
                                   << "Fan";
    QTest::newRow("nested") << document("<A><B><leaf>deep</leaf></B></A>") << "A/B/leaf"
                            << "deep";
    QTest::newRow("under the root") << document("<top>alone</top>") << "top"
                                    << "alone";
    QTest::newRow("other root") << QByteArray("<Other><S><e>x</e></S></Other>") << "S/e"
                                << "x";
    QTest::newRow("root not in key") << QByteArray("<R><S><e>x</e></S></R>") << "R/S/e"
                                     << "-";
    QTest::newRow("comment") << document("<S><!-- <e>old</e> --><f>new</f></S>") << "S/e"
                             << "-";
    QTest::newRow("first text only")
        << document("<S><e><!-- c -->one<!-- c -->two</e></S>") << "S/e"
        << "one";
    QTest::newRow("entities") << document("<S><e>&lt;b&gt; &amp; &quot;&apos; &#65;&#x42;</e></S>")
                              << "S/e"
                              << "<b> & \"' AB";
    QTest::newRow("bare ampersands")
        << document("<S><e>black & white &foo; &#X41; &#0; &#65</e></S>") << "S/e"
        << "black & white &foo; &#X41; &#0; &#65";
    QTest::newRow("CDATA") << document("<S><e><![CDATA[a &amp; & b]]></e></S>") << "S/e"
                           << "a &amp; & b";
    QTest::newRow("backslash n") << document("<S><e> one\\ntwo&#92;n </e></S>") << "S/e"
                                 << " one\ntwo\n ";
    QTest::newRow("empty entry") << document("<S><e/></S>") << "S/e"
                                 << "";
    QTest::newRow("entry with child") << document("<S><e>t<sub>in</sub></e></S>") << "S/e"
                                      << "-";
    QTest::newRow("later wins") << document("<S><e>1</e><e>2</e></S>") << "S/e"
                                << "2";
    QTest::newRow("invalid UTF-8")
        << document("<S><e>a\xFF</e></S>") << "S/e" << QString("a") + QChar(0xFFFD);
    QTest::newRow("NUL cuts the rest")
        << document("<S><e>kept</e></S>") + QByteArray("\0<<", 3) << "S/e"
        << "kept";
    QTest::newRow("missing file") << QByteArray() << ""
                                  << "";
    QTest::newRow("unclosed") << QByteArray("<R><S><e>text</e></S>") << ""
                              << "";
    QTest::newRow("only a comment") << QByteArray("<!-- nothing -->") << ""
                                    << "";
    QTest::newRow("NUL first") << QByteArray("\0<R><e>x</e></R>", 16) << ""
                               << "";
}

void TestLanguageLoader::keyWalk()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, key);
    QFETCH(QString, text);

    if (!file.isNull())
        write("Test.xml", file);
    QVERIFY(m_pLoader->LoadLanguage("English.xml"));
    const QHash<QString, QString> english = m_pLoader->stringTable();
    QCOMPARE(m_pLoader->LoadLanguage("Test.xml"), !key.isEmpty());
    QCOMPARE(m_pLoader->GetLanguageNameRaw(), key.isEmpty() ? "English.xml" : "Test.xml");
    if (key.isEmpty())
        QCOMPARE(m_pLoader->stringTable(), english);
    else
        QCOMPARE(m_pLoader->stringTable().value(key, "-"), text);
}

// The start-up load: English first, then the setting's file or the system language (German
// here); a later switch loads over the current table without English.
void TestLanguageLoader::load_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("switchTo");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("texts"); // Common/buttonClose, buttonCancel, buttonOK

    QTest::newRow("translation") << "German.xml"
                                 << ""
                                 << "German.xml"
                                 << "Zu|Abbrechen|OK";
    QTest::newRow("English never from disk") << "English.xml"
                                             << ""
                                             << "English.xml"
                                             << "Close|Cancel|OK";
    QTest::newRow("missing file") << "Missing.xml"
                                  << ""
                                  << "English.xml"
                                  << "Close|Cancel|OK";
    QTest::newRow("path in the name") << "x/German.xml"
                                      << ""
                                      << "English.xml"
                                      << "Close|Cancel|OK";
    QTest::newRow("system language") << ""
                                     << ""
                                     << "German.xml"
                                     << "Zu|Abbrechen|OK";
    QTest::newRow("switch keeps texts") << "German.xml"
                                        << "Russian.xml"
                                        << "German.xml"
                                        << "Zu|Otmena|OK";
    QTest::newRow("failed switch") << "German.xml"
                                   << "Nope.xml"
                                   << "German.xml"
                                   << "Zu|Abbrechen|OK";
}

void TestLanguageLoader::load()
{
    QFETCH(QString, setting);
    QFETCH(QString, switchTo);
    QFETCH(QString, result);
    QFETCH(QString, texts);

    QVERIFY(QDir().mkpath(m_pFolder->filePath("x")));
    write("x/German.xml", document("<Common><buttonClose>x</buttonClose></Common>"));
    write("German.xml", document("<Common><buttonClose>Zu</buttonClose>"
                                 "<buttonCancel>Abbrechen</buttonCancel></Common>"));
    write("Russian.xml", document("<Common><buttonCancel>Otmena</buttonCancel></Common>"));
    write("English.xml", document("<Common><buttonClose>from disk</buttonClose></Common>"));
    QCOMPARE(m_pLoader->load(setting), result);
    const QString current = m_pLoader->LoadLanguage(switchTo) ? switchTo : result;
    QCOMPARE(m_pLoader->GetLanguageName() + ".xml", current);
    const QStringList keys{"Common/buttonClose", "Common/buttonCancel", "Common/buttonOK"};
    QStringList actual;
    for (const QString& key : keys)
        actual << LocalizationHelpers::text(key);
    QCOMPARE(actual.join('|'), texts);
    QCOMPARE(m_pLoader->GetString("Common/noSuchKey"), QString("Common/noSuchKey"));
}

void TestLanguageLoader::languagesListAndFlags()
{
    for (const char* name : {"russian.xml", "German.xml", "Upper.XML", "English.xml", "A.xml.bak"})
        write(name, "x");
    QVERIFY(QDir(m_pFolder->path()).mkdir("Folder.xml"));
    QCOMPARE(m_pLoader->GetLanguagesList(), QStringList({"English", "German", "russian"}));
    m_pLoader->setLanguagesFolder(m_pFolder->filePath("none"));
    QCOMPARE(m_pLoader->GetLanguagesList(), QStringList());

    // Without a loader every text is its key; with a built-in file that is missing, too.
    m_pLoader.reset(new QLanguageLoader("/Ready/languages/Nothing.xml"));
    QCOMPARE(m_pLoader->load("English.xml"), QString("English.xml"));
    QCOMPARE(LocalizationHelpers::text("Common/buttonOK"), QString("Common/buttonOK"));
    m_pLoader.reset();
    QCOMPARE(LocalizationHelpers::text("Common/buttonOK"), QString("Common/buttonOK"));

    QCOMPARE(LanguageFileHelpers::iconNameForLanguage("Chinese", QLocale::China),
             "Chinese_Simplified");
    QCOMPARE(LanguageFileHelpers::iconNameForLanguage("English", QLocale::UnitedKingdom),
             "English_UK");
    QCOMPARE(LanguageFileHelpers::iconNameForLanguage("English", QLocale::Ireland), "English");
    QCOMPARE(LanguageFileHelpers::languageFileForLocale(QLocale("pt_BR")), "Portuguese.xml");
    QVERIFY(QLanguageLoader::iconFromLanguage("Klingon").isNull());
    const QString flags = "Arabic Armenian Brazilian Bulgarian Catalan Chinese Chinese_Traditional "
                          "Croatian Czech Danish Dutch English English_UK Finnish French Georgian "
                          "German Greek Hebrew Hungarian Indonesian Italian Japanese Korean "
                          "Lithuanian Persian Polish Portuguese Romanian Russian Serbian Slovak "
                          "Slovenian Spanish Swedish Turkish Ukrainian Vietnamese";
    for (const QString& language : flags.split(' '))
        QVERIFY2(!QLanguageLoader::iconFromLanguage(language).pixmap(24, 16).isNull(),
                 qPrintable(language));
}

int main(int argc, char* argv[])
{
    // A fixed system language for the rows that detect it (read once, at first use).
    qputenv("LC_ALL", "de_DE.UTF-8");
    QApplication app(argc, argv);
    TestLanguageLoader test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_languageloader.moc"
