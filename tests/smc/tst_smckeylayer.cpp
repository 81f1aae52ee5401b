// The key layer over a counting fake backend: key count, record cache, index search,
// temperature-key enumeration, the lock discipline and the process-wide instance.
#include "smc/smc.h"
#include "support/KeyIndexSearch.h"
#include "support/QMemoryLogDestination.h"

#include <QtConcurrent>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <set>

namespace {

struct FakeKey
{
    QByteArray key;
    QByteArray type;
    int size;
};

// A controller with a sorted key index. Counts every call, fails where told to, and notices
// two calls running at once (the key layer must never let that happen).
class QCountingSmcControl : public QSmcControl
{
public:
    explicit QCountingSmcControl(const QVector<FakeKey>& keys = {}) : m_Keys(keys)
    {
        setKeyCount(static_cast<quint32>(keys.size()));
    }
    ~QCountingSmcControl() override
    {
        if (m_pDestroyed)
            *m_pDestroyed = true;
    }

    bool Open() override { return true; }
    void Close() override {}

    int OS_GetKeyInfoByIndex(int index, applesmc_entry* entry) override
    {
        Enter enter(this);
        ++m_nInfoCalls;
        m_Visited.insert(index);
        if (m_FailAlways.contains(index))
            return -1;
        if (m_FailOnce.contains(index)) {
            m_FailOnce.remove(index);
            return -1;
        }
        if (index < 0)
            return -1;
        // Beyond its table the controller answers lower-case filler keys, which sort last.
        const FakeKey k =
            index < m_Keys.size()
                ? m_Keys.at(index)
                : FakeKey{QByteArray::number(index, 36).rightJustified(4, 'x'), "ui8 ", 1};
        memcpy(entry->key, k.key.constData(), 4);
        memcpy(entry->dataType, k.type.constData(), 4);
        entry->dataSize = static_cast<uint8_t>(k.size);
        entry->attributes = 0x90;
        entry->valid = 1;
        return 0;
    }

    int OS_ReadKey(const char* key, unsigned char* buffer, unsigned char size) override
    {
        Enter enter(this);
        ++m_nReadCalls;
        if (strcmp(key, "#KEY") != 0 || m_bKeyCountFails)
            return -1;
        memcpy(buffer, m_KeyCountBytes, qMin<int>(size, 4));
        return 0;
    }

    int OS_WriteKey(const char*, const unsigned char*, unsigned char) override
    {
        Enter enter(this);
        ++m_nWriteCalls;
        return 0;
    }

    void setKeyCount(quint32 nCount) { qToBigEndian(nCount, m_KeyCountBytes); }

    QVector<FakeKey> m_Keys;
    unsigned char m_KeyCountBytes[4] = {0, 0, 0, 0};
    bool m_bKeyCountFails = false;
    QSet<int> m_FailAlways;
    QSet<int> m_FailOnce;
    std::set<int> m_Visited;
    int m_nInfoCalls = 0;
    int m_nReadCalls = 0;
    int m_nWriteCalls = 0;
    std::atomic<int> m_nInside{0};
    std::atomic<bool> m_bOverlap{false};
    bool* m_pDestroyed = nullptr;

private:
    struct Enter
    {
        explicit Enter(QCountingSmcControl* p) : m_p(p)
        {
            if (m_p->m_nInside.fetch_add(1) != 0)
                m_p->m_bOverlap = true;
        }
        ~Enter() { m_p->m_nInside.fetch_sub(1); }
        QCountingSmcControl* m_p;
    };
};

QVector<FakeKey> keysFrom(const QStringList& rows)
{
    // "KEY |type" pairs, four characters each side of the bar.
    QVector<FakeKey> keys;
    for (const QString& row : rows)
        keys.append({row.left(4).toLatin1(), row.mid(5, 4).toLatin1(), 2});
    return keys;
}

// A realistic mixture around the temperature keys: lower-case t keys sort after "U".
const QStringList kMixedTable = {
    "#KEY|ui32", "ACID|ch8*", "F0Ac|fpe2", "FNum|ui8 ", "FS! |ui16", "LSOF|flag", "SB0T|sp78",
    "TA0P|sp78", "TB0T|sp78", "TC0D|sp78", "TC0P|sp78", "TCFC|sp78", "TG0D|ui16", "TN0H|sp78",
    "Te1P|sp78", "Tm0P|sp78", "U000|sp78", "VC0C|sp3c", "ta0p|sp78", "tc0c|sp78",
};

} // namespace

