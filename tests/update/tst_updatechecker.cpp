#include "FeedServer.h"

#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"
#include "settings/QPreferences.h"
#include "update/QUpdateChecker.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {
const char* const kNext = "UpdateChecker_NextCheck";
const char* const kSkip = "UpdateChecker_SkipVersion";
const char* const kAuto = "UpdateChecker_Auto";

// Records what the checker would show.
class QRecordingPresenter : public QUpdatePresenter
{
public:
    void showUpdates(QUpdateChecker*) override { ++nUpdates; }
    void showResult(QUpdateChecker*, int nCode) override { codes << nCode; }
    int nUpdates = 0;
    QList<int> codes;
};
} // namespace

class TestUpdateChecker : public QObject
{
    Q_OBJECT
    QTemporaryDir m_Dir;
    QManualClock m_Clock;
    std::unique_ptr<FeedServer> m_pServer;
    std::unique_ptr<QPreferences> m_pPrefs;
    QRecordingPresenter m_Presenter;

    std::unique_ptr<QUpdateChecker> makeChecker(const QString& path)
    {
        std::unique_ptr<QUpdateChecker> p(
            new QUpdateChecker(m_pServer->url(path), QStringLiteral("Thermora"),
                               QStringLiteral("1.1.8"), m_pPrefs.get(), nullptr));
        p->setLanguage(QStringLiteral("en"));
        p->setPresenter(&m_Presenter);
        return p;
    }

private slots:
    void initTestCase()
    {
        QCoreServices::setClock(&m_Clock);
        m_pServer.reset(new FeedServer(m_Dir.path()));
        QVERIFY(m_pServer->port() > 0);
    }
    void cleanupTestCase() { QCoreServices::setClock(nullptr); }
    void init()
    {
        m_pPrefs.reset(new QPreferences(m_Dir.filePath(QTest::currentDataTag()) + ".ini"));
        m_Presenter = QRecordingPresenter();
    }

