#include "UpdateTestSupport.h"

#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"
#include "settings/QPreferences.h"
#include "update/QUpdateChecker.h"
#include "update/ui/QUpdateDialogPresenter.h"
#include "update/ui/QUpdateProgressDialog.h"
#include "update/ui/QUpdatesDialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <mutex>

class QRecordingPresenter : public QUpdatePresenter
{
public:
    void showUpdates(QUpdateChecker*) override { ++nUpdates; }
    void showResult(QUpdateChecker*, int nCode) override { codes << nCode; }
    int nUpdates = 0;
    QList<int> codes;
};

static QUpdateFeed feedOf(const QString& version, const QDate& date, int nItems)
{
    QUpdateFeed feed;
    feed.releases << QUpdateRelease{version, date, {}};
    for (int i = 0; i < nItems; ++i)
        feed.releases.first().addItem("fixed", QByteArray("change ") + QByteArray::number(i));
    return feed;
}

class TestUpdateChecker : public QObject
{
    Q_OBJECT
    QTemporaryDir m_Dir;
    QManualClock m_Clock;
    std::unique_ptr<FeedServer> m_pServer;
    std::unique_ptr<QPreferences> m_pPrefs;
    std::unique_ptr<QUpdateChecker> m_pChecker;
    QRecordingPresenter m_Presenter;
    const int kDay = 24 * 3600;

    QUpdateChecker* checker(const QString& path, const QString& keys = "test")
    {
        m_pChecker.reset(new QUpdateChecker(path.startsWith("file:") ? path : m_pServer->url(path),
                                            "Thermora", "1.1.8", m_pPrefs.get(), nullptr));
        m_pChecker->setLanguage("en");
        QList<QByteArray> held;
        for (const QString& key : keys.split('+', Qt::SkipEmptyParts))
            held << testKey(key);
        m_pChecker->setPublicKeys(held);
        m_pChecker->setDeadline(3000);
        m_pChecker->setPresenter(&m_Presenter);
        return m_pChecker.get();
    }
    // Runs one check and waits for its result on this thread; -1 when an update is offered.
    int check()
    {
        // The check's worker emits the result: record it under a lock, not in a signal spy.
        std::mutex mutex;
        QList<int> results;
        const auto record = [&](int nCode) {
            const std::lock_guard<std::mutex> lock(mutex);
            results << nCode;
        };
        const auto count = [&] {
            const std::lock_guard<std::mutex> lock(mutex);
            return results.size();
        };
        QUpdateChecker* pChecker = m_pChecker.get();
        const QMetaObject::Connection offered =
            connect(pChecker, &QUpdateChecker::updateAvailable, [&] { record(-1); });
        const QMetaObject::Connection done =
            connect(pChecker, &QUpdateChecker::updateNotAvailable, record);
        m_pChecker->slotCheckForUpdate();
        [&] { QTRY_VERIFY_WITH_TIMEOUT(count() == 1, 15000); }();
        disconnect(offered);
        disconnect(done);
        QCoreApplication::processEvents(); // the result's queued slot
        const std::lock_guard<std::mutex> lock(mutex);
        return results.size() == 1 ? results.at(0) : -2;
    }

private slots:
    void initTestCase()
    {
        QCoreServices::setClock(&m_Clock);
        qputenv("THERMORA_TEST_MARKER", m_Dir.filePath("marker").toUtf8());
        writeTree(m_Dir.filePath("build/thermora-1.2"), "1.2");
        const QString served = m_Dir.filePath("served");
        const QString archive = served + "/update.tar.gz";
        QDir().mkpath(served);
        QProcess::execute("tar", {"-czf", archive, "-C", m_Dir.filePath("build"), "thermora-1.2"});
        m_pServer.reset(new FeedServer(served));
        // Plain http is allowed on this machine only while the variable names such a feed.
        qputenv("THERMORA_UPDATE_FEED", m_pServer->url("/").toUtf8());
        signedRecord(served, "good", archive, "1.2");
        signedRecord(served, "other", archive, "1.2", "other");
        signedRecord(served, "unsigned", archive, "1.2", "");
        signedRecord(served, "expired", archive, "1.2", "test", 0, m_Clock.now().addSecs(-1));
        signedRecord(served, "older", archive, "1.1.7");
        signedRecord(served, "same", archive, "1.1.8");
        signedRecord(served, "short", archive, "1.2", "test", -1);
        signedRecord(served, "mislabelled", archive, "1.3");
        QFile::copy(served + "/good.rec.sig", served + "/tampered.rec.sig");
        QFile tampered(served + "/tampered.rec");
        tampered.open(QIODevice::WriteOnly);
        tampered.write(signedRecord(served, "good", archive, "1.2").record.replace("1.2", "1.3"));
        tampered.close();
        writeScript(m_Dir.filePath("missing.tar.gz"), "");
        signedRecord(served, "missing", m_Dir.filePath("missing.tar.gz"), "1.2");
        writeScript(m_Dir.filePath("cancelled.tar.gz"), QByteArray(1000000, 'x'));
        signedRecord(served, "slow", m_Dir.filePath("cancelled.tar.gz"), "1.2");
        // A shared folder as /tmp is, where another user can plant things.
        QFile::setPermissions(m_Dir.path(), QFileDevice::Permissions(0x7755));
        QDir().mkpath(m_Dir.filePath("shared"));
        QProcess::execute("chmod", {"1777", m_Dir.filePath("shared")});
        qputenv("XDG_CACHE_HOME", m_Dir.filePath("shared").toUtf8());
    }
    QUpdateDownload download(const QString& name, const QString& path)
    {
        QFile record(m_Dir.filePath("served/" + name + ".rec"));
        QFile sig(record.fileName() + ".sig");
        record.open(QIODevice::ReadOnly);
        return {m_pServer->url(path), record.readAll(),
                sig.open(QIODevice::ReadOnly) ? QByteArray::fromBase64(sig.readAll().trimmed())
                                              : QByteArray()};
    }
    void init()
    {
        m_pPrefs.reset(new QPreferences(m_Dir.filePath(QTest::currentDataTag()) + ".ini"));
        m_Presenter = QRecordingPresenter();
        writeTree(m_Dir.filePath("opt/thermora"), "1.1.8");
        for (const char* planted : {"shared/thermora", "shared/evil"})
            QFile::remove(m_Dir.filePath(planted)),
                QDir(m_Dir.filePath(planted)).removeRecursively();
    }