class TestSmcKeyLayer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void keyCount_data();
    void keyCount();
    void unreadableKeyCountKeepsPreviousCache();
    void recordCache();
    void failedFetchIsNotCached();
    void outOfRangeIndex();
    void lowerBound_data();
    void lowerBound();
    void temperatureKeys_data();
    void temperatureKeys();
    void readAndWriteForwardOneCall();
    void concurrentLoadAndFetch();
    void processWideInstance();

private:
    QSharedPointer<QMemoryLogDestination> m_pLog;
};

void TestSmcKeyLayer::initTestCase()
{
    m_pLog = QSharedPointer<QMemoryLogDestination>::create();
    QsLogging::Logger::instance().addDestination(m_pLog);
}

// The number of lines written once everything logged so far has gone out.
static int settledLineCount(const QSharedPointer<QMemoryLogDestination>& pLog)
{
    QsLogging::Logger::instance().waitForWrites();
    return pLog->lines().size();
}

// Lines logged since nBefore, as the logger wrote them.
static QStringList newLines(const QSharedPointer<QMemoryLogDestination>& pLog, int nBefore)
{
    QsLogging::Logger::instance().waitForWrites();
    return pLog->lines().mid(nBefore);
}

void TestSmcKeyLayer::keyCount_data()
{
    QTest::addColumn<quint32>("reported");
    QTest::addColumn<quint32>("expected");
    QTest::addColumn<bool>("errorLine");
    QTest::newRow("no keys") << 0u << 0u << false;
    QTest::newRow("five keys") << 5u << 5u << false;
    QTest::newRow("largest believed") << 65535u << 65535u << false;
    QTest::newRow("65536 is garbage") << 65536u << 0u << true;
    QTest::newRow("all ones") << 0xFFFFFFFFu << 0u << true;
}

void TestSmcKeyLayer::keyCount()
{
    QFETCH(quint32, reported);
    QFETCH(quint32, expected);
    QFETCH(bool, errorLine);

    QCountingSmcControl smc;
    smc.setKeyCount(reported);
    const int nBefore = settledLineCount(m_pLog);
    smc.LoadRegisters();
    QCOMPARE(smc.keyCount(), expected);

    // The info line shows the bytes as the host reads them, swapped, and the read's result.
    quint32 raw;
    memcpy(&raw, smc.m_KeyCountBytes, 4);
    const QString info =
        QStringLiteral("LoadRegisters: %1, %2, %3").arg(raw).arg(qbswap(raw)).arg(0);
    const QStringList lines = newLines(m_pLog, nBefore);
    QCOMPARE(lines.filter(info).size(), 1);
    QVERIFY(lines.filter(info).first().startsWith(QLatin1String("INFO")));
    const QStringList errors = lines.filter(QStringLiteral("LoadRegisters: unable to read value"));
    QCOMPARE(errors.size(), errorLine ? 1 : 0);
    if (errorLine)
        QVERIFY(errors.first().startsWith(QLatin1String("ERROR")));

    // Nothing is enumerated from a garbage count, and a record beyond the count is refused.
    QVector<QString> keys;
    smc.LoadTempSensors(keys);
    QVERIFY(keys.isEmpty());
    QCOMPARE(smc.applesmc_get_entry_by_index(0) != nullptr, expected > 0);
}

void TestSmcKeyLayer::unreadableKeyCountKeepsPreviousCache()
{
    QCountingSmcControl smc(keysFrom(kMixedTable));
    smc.LoadRegisters();
    QCOMPARE(smc.keyCount(), 20u);
    applesmc_entry* pRecord = smc.applesmc_get_entry_by_index(7);
    QVERIFY(pRecord);
    const int nCalls = smc.m_nInfoCalls;

    smc.m_bKeyCountFails = true;
    const int nBefore = settledLineCount(m_pLog);
    smc.LoadRegisters();
    QCOMPARE(smc.keyCount(), 20u);
    // Still the same cache: the record is neither released nor fetched again.
    QCOMPARE(smc.applesmc_get_entry_by_index(7), pRecord);
    QCOMPARE(smc.m_nInfoCalls, nCalls);
    const QStringList lines = newLines(m_pLog, nBefore);
    QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("LoadRegisters: \\d+, \\d+, -1\\s*$")))
                 .size(),
             1);
    QVERIFY(lines.filter(QStringLiteral("unable to read value")).isEmpty());

    // With "#KEY" unreadable from the start nothing is enumerated.
    QCountingSmcControl fresh(keysFrom(kMixedTable));
    fresh.m_bKeyCountFails = true;
    QVector<QString> keys;
    fresh.LoadTempSensors(keys);
    QVERIFY(keys.isEmpty());
    QCOMPARE(fresh.keyCount(), 0u);
    QCOMPARE(fresh.m_nInfoCalls, 0);
}