    // A manual check against each answer of the server ends in its result, and only a manual
    // check shows it.
    void results_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("skip");
        QTest::addColumn<int>("code"); // -1: an update is offered
        QTest::addColumn<QString>("versions");
        QTest::newRow("good feed") << "/feed.xml.gz"
                                   << "" << -1 << "1.2 1.1.9";
        QTest::newRow("newest skipped") << "/feed.xml.gz"
                                        << "1.2" << 0 << "1.2 1.1.9";
        QTest::newRow("older skipped") << "/feed.xml.gz"
                                       << "1.1.9" << -1 << "1.2 1.1.9";
        QTest::newRow("current is newest") << "/current.xml.gz"
                                           << "" << 0 << "";
        QTest::newRow("not found") << "/nothing.xml.gz"
                                   << "" << 2 << "";
        QTest::newRow("empty body") << "/empty.xml.gz"
                                    << "" << 2 << "";
        QTest::newRow("not gzip") << "/plain.xml.gz"
                                  << "" << 3 << "";
        QTest::newRow("malformed xml") << "/badxml.xml.gz"
                                       << "" << 4 << "";
        QTest::newRow("connection drops") << "/drop"
                                          << "" << 1 << "";
    }
    void results()
    {
        QFETCH(QString, path);
        QFETCH(QString, skip);
        QFETCH(int, code);
        QFETCH(QString, versions);
        std::unique_ptr<QUpdateChecker> pChecker = makeChecker(path);
        QSignalSpy available(pChecker.get(), &QUpdateChecker::updateAvailable);
        QSignalSpy notAvailable(pChecker.get(), &QUpdateChecker::updateNotAvailable);
        m_pPrefs->setString(kSkip, skip);
        m_pPrefs->setDateTime(kNext, m_Clock.now().addDays(3));
        // A manual check would forget the skip; an automatic one at once keeps it.
        pChecker->checkForUpdate(false, 24);
        pChecker->slotCheckForUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(available.size() + notAvailable.size() == 1, 15000);
        QCOMPARE(notAvailable.isEmpty() ? -1 : notAvailable.at(0).at(0).toInt(), code);
        QCoreApplication::processEvents(); // the result's queued slot
        QStringList found;
        for (const QUpdateRelease& release : pChecker->releases())
            found << release.version;
        QCOMPARE(found.join(' '), versions);
        QCOMPARE(m_Presenter.nUpdates, code == -1 ? 1 : 0);
        QVERIFY(m_Presenter.codes.isEmpty()); // automatic: no message
        if (code >= 0) {
            QCOMPARE(m_pPrefs->getDateTime(kNext), m_Clock.now().addSecs(24 * 3600));
            QCOMPARE(pChecker->timer().interval(), 24 * 3600 * 1000);
        }
    }

    // The notes of a release are the texts in the user's language, markup kept; items without
    // one are left out; a version's date is parsed day first.
    void notes()
    {
        std::unique_ptr<QUpdateChecker> pChecker = makeChecker("/feed.xml.gz");
        QSignalSpy available(pChecker.get(), &QUpdateChecker::updateAvailable);
        pChecker->setLanguage(QStringLiteral("ru"));
        pChecker->slotCheckForUpdate();
        QVERIFY(available.wait(15000));
        const QUpdateRelease& newest = pChecker->releases().at(0);
        QCOMPARE(newest.date, QDate(2014, 5, 30));
        QCOMPARE(newest.items.size(), 2);
        QCOMPARE(newest.items.at(1).type, QStringLiteral("new"));
        pChecker->setLanguage(QStringLiteral("en"));
        pChecker->slotCheckForUpdate();
        QVERIFY(available.wait(15000));
        const QUpdateRelease& english = pChecker->releases().at(0);
        QCOMPARE(english.items.size(), 2);
        QCOMPARE(english.items.at(0).text, QStringLiteral("Fixed <b>1.2</b>"));
        QCOMPARE(english.items.at(1).type, QStringLiteral("improved"));
        QVERIFY(pChecker->feed().archiveUrl.endsWith("/files/update.tar.gz"));
    }

    // A manual check shows its result, forgets the skip and the stored time, and re-arms only
    // with automatic checks on.
    void manualMessages_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("code");
        QTest::newRow("up to date") << "/current.xml.gz" << 0;
        QTest::newRow("download error") << "/nothing.xml.gz" << 2;
        QTest::newRow("parse error") << "/badxml.xml.gz" << 4;
    }
    void manualMessages()
    {
        QFETCH(QString, path);
        QFETCH(int, code);
        std::unique_ptr<QUpdateChecker> pChecker = makeChecker(path);
        m_pPrefs->setString(kSkip, "1.2");
        m_pPrefs->setDateTime(kNext, m_Clock.now().addDays(3));
        pChecker->checkForUpdate(true, 0);
        QVERIFY(m_pPrefs->getString(kSkip).isEmpty());
        QVERIFY(!m_pPrefs->getDateTime(kNext).isValid());
        QVERIFY(pChecker->timer().isActive());
        QCOMPARE(pChecker->timer().interval(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_Presenter.codes, QList<int>{code}, 15000);
        QVERIFY(!pChecker->isManual());
        QVERIFY(!pChecker->timer().isActive()); // interval 0: nothing re-armed
    }

    // When the first automatic check is due, on the injected clock.
    void schedule_data()
    {
        QTest::addColumn<int>("storedInSecs"); // 0: nothing stored
        QTest::addColumn<int>("autoSetting");  // -1: not set
        QTest::addColumn<bool>("armed");
        QTest::addColumn<int>("delayMsecs");
        QTest::newRow("first start") << 0 << -1 << true << 60000;
        QTest::newRow("stored time ahead") << 7200 << 1 << true << 7200000;
        QTest::newRow("stored time passed") << -10 << 1 << true << 60000;
        QTest::newRow("automatic off") << 0 << 0 << false << 0;
    }
    void schedule()
    {
        QFETCH(int, storedInSecs);
        QFETCH(int, autoSetting);
        QFETCH(bool, armed);
        QFETCH(int, delayMsecs);
        if (storedInSecs != 0)
            m_pPrefs->setDateTime(kNext, m_Clock.now().addSecs(storedInSecs));
        if (autoSetting >= 0)
            m_pPrefs->setInt(kAuto, autoSetting);
        std::unique_ptr<QUpdateChecker> pChecker = makeChecker("/feed.xml.gz");
        pChecker->setStartDelay(60);
        pChecker->checkForUpdate(false, 24, true);
        QCOMPARE(pChecker->timer().isActive(), armed);
        if (armed)
            QCOMPARE(pChecker->timer().interval(), delayMsecs);
        QCOMPARE(m_pPrefs->getInt(kAuto, -1), autoSetting == -1 ? 1 : autoSetting);
        QCOMPARE(m_pPrefs->getDateTime(kNext).isValid(), storedInSecs > 0);
        // The second call has no start delay.
        pChecker->checkForUpdate(false, 24, true);
        QCOMPARE(pChecker->timer().isActive(), true);
        QCOMPARE(pChecker->timer().interval(), storedInSecs > 0 ? delayMsecs : 0);
    }

    // Remind-me-later re-arms even with automatic checks off; skip stores the newest version
    // and leaves the stored time alone; an open dialog refuses new checks.
    void answers()
    {
        m_pPrefs->setInt(kAuto, 0);
        std::unique_ptr<QUpdateChecker> pChecker = makeChecker("/feed.xml.gz");
        pChecker->checkForUpdate(false, 24);
        QVERIFY(!pChecker->timer().isActive());
        pChecker->remindLater();
        QCOMPARE(pChecker->timer().interval(), 24 * 3600 * 1000);
        QVERIFY(pChecker->timer().isActive());
        QCOMPARE(m_pPrefs->getDateTime(kNext), m_Clock.now().addSecs(24 * 3600));
        QUpdateFeed feed;
        feed.releases.append(QUpdateRelease{QStringLiteral("1.3"), QDate(), {}});
        pChecker->setFeed(feed);
        m_Clock.advanceSecs(5);
        pChecker->skipCurrentVersion();
        QCOMPARE(m_pPrefs->getString(kSkip), QStringLiteral("1.3"));
        QCOMPARE(m_pPrefs->getDateTime(kNext), m_Clock.now().addSecs(24 * 3600 - 5));
        QObject dialog;
        pChecker->setOpenDialog(&dialog);
        pChecker->checkForUpdate(true, 0);
        QVERIFY(!pChecker->isManual());
    }

    // Quitting during a slow download ends it at once and shows nothing.
    void stopDuringDownload()
    {
        std::unique_ptr<QUpdateChecker> pChecker = makeChecker("/slow");
        QSignalSpy notAvailable(pChecker.get(), &QUpdateChecker::updateNotAvailable);
        pChecker->checkForUpdate(true, 0);
        QTRY_VERIFY(pChecker->isChecking());
        QElapsedTimer elapsed;
        elapsed.start();
        pChecker->stopAndWaitForFinished();
        QVERIFY(elapsed.elapsed() < 5000);
        QVERIFY(!pChecker->isChecking());
        QCoreApplication::processEvents();
        QVERIFY(notAvailable.isEmpty());
        QVERIFY(m_Presenter.codes.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestUpdateChecker)
#include "tst_updatechecker.moc"