    // An automatic check against each answer of the server, and what follows from it.
    void results_data()
    {
        QTest::addColumn<QString>("skip");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("releases");
        QTest::addColumn<QString>("keys"); // the test publishers' keys the build holds
        const QString good = "/signed/good.xml.gz";
        QTest::newRow("signed feed") << "" << -1 << good << 2 << "test";
        QTest::newRow("newest skipped") << "1.2" << 0 << good << 2 << "test";
        QTest::newRow("older skipped") << "1.1.9" << -1 << good << 2 << "test";
        QTest::newRow("no signed release") << "" << 0 << "/feed.xml.gz" << 0 << "test";
        QTest::newRow("unsigned") << "" << 0 << "/signed/unsigned.xml.gz" << 0 << "test";
        QTest::newRow("unknown key") << "" << 0 << "/signed/other.xml.gz" << 0 << "test";
        QTest::newRow("key rotation") << "" << -1 << "/signed/other.xml.gz" << 2 << "test+other";
        QTest::newRow("key removed") << "" << 0 << good << 0 << "other";
        QTest::newRow("no key held") << "" << 0 << good << 0 << "";
        QTest::newRow("tampered") << "" << 0 << "/signed/tampered.xml.gz" << 0 << "test";
        QTest::newRow("expired") << "" << 0 << "/signed/expired.xml.gz" << 0 << "test";
        QTest::newRow("downgrade") << "" << 0 << "/signed/older.xml.gz" << 0 << "test";
        QTest::newRow("sidegrade") << "" << 0 << "/signed/same.xml.gz" << 0 << "test";
        QTest::newRow("3 redirects") << "" << -1 << "/redirect/3" + good << 2 << "test";
        QTest::newRow("4 redirects") << "" << 1 << "/redirect/4" + good << 0 << "test";
        QTest::newRow("redirect to http") << "" << 1 << "/away" << 0 << "test";
        QTest::newRow("file address") << "" << 1 << "file:///etc/passwd" << 0 << "test";
        QTest::newRow("oversized feed") << "" << 1 << "/huge" << 0 << "test";
        QTest::newRow("no answer in time") << "" << 1 << "/slow" << 0 << "test";
        QTest::newRow("not found") << "" << 2 << "/nothing.xml.gz" << 0 << "test";
        QTest::newRow("empty body") << "" << 2 << "/empty.xml.gz" << 0 << "test";
        QTest::newRow("not gzip") << "" << 3 << "/plain.xml.gz" << 0 << "test";
        QTest::newRow("malformed xml") << "" << 4 << "/badxml.xml.gz" << 0 << "test";
        QTest::newRow("connection drops") << "" << 1 << "/drop" << 0 << "test";
    }
    void results()
    {
        QFETCH(QString, path);
        QFETCH(QString, skip);
        QFETCH(int, code);
        QFETCH(int, releases);
        QFETCH(QString, keys);
        m_pPrefs->setString("UpdateChecker_SkipVersion", skip);
        checker(path, keys)->setStartDelay(60); // the timer stays out of the way
        m_pChecker->checkForUpdate(false, 24);
        QCOMPARE(check(), code);
        QCOMPARE(m_pChecker->releases().size(), releases);
        if (releases) { // notes in the user's language with their markup
            QCOMPARE(m_pChecker->releases().at(0).date, QDate(2014, 5, 30));
            const QVector<QUpdateReleaseItem>& items = m_pChecker->releases().at(0).items;
            QVERIFY(items.size() == 2 && items.at(1).type == "improved");
            QCOMPARE(items.at(0).text, QString("Fixed <b>1.2</b>"));
        }
        QCOMPARE(m_Presenter.nUpdates, code == -1 ? 1 : 0);
        QVERIFY(m_Presenter.codes.isEmpty());
        const bool bDone = code >= 0; // a result, not an offer
        QCOMPARE(m_pPrefs->getDateTime("UpdateChecker_NextCheck"),
                 bDone ? m_Clock.now().addSecs(kDay) : QDateTime());
        QCOMPARE(m_pChecker->timer().interval(), bDone ? kDay * 1000 : 60000);
    }