void TestSmcKeyLayer::recordCache()
{
    QCountingSmcControl smc(keysFrom(kMixedTable));
    smc.LoadRegisters();

    applesmc_entry* pRecord = smc.applesmc_get_entry_by_index(8);
    QVERIFY(pRecord);
    QCOMPARE(QByteArray(pRecord->key), QByteArray("TB0T"));
    QCOMPARE(QByteArray(pRecord->dataType), QByteArray("sp78"));
    QCOMPARE(int(pRecord->valid), 1);
    QCOMPARE(int(pRecord->dataSize), 2);
    QCOMPARE(int(pRecord->attributes), 0x90);
    QCOMPARE(smc.m_nInfoCalls, 1);

    // Cached: no second call, and the copy agrees.
    QCOMPARE(smc.applesmc_get_entry_by_index(8), pRecord);
    applesmc_entry copy;
    QVERIFY(smc.copyEntryByIndex(8, &copy));
    QCOMPARE(memcmp(&copy, pRecord, sizeof(copy)), 0);
    QCOMPARE(smc.m_nInfoCalls, 1);

    // A new LoadRegisters starts from an empty cache.
    smc.LoadRegisters();
    QVERIFY(smc.applesmc_get_entry_by_index(8));
    QCOMPARE(smc.m_nInfoCalls, 2);
}

void TestSmcKeyLayer::failedFetchIsNotCached()
{
    QCountingSmcControl smc(keysFrom(kMixedTable));
    smc.LoadRegisters();
    smc.m_FailOnce.insert(3);

    QVERIFY(!smc.applesmc_get_entry_by_index(3));
    applesmc_entry copy;
    memset(&copy, 0x5A, sizeof(copy));
    QVERIFY(smc.copyEntryByIndex(3, &copy)); // fetched again, now it works
    QCOMPARE(QByteArray(copy.key), QByteArray("FNum"));
    QCOMPARE(smc.m_nInfoCalls, 2);
    QVERIFY(smc.applesmc_get_entry_by_index(3));
    QCOMPARE(smc.m_nInfoCalls, 2);

    smc.m_FailAlways.insert(4);
    for (int i = 0; i < 3; ++i)
        QVERIFY(!smc.applesmc_get_entry_by_index(4));
    QCOMPARE(smc.m_nInfoCalls, 5);
    memset(&copy, 0x5A, sizeof(copy));
    QVERIFY(!smc.copyEntryByIndex(4, &copy));
    QCOMPARE(int(static_cast<unsigned char>(copy.key[0])), 0x5A); // untouched on failure
}

void TestSmcKeyLayer::outOfRangeIndex()
{
    QCountingSmcControl smc(keysFrom(kMixedTable));
    QVERIFY(!smc.applesmc_get_entry_by_index(0)); // before LoadRegisters there is no cache
    smc.LoadRegisters();
    QVERIFY(!smc.applesmc_get_entry_by_index(20));
    QVERIFY(!smc.applesmc_get_entry_by_index(-1));
    QCOMPARE(smc.m_nInfoCalls, 0);
}

void TestSmcKeyLayer::lowerBound_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("failingIndex");
    QTest::addColumn<int>("result");
    QTest::addColumn<uint>("expected");
    QTest::newRow("before everything") << " " << -1 << 0 << 0u;
    QTest::newRow("exact first") << "#KEY" << -1 << 0 << 0u;
    QTest::newRow("T") << "T" << -1 << 0 << 7u;
    QTest::newRow("exact middle") << "TC0P" << -1 << 0 << 10u;
    QTest::newRow("between keys") << "TC0Q" << -1 << 0 << 11u;
    QTest::newRow("U") << "U" << -1 << 0 << 16u;
    QTest::newRow("after lower-case") << "u" << -1 << 0 << 20u;
    QTest::newRow("blank is significant") << "FS!" << -1 << 0 << 4u;
    QTest::newRow("first probe fails") << "T" << 10 << -1 << 0u;
}

