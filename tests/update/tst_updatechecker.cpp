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

    QUpdateChecker* checker(const QString& path)
    {
        m_pChecker.reset(
            new QUpdateChecker(m_pServer->url(path), "Thermora", "1.1.8", m_pPrefs.get(), nullptr));
        m_pChecker->setLanguage("en");
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
        writeTree(m_Dir.filePath("build/thermora-1.2"), "1.2");
        QDir().mkpath(m_Dir.filePath("served"));
        QProcess::execute("tar", {"-czf", m_Dir.filePath("served/update.tar.gz"), "-C",
                                  m_Dir.filePath("build"), "thermora-1.2"});
        m_pServer.reset(new FeedServer(m_Dir.filePath("served")));
    }
    void init()
    {
        m_pPrefs.reset(new QPreferences(m_Dir.filePath(QTest::currentDataTag()) + ".ini"));
        m_Presenter = QRecordingPresenter();
        writeTree(m_Dir.filePath("opt/thermora"), "1.1.8");
    }

    // An automatic check against each answer of the server, and what follows from it.
    void results_data()
    {
        QTest::addColumn<QString>("skip");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("releases");
        QTest::newRow("good feed") << "" << -1 << "/feed.xml.gz" << 2;
        QTest::newRow("newest skipped") << "1.2" << 0 << "/feed.xml.gz" << 2;
        QTest::newRow("older skipped") << "1.1.9" << -1 << "/feed.xml.gz" << 2;
        QTest::newRow("current is newest") << "" << 0 << "/current.xml.gz" << 0;
        QTest::newRow("not found") << "" << 2 << "/nothing.xml.gz" << 0;
        QTest::newRow("empty body") << "" << 2 << "/empty.xml.gz" << 0;
        QTest::newRow("not gzip") << "" << 3 << "/plain.xml.gz" << 0;
        QTest::newRow("malformed xml") << "" << 4 << "/badxml.xml.gz" << 0;
        QTest::newRow("connection drops") << "" << 1 << "/drop" << 0;
    }
    void results()
    {
        QFETCH(QString, path);
        QFETCH(QString, skip);
        QFETCH(int, code);
        QFETCH(int, releases);
        m_pPrefs->setString("UpdateChecker_SkipVersion", skip);
        checker(path)->setStartDelay(60); // the timer stays out of the way
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

    // Quitting during a slow download ends it at once and shows nothing.
    void stopDuringDownload()
    {
        checker("/slow")->checkForUpdate(true, 0);
        QTRY_VERIFY(m_pChecker->isChecking());
        QTest::qWait(300); // real time: the body is under way
        const qint64 nStart = QDateTime::currentMSecsSinceEpoch();
        m_pChecker->stopAndWaitForFinished();
        QVERIFY(QDateTime::currentMSecsSinceEpoch() - nStart < 5000 && !m_pChecker->isChecking());
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

    // Download, check, unpack beside the tree, then swap and quit; or the reason why not.
    void progress_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("ready");
        QTest::addColumn<QString>("heading");
        QTest::newRow("ready") << "/files/update.tar.gz" << true << "<b>Ready to Install</b>";
        QTest::newRow("not found") << "/files/nothing.tar.gz" << false << "An error occurred";
    }
    void progress()
    {
        QFETCH(QString, path);
        QFETCH(bool, ready);
        QFETCH(QString, heading);
        QUpdateFeed feed;
        feed.archiveUrl = m_pServer->url(path);
        feed.archiveSha256 = sha256(m_Dir.filePath("served/update.tar.gz"));
        checker("")->setFeed(feed);
        const QString program = m_Dir.filePath("opt/thermora/bin/thermora");
        QUpdateProgressDialog dialog(m_pChecker.get(), nullptr, program);
        QSignalSpy quit(m_pChecker.get(), &QUpdateChecker::quit);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.headingLabel()->text().startsWith(heading), 15000);
        QCOMPARE(dialog.installButton()->isVisibleTo(&dialog), ready);
        QCOMPARE(QFile::exists(QDir::tempPath() + "/" + QFileInfo(path).fileName()), ready);
        if (!ready)
            return;
        dialog.installButton()->click();
        QCOMPARE(quit.size(), 1);
        QCOMPARE(run(program, {"--version"}), QString("Thermora 1.2"));
    }

    // Cancel during a slow download aborts it at once and writes nothing.
    void cancel()
    {
        QUpdateFeed feed;
        feed.archiveUrl = m_pServer->url("/slow/cancelled.tar.gz");
        checker("")->setFeed(feed);
        QUpdateProgressDialog dialog(m_pChecker.get(), nullptr,
                                     m_Dir.filePath("opt/thermora/bin/thermora"));
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.progressBar()->value() > 0, 10000);
        QVERIFY(dialog.statusLabel()->text().endsWith(" of 977 KB"));
        const qint64 nStart = QDateTime::currentMSecsSinceEpoch();
        dialog.close();
        QVERIFY(QDateTime::currentMSecsSinceEpoch() - nStart < 3000);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(!QFile::exists(QDir::tempPath() + "/cancelled.tar.gz"));
    }
};

QTEST_MAIN(TestUpdateChecker)
#include "tst_updatechecker.moc"
