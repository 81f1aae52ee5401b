#include "localization/LanguageFileHelpers.h"
#include "localization/QLanguageLoader.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

class TestLanguageLoader : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_pFolder;
    std::unique_ptr<QLanguageLoader> m_pLoader;

    // A body that starts with "!" is written as it is, others in a root; "\0" is a NUL byte.
    void write(const QString& name, QString body)
    {
        QByteArray bytes = body.startsWith('!') ? body.mid(1).toUtf8()
                                                : "<?xml version=\"1.0\"?>\n<LanguageStrings "
                                                  "version=\"1\">" +
                                                      body.toUtf8() + "</LanguageStrings>";
        bytes.replace("\\0", QByteArray(1, '\0'));
        QFile file(m_pFolder->filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }

private slots:
    void init()
    {
        m_pFolder.reset(new QTemporaryDir);
        m_pLoader.reset(new QLanguageLoader("/Ready/languages/English.xml"));
        m_pLoader->setLanguagesFolder(m_pFolder->path());
    }

    // File; key; its text ("-": absent). No key: the file fails to load and changes nothing.
    void keyWalk_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("section/entry") << "<S><e>Fan</e></S>|S/e|Fan";
        QTest::newRow("nested") << "<A><B><leaf>deep</leaf></B></A>|A/B/leaf|deep";
        QTest::newRow("under the root") << "<top>alone</top>|top|alone";
        QTest::newRow("other root") << "!<Other><S><e>x</e></S></Other>|S/e|x";
        QTest::newRow("root not in key") << "!<R><S><e>x</e></S></R>|R/S/e|-";
        QTest::newRow("comment") << "<S><!-- <e>old</e> --><f>new</f></S>|S/e|-";
        QTest::newRow("first text only") << "<S><e><!-- c -->one<!-- c -->two</e></S>|S/e|one";
        QTest::newRow("entities")
            << "<S><e>&lt;b&gt;&amp;&quot;&apos;&#65;&#x42;</e></S>|S/e|<b>&\"'AB";
        QTest::newRow("bare &") << "<S><e>b & w &foo; &#X41; &#0; &#65 &#x</e></S>|S/e|b & w &foo; "
                                   "&#X41; &#0; &#65 &#x";
        QTest::newRow("CDATA") << "<S><e><![CDATA[a &amp; & b]]></e></S>|S/e|a &amp; & b";
        QTest::newRow("backslash n") << "<S><e> one\\ntwo&#92;n </e></S>|S/e| one\ntwo\n ";
        QTest::newRow("empty entry") << "<S><e/></S>|S/e|";
        QTest::newRow("entry with child") << "<S><e>t<sub>in</sub></e></S>|S/e|-";
        QTest::newRow("later wins") << "<S><e>1</e><e>2</e></S>|S/e|2";
        QTest::newRow("NUL cuts the rest") << "!<R><S><e>kept</e></S></R>\\0<<|S/e|kept";
        QTest::newRow("unclosed") << "!<R><S><e>text</e></S>||";
        QTest::newRow("only a comment") << "!<!-- nothing -->||";
        QTest::newRow("NUL first") << "!\\0<R><e>x</e></R>||";
        QTest::newRow("missing file") << "||";
    }

    void keyWalk()
    {
        QFETCH(QString, row);
        const QString key = row.section('|', 1, 1);
        if (!row.startsWith('|'))
            write("Test.xml", row.section('|', 0, 0));
        QVERIFY(m_pLoader->LoadLanguage("English.xml"));
        const QHash<QString, QString> english = m_pLoader->stringTable();
        QCOMPARE(m_pLoader->LoadLanguage("Test.xml"), !key.isEmpty());
        QCOMPARE(m_pLoader->GetLanguageNameRaw(), key.isEmpty() ? "English.xml" : "Test.xml");
        if (key.isEmpty())
            QCOMPARE(m_pLoader->stringTable(), english);
        else
            QCOMPARE(m_pLoader->stringTable().value(key, "-"), row.section('|', 2));
    }

    // Start-up loads English, then the setting's file or the system language (German here); a
    // switch loads over the table. Setting; switch; result; texts of Close, Cancel and OK.
    void load_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("translation") << "German.xml;;German.xml;Zu|Abbrechen|OK";
        QTest::newRow("English never from disk") << "English.xml;;English.xml;Close|Cancel|OK";
        QTest::newRow("missing file") << "Missing.xml;;English.xml;Close|Cancel|OK";
        QTest::newRow("path in the name") << "./German.xml;;English.xml;Close|Cancel|OK";
        QTest::newRow("system language") << ";;German.xml;Zu|Abbrechen|OK";
        QTest::newRow("switch keeps texts") << "German.xml;Russian.xml;German.xml;Zu|Otmena|OK";
        QTest::newRow("failed switch") << "German.xml;Nope.xml;German.xml;Zu|Abbrechen|OK";
    }

    void load()
    {
        QFETCH(QString, row);
        write("German.xml", "<Common><buttonClose>Zu</buttonClose><buttonCancel>Abbrechen"
                            "</buttonCancel></Common>");
        write("Russian.xml", "<Common><buttonCancel>Otmena</buttonCancel></Common>");
        write("English.xml", "<Common><buttonClose>from disk</buttonClose></Common>");
        const QString result = row.section(';', 2, 2);
        QCOMPARE(m_pLoader->load(row.section(';', 0, 0)), result);
        const QString switchTo = row.section(';', 1, 1);
        const QString current = m_pLoader->LoadLanguage(switchTo) ? switchTo : result;
        QCOMPARE(m_pLoader->GetLanguageName() + ".xml", current);
        QStringList texts;
        for (const char* key : {"Common/buttonClose", "Common/buttonCancel", "Common/buttonOK"})
            texts << LocalizationHelpers::text(key);
        QCOMPARE(texts.join('|'), row.section(';', 3));
        QCOMPARE(m_pLoader->GetString("Common/noSuchKey"), QString("Common/noSuchKey"));
    }

    void languagesListAndFlags()
    {
        for (const char* name :
             {"russian.xml", "German.xml", "Upper.XML", "English.xml", "A.xml.b"})
            write(name, "x");
        QVERIFY(QDir(m_pFolder->path()).mkdir("Folder.xml"));
        QCOMPARE(m_pLoader->GetLanguagesList(), QStringList({"English", "German", "russian"}));

        // Without a loader every text is its key; with a built-in file that is missing, too.
        m_pLoader.reset(new QLanguageLoader("/Ready/languages/Nothing.xml"));
        QCOMPARE(m_pLoader->load("English.xml"), QString("English.xml"));
        QCOMPARE(LocalizationHelpers::text("Common/buttonOK"), QString("Common/buttonOK"));
        m_pLoader.reset();
        QCOMPARE(LocalizationHelpers::text("Common/buttonOK"), QString("Common/buttonOK"));

        QCOMPARE(LanguageFileHelpers::iconNameForLanguage("English", QLocale::UnitedKingdom),
                 "English_UK");
        QCOMPARE(LanguageFileHelpers::iconNameForLanguage("English", QLocale::Ireland), "English");
        QVERIFY(QLanguageLoader::iconFromLanguage("Klingon").isNull());
        const QString flags =
            "Arabic Armenian Brazilian Bulgarian Catalan Chinese Chinese_Traditional "
            "Croatian Czech Danish Dutch English English_UK Finnish French Georgian "
            "German Greek Hebrew Hungarian Indonesian Italian Japanese Korean "
            "Lithuanian Persian Polish Portuguese Romanian Russian Serbian Slovak "
            "Slovenian Spanish Swedish Turkish Ukrainian Vietnamese";
        for (const QString& language : flags.split(' '))
            QVERIFY2(!QLanguageLoader::iconFromLanguage(language).pixmap(24, 16).isNull(),
                     qPrintable(language));
    }
};

int main(int argc, char* argv[])
{
    // A fixed system language for the rows that detect it (read once, at first use).
    qputenv("LC_ALL", "de_DE.UTF-8");
    QApplication app(argc, argv);
    TestLanguageLoader test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_languageloader.moc"