void TestSmcKeyLayer::lowerBound()
{
    QFETCH(QString, key);
    QFETCH(int, failingIndex);
    QFETCH(int, result);
    QFETCH(uint, expected);

    QCountingSmcControl smc(keysFrom(kMixedTable));
    smc.LoadRegisters();
    if (failingIndex >= 0)
        smc.m_FailAlways.insert(failingIndex);
    unsigned int lo = 12345;
    QCOMPARE(smc.applesmc_get_lower_bound(&lo, key.toLatin1().constData()), result);
    QCOMPARE(lo, expected);

    QCountingSmcControl empty;
    empty.LoadRegisters();
    lo = 12345;
    QCOMPARE(empty.applesmc_get_lower_bound(&lo, key.toLatin1().constData()), 0);
    QCOMPARE(lo, 0u);
}

void TestSmcKeyLayer::temperatureKeys_data()
{
    QTest::addColumn<QStringList>("table");
    QTest::addColumn<QList<int>>("failOnce");
    QTest::addColumn<QList<int>>("failAlways");
    QTest::addColumn<QStringList>("expected");

    const QStringList mixedExpected = {"TA0P", "TB0T", "TC0D", "TC0P",
                                       "TCFC", "TN0H", "Te1P", "Tm0P"};
    QTest::newRow("mixed table") << kMixedTable << QList<int>() << QList<int>() << mixedExpected;
    QTest::newRow("no keys") << QStringList() << QList<int>() << QList<int>() << QStringList();
    QTest::newRow("no T keys") << QStringList{"#KEY|ui32", "FNum|ui8 ", "ta0p|sp78"} << QList<int>()
                               << QList<int>() << QStringList();
    QTest::newRow("only T keys") << QStringList{"T000|sp78", "T001|sp78", "TZZZ|sp78"}
                                 << QList<int>() << QList<int>()
                                 << QStringList{"T000", "T001", "TZZZ"};
    QTest::newRow("type must be sp78 exactly")
        << QStringList{"TA0P|sp78", "TB0P|sp79", "TC0P|SP78", "TD0P|sp7 ", "TE0P|fpe2"}
        << QList<int>() << QList<int>() << QStringList{"TA0P"};
    // The first probe of the "T" search fails once: the range starts at index 0, so an sp78
    // key sorting before "T" is taken too.
    QTest::newRow("T search fails")
        << kMixedTable << QList<int>{10} << QList<int>() << QStringList{"SB0T"} + mixedExpected;
    // An index the "U" search needs can never be fetched: nothing is appended.
    QTest::newRow("U search fails")
        << kMixedTable << QList<int>() << QList<int>{15} << QStringList();
    // A record inside the range that cannot be fetched is skipped.
    QTest::newRow("record in range fails")
        << kMixedTable << QList<int>() << QList<int>{9}
        << QStringList{"TA0P", "TB0T", "TC0P", "TCFC", "TN0H", "Te1P", "Tm0P"};
}

void TestSmcKeyLayer::temperatureKeys()
{
    QFETCH(QStringList, table);
    QFETCH(QList<int>, failOnce);
    QFETCH(QList<int>, failAlways);
    QFETCH(QStringList, expected);

    const QVector<FakeKey> keys = keysFrom(table);
    QCountingSmcControl smc(keys);
    for (int i : failOnce)
        smc.m_FailOnce.insert(i);
    for (int i : failAlways)
        smc.m_FailAlways.insert(i);

    QVector<QString> found{QStringLiteral("kept")};
    smc.LoadTempSensors(found);
    QCOMPARE(found.first(), QStringLiteral("kept")); // appends, never clears
    found.removeFirst();
    QCOMPARE(QStringList(found.toList()), expected);
    QVERIFY(!smc.m_bOverlap);

    // One read of "#KEY", and one fetch per distinct record the two searches and the range
    // walk needed (with a retry for each record that failed once).
    if (failAlways.isEmpty() && !keys.isEmpty()) {
        std::set<int> visited;
        unsigned first = referenceLowerBound(keys, "T", visited);
        if (!failOnce.isEmpty())
            first = 0;
        const unsigned last = referenceLowerBound(keys, "U", visited);
        for (unsigned i = first; i < last; ++i)
            visited.insert(static_cast<int>(i));
        QCOMPARE(smc.m_nReadCalls, 1);
        QCOMPARE(smc.m_nInfoCalls, static_cast<int>(visited.size()) + failOnce.size());
        QCOMPARE(smc.m_Visited, visited);
    }
}