    // A manual check forgets skip and stored time, shows its result and re-arms nothing.
    void manualMessage()
    {
        m_pPrefs->setString("UpdateChecker_SkipVersion", "1.2");
        m_pPrefs->setDateTime("UpdateChecker_NextCheck", m_Clock.now().addDays(3));
        checker("/badxml.xml.gz")->checkForUpdate(true, 0);
        QVERIFY(m_pPrefs->getString("UpdateChecker_SkipVersion").isEmpty());
        QVERIFY(m_pChecker->timer().isActive() && m_pChecker->timer().interval() == 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_Presenter.codes, QList<int>{4}, 15000);
        QVERIFY(!m_pChecker->isManual() && !m_pChecker->timer().isActive());
    }

    // What the user reads after a manual check, for each result.
    void resultMessages_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("shown");
        const QString download =
            "An error occurred while downloading the update. Please try again later.|";
        const QString feed = "An error occurred while parsing the update feed.|";
        QTest::newRow("up to date") << 0
                                    << "<b>You're up to date!</b>|Thermora 1.1.8 is currently the "
                                       "newest version available.";
        QTest::newRow("download failed") << 1 << download;
        QTest::newRow("feed not found") << 2 << download;
        QTest::newRow("not compressed") << 3 << feed;
        QTest::newRow("malformed xml") << 4 << feed;
    }
    void resultMessages()
    {
        QFETCH(int, code);
        QFETCH(QString, shown);
        checker("/feed.xml.gz");
        QString seen;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            if (auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen = pBox->text() + '|' + pBox->informativeText();
                pBox->done(QMessageBox::Ok);
            }
        });
        closer.start(5);
        QUpdateDialogPresenter(nullptr).showResult(m_pChecker.get(), code);
        QCOMPARE(seen, shown);
    }

    // When the first automatic check is due, and the next call's.
    void schedule_data()
    {
        QTest::addColumn<int>("storedInSecs"); // 0: nothing stored
        QTest::addColumn<int>("autoSetting");  // -1: not set
        QTest::addColumn<int>("delayMsecs");   // -1: not armed
        QTest::newRow("first start") << 0 << -1 << 60000;
        QTest::newRow("stored time ahead") << 7200 << 1 << 7200000;
        QTest::newRow("stored time passed") << -10 << 1 << 60000;
        QTest::newRow("automatic off") << 0 << 0 << -1;
    }
    void schedule()
    {
        QFETCH(int, storedInSecs);
        QFETCH(int, autoSetting);
        QFETCH(int, delayMsecs);
        if (storedInSecs != 0)
            m_pPrefs->setDateTime("UpdateChecker_NextCheck", m_Clock.now().addSecs(storedInSecs));
        if (autoSetting >= 0)
            m_pPrefs->setInt("UpdateChecker_Auto", autoSetting);
        checker("/feed.xml.gz")->setStartDelay(60);
        m_pChecker->checkForUpdate(false, 24, true);
        QCOMPARE(m_pChecker->timer().isActive() ? m_pChecker->timer().interval() : -1, delayMsecs);
        QCOMPARE(m_pPrefs->getInt("UpdateChecker_Auto", -1), autoSetting == -1 ? 1 : autoSetting);
        QCOMPARE(m_pPrefs->getDateTime("UpdateChecker_NextCheck").isValid(), storedInSecs > 0);
    }

    // Quitting, or a manual check, during a slow automatic check ends that one at once.
    void stopDuringDownload_data()
    {
        QTest::addColumn<bool>("manual");
        QTest::newRow("quit") << false;
        QTest::newRow("manual check") << true;
    }
    void stopDuringDownload()
    {
        QFETCH(bool, manual);
        checker("/slow")->setDeadline(0);
        m_pChecker->slotCheckForUpdate();
        QTRY_VERIFY(m_pChecker->isChecking());
        QTest::qWait(300); // real time: the body is under way
        const qint64 nStart = QDateTime::currentMSecsSinceEpoch();
        if (manual)
            m_pChecker->checkForUpdate(true, 0);
        else
            m_pChecker->stopAndWaitForFinished();
        QVERIFY(QDateTime::currentMSecsSinceEpoch() - nStart < 5000);
        QCOMPARE(m_pChecker->timer().isActive(), manual);
        m_pChecker->stopAndWaitForFinished();
        QCoreApplication::processEvents();
        QVERIFY(m_Presenter.codes.isEmpty());
    }
    // Item rows are styled by their place in their release: first, last unless first, other.
    void notesHtml()
    {
        QUpdateFeed feed = feedOf("1.3", QDate(2014, 5, 30), 3);
        feed.releases << feedOf("1.2", QDate(), 1).releases;
        checker("")->setFeed(feed);
        const QString html = QUpdatesDialog(m_pChecker.get()).createHTML();
        QStringList styles;
        QRegularExpression cell("<td ([^<]*) width='20%' align='right'><img "
                                "src=':/UpdateChecker/fixed.png'></td><td ([^<]*)><p");
        for (auto it = cell.globalMatch(html); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            QCOMPARE(match.captured(2), match.captured(1));
            styles << match.captured(1);
        }
        const QString top = "style='padding-top: 5px;'";
        QCOMPARE(styles, QStringList({top, "", "style='padding-bottom: 12px;'", top}));
        QVERIFY(html.indexOf("<b>1.3</b>") < html.indexOf("<b>1.2</b>"));
        QVERIFY(html.contains("released on 30 May 2014</font>"));
        QVERIFY(html.contains("released on 0  0</font>"));
    }

    // Notes come from the network: only a small subset of HTML reaches the dialog.
    void notesSubset_data()
    {
        QTest::addColumn<QString>("notes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("allowed") << "<P class=x>a <b>b</b><ul><li><i>c</i></ul>"
                                 << "<p>a <b>b</b><ul><li><i>c</i></ul>";
        QTest::newRow("image") << "<img src=\"/dev/zero\">x"
                               << "x";
        QTest::newRow("script") << "<script>alert(1)</script>"
                                << "alert(1)";
        QTest::newRow("https link") << "<a href='https://a.org/x?a=1&b=2' onclick=y>l</a>"
                                    << "<a href=\"https://a.org/x?a=1&amp;b=2\">l</a>";
        QTest::newRow("other link") << "<a href=\"file:///etc/passwd\">l</a>"
                                    << "<a>l</a>";
        QTest::newRow("text") << "1 < 2 &amp; 3 > 2 & <"
                              << "1 &lt; 2 &amp; 3 &gt; 2 &amp; &lt;";
    }
    void notesSubset()
    {
        QFETCH(QString, notes);
        QFETCH(QString, shown);
        QUpdateFeed feed = feedOf("1.3", QDate(2014, 5, 30), 0);
        feed.releases.first().items << QUpdateReleaseItem{"x'><img src='/dev/zero", notes};
        checker("")->setFeed(feed);
        const QString html = QUpdatesDialog(m_pChecker.get()).createHTML();
        QVERIFY2(html.contains("<p style='margin-left: 8'>" + shown + "</p>"), qPrintable(html));
        QVERIFY(!html.contains("/dev/zero"));
    }

    // Answers reach checker and settings; remind-me-later re-arms even with automatic off.
    void answers_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("nextCheckStored");
        QTest::addColumn<QString>("skipped");
        QTest::newRow("remind me later") << "Remind Me Later" << true << "";
        QTest::newRow("skip") << "Skip This Version" << false << "1.3";
        QTest::newRow("closed") << "close" << true << "";
    }
    void answers()
    {
        QFETCH(QString, answer);
        QFETCH(QString, skipped);
        QFETCH(bool, nextCheckStored);
        m_pPrefs->setInt("UpdateChecker_Auto", 0); // nothing armed at start-up
        checker("")->checkForUpdate(false, 24);
        m_pChecker->setFeed(feedOf("1.3", QDate(2014, 5, 30), 1));
        QUpdatesDialog dialog(m_pChecker.get());
        QCheckBox* pAuto = dialog.findChild<QCheckBox*>();
        QVERIFY(!pAuto->isChecked());
        pAuto->setChecked(true);
        QVERIFY(m_pPrefs->getInt("UpdateChecker_Auto", -1) == 1 && m_pChecker->isAutomatic());
        pAuto->setChecked(false);
        QVERIFY(m_pPrefs->getInt("UpdateChecker_Auto", -1) == 0 && !m_pChecker->isAutomatic());
        dialog.show();
        for (QPushButton* pButton : dialog.findChildren<QPushButton*>())
            if (pButton->text() == answer)
                pButton->click();
        if (answer == "close")
            dialog.reject();
        QCOMPARE(m_pPrefs->getString("UpdateChecker_SkipVersion"), skipped);
        QCOMPARE(m_pPrefs->getDateTime("UpdateChecker_NextCheck").isValid(), nextCheckStored);
        QCOMPARE(m_pChecker->timer().isActive(), nextCheckStored);
        m_pChecker->setOpenDialog(&dialog);
        m_pChecker->checkForUpdate(true, 0);
        QVERIFY(!m_pChecker->isManual());
    }

    // Download into the private folder, verify and unpack beside the tree; nothing of it runs
    // before "Install and Relaunch", which tries it, swaps and quits; or the reason why not.
    void progress_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<QString>("planted"); // by another user in the shared cache folder
        QTest::addColumn<QString>("heading");
        QTest::addColumn<QString>("installed");
        const QString ready = "<b>Ready to Install</b>";
        const QString saveError = "UpdateInstaller/errorSave";
        QTest::newRow("installed") << "good"
                                   << "" << ready << "Thermora 1.2";
        QTest::newRow("not found") << "missing"
                                   << ""
                                   << "An error occurred"
                                   << "";
        QTest::newRow("longer than signed") << "short"
                                            << ""
                                            << "An error occurred"
                                            << "";
        QTest::newRow("another version inside") << "mislabelled"
                                                << "" << ready << "";
        QTest::newRow("folder of another user") << "good"
                                                << "folder" << saveError << "";
        QTest::newRow("link to another user's") << "good"
                                                << "link" << saveError << "";
    }
    void progress()
    {
        QFETCH(QString, record);
        QFETCH(QString, planted);
        QFETCH(QString, heading);
        QFETCH(QString, installed);
        const QString shared = m_Dir.filePath("shared");
        const QString attacker = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
        if (planted == "folder")
            QProcess::execute("sh", {"-c", attacker + "mkdir -m 0777 " + shared + "/thermora"});
        if (planted == "link")
            QProcess::execute("sh", {"-c", attacker + "mkdir -m 0777 " + shared + "/evil && " +
                                               attacker + "ln -s evil " + shared + "/thermora"});
        QFile::remove(m_Dir.filePath("marker.ran"));
        QUpdateFeed feed;
        const QString file = record == "missing" ? "missing.tar.gz" : "update.tar.gz";
        feed.downloads << download(record, "/files/" + file);
        checker("")->setFeed(feed);
        const QString program = m_Dir.filePath("opt/thermora/bin/thermora");
        QUpdateProgressDialog dialog(m_pChecker.get(), nullptr, program);
        QSignalSpy quit(m_pChecker.get(), &QUpdateChecker::quit);
        QTRY_VERIFY2_WITH_TIMEOUT(dialog.headingLabel()->text().startsWith(heading),
                                  qPrintable(dialog.headingLabel()->text()), 15000);
        QCOMPARE(dialog.installButton()->isVisibleTo(&dialog), heading.startsWith("<b>"));
        QVERIFY(!QFile::exists(m_Dir.filePath("marker.ran"))); // nothing of it ran
        QCOMPARE(QDir(shared + "/evil").isEmpty(), true);
        if (heading.startsWith("<b>")) { // kept open in a folder only this user can enter
            const QFileInfo folder(QFileInfo(dialog.archivePath()).absolutePath());
            QCOMPARE(folder.filePath(), shared + "/thermora/updates");
            QCOMPARE(int(folder.permissions() & 0x0077), 0);
            QVERIFY(QFile::exists(dialog.archivePath()));
            dialog.installButton()->click();
            QTRY_VERIFY_WITH_TIMEOUT(!dialog.installButton()->isVisibleTo(&dialog) || quit.size(),
                                     15000);
        }
        QCOMPARE(quit.size(), installed.isEmpty() ? 0 : 1);
        QVERIFY(dialog.archivePath().isEmpty() || !QFile::exists(dialog.archivePath()));
        QCOMPARE(run(program, {"--version"}),
                 installed.isEmpty() ? QString("Thermora 1.1.8") : installed);
    }

    // Cancel during a slow download aborts it at once, a stalled one ends by itself; neither
    // leaves a file behind.
    void cancel_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("cancelled") << "/slow/cancelled.tar.gz";
        QTest::newRow("stalled") << "/stall/cancelled.tar.gz";
    }
    void cancel()
    {
        QFETCH(QString, path);
        QUpdateFeed feed;
        feed.downloads << download("slow", path);
        checker("")->setFeed(feed);
        m_pChecker->setStallTimeout(1000);
        QUpdateProgressDialog dialog(m_pChecker.get(), nullptr,
                                     m_Dir.filePath("opt/thermora/bin/thermora"));
        dialog.show();
        if (path.startsWith("/stall")) {
            QTRY_VERIFY_WITH_TIMEOUT(dialog.headingLabel()->text().startsWith("An error"), 10000);
            QVERIFY(!QFile::exists(dialog.archivePath()));
            return;
        }
        QTRY_VERIFY2_WITH_TIMEOUT(dialog.progressBar()->value() > 0,
                                  qPrintable(dialog.headingLabel()->text()), 10000);
        QVERIFY(dialog.statusLabel()->text().endsWith(" of 977 KB"));
        const qint64 nStart = QDateTime::currentMSecsSinceEpoch();
        dialog.close();
        QVERIFY(QDateTime::currentMSecsSinceEpoch() - nStart < 3000);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(!dialog.archivePath().isEmpty() && !QFile::exists(dialog.archivePath()));
    }

    // A huge feed is cut to its first releases, and a huge version string is no version.
    void feedLimits()
    {
        QByteArray xml = "<feed><version name='" + QByteArray(65, '9') + "'/>";
        for (int i = 150; i > 0; --i)
            xml += "<version name='2." + QByteArray::number(i) + "'/>";
        QUpdateFeed feed;
        QVERIFY(UpdateFeedUtils::parseFeed(xml + "</feed>", "1.1.8", "en", QDate(), &feed));
        QCOMPARE(feed.releases.size(), 50);
        QCOMPARE(feed.releases.first().version, QString("2.150"));
    }
};

QTEST_MAIN(TestUpdateChecker)
#include "tst_updatechecker.moc"