void TestSmcKeyLayer::readAndWriteForwardOneCall()
{
    QCountingSmcControl smc;
    smc.setKeyCount(0x01020304);
    unsigned char buffer[6] = {9, 9, 9, 9, 9, 9};
    QCOMPARE(smc.ReadKey("#KEY", buffer, 4), 0);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(buffer), 6),
             QByteArray("\x01\x02\x03\x04\x09\x09"));
    const int nBefore = settledLineCount(m_pLog);
    QCOMPARE(smc.ReadKey("F0Ac", buffer, 2), -1);
    QCOMPARE(newLines(m_pLog, nBefore), QStringList()); // a failed read is only its result
    QCOMPARE(smc.WriteKey("F0Tg", buffer, 2), 0);
    QCOMPARE(smc.m_nReadCalls, 2);
    QCOMPARE(smc.m_nWriteCalls, 1);
}

// Enumeration on one thread while others fetch, search and read: every backend call runs
// alone, and no fetch ever touches a cache that LoadRegisters released.
void TestSmcKeyLayer::concurrentLoadAndFetch()
{
    QVector<FakeKey> keys = keysFrom(kMixedTable);
    for (int i = 0; i < 400; ++i)
        keys.append({QStringLiteral("u%1").arg(i, 3, 10, QLatin1Char('0')).toLatin1(), "ui8 ", 1});
    QCountingSmcControl smc(keys);
    smc.LoadRegisters();

    std::atomic<bool> bStop{false};
    std::atomic<int> nBadResults{0};
    const QStringList expected = {"TA0P", "TB0T", "TC0D", "TC0P", "TCFC", "TN0H", "Te1P", "Tm0P"};

    QThreadPool pool;
    pool.setMaxThreadCount(4);
    QFuture<void> loader = QtConcurrent::run(&pool, [&] {
        for (int i = 0; i < 300; ++i) {
            QVector<QString> found;
            smc.LoadTempSensors(found);
            if (QStringList(found.toList()) != expected)
                ++nBadResults;
        }
        bStop = true;
    });
    QFuture<void> fetcher = QtConcurrent::run(&pool, [&] {
        int index = 0;
        while (!bStop) {
            applesmc_entry entry;
            if (smc.copyEntryByIndex(index, &entry) && QByteArray(entry.key) != keys.at(index).key)
                ++nBadResults;
            index = (index + 7) % keys.size();
        }
    });
    QFuture<void> searcher = QtConcurrent::run(&pool, [&] {
        while (!bStop) {
            unsigned int lo = 0;
            if (smc.applesmc_get_lower_bound(&lo, "TC0P") == 0 && lo != 10 && smc.keyCount() != 0)
                ++nBadResults;
        }
    });
    QFuture<void> reader = QtConcurrent::run(&pool, [&] {
        unsigned char buffer[4];
        while (!bStop)
            smc.ReadKey("#KEY", buffer, 4);
    });
    loader.waitForFinished();
    fetcher.waitForFinished();
    searcher.waitForFinished();
    reader.waitForFinished();

    QVERIFY(!smc.m_bOverlap);
    QCOMPARE(nBadResults.load(), 0);
}

void TestSmcKeyLayer::processWideInstance()
{
    bool bDestroyed = false;
    auto* pFirst = new QCountingSmcControl;
    pFirst->m_pDestroyed = &bDestroyed;
    QSmcControl::setInstance(pFirst);
    QCOMPARE(QSmcControl::instance(), pFirst);
    QSmcControl::setInstance(pFirst); // the same object again is kept, not destroyed
    QVERIFY(!bDestroyed);

    auto* pSecond = new QCountingSmcControl;
    QSmcControl::setInstance(pSecond);
    QVERIFY(bDestroyed);
    QCOMPARE(QSmcControl::instance(), pSecond);
    QSmcControl::destroyInstance();

    // Without a simulator to talk to, this machine has no SMC: the platform backend exists
    // but cannot be opened, and every read fails.
    qunsetenv("THERMORA_SMC_SOCKET");
    QSmcControl* pPlatform = QSmcControl::instance();
    QVERIFY(pPlatform);
    QCOMPARE(QSmcControl::instance(), pPlatform);
    QVERIFY(!pPlatform->Open());
    unsigned char buffer[2] = {0, 0};
    QCOMPARE(pPlatform->ReadKey("F0Ac", buffer, 2), -1);
    QSmcControl::destroyInstance();

    // A socket that nobody serves cannot be opened either.
    qputenv("THERMORA_SMC_SOCKET", QDir::temp().filePath("thermora-no-such.sock").toLocal8Bit());
    QVERIFY(!QSmcControl::instance()->Open());
    QSmcControl::destroyInstance();
    qunsetenv("THERMORA_SMC_SOCKET");
}

QTEST_GUILESS_MAIN(TestSmcKeyLayer)
#include "tst_smckeylayer.moc"
