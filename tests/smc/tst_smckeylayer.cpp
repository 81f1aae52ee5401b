// The key layer over a counting fake backend: key count, record cache, index search,
// temperature-key enumeration and the lock discipline.
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
};

// A controller with a sorted key index. Counts every call, fails where told to, and notices
// two calls running at once (the key layer must never let that happen).
class QCountingSmcControl : public QSmcControl
{
public:
    explicit QCountingSmcControl(const QVector<FakeKey>& keys = {}) : m_Keys(keys)
    {
        qToBigEndian(quint32(keys.size()), m_Count);
    }
    bool Open() override { return true; }
    void Close() override {}
    int OS_GetKeyInfoByIndex(int index, applesmc_entry* entry) override
    {
        Enter enter(this);
        m_Visited.insert(index);
        ++m_nInfoCalls;
        if (m_FailAlways.contains(index) || m_FailOnce.remove(index) || index >= m_Keys.size())
            return -1;
        memcpy(entry->key, m_Keys.at(index).key.constData(), 4);
        memcpy(entry->dataType, m_Keys.at(index).type.constData(), 4);
        entry->dataSize = 2;
        entry->attributes = 0x90;
        return 0;
    }
    int OS_ReadKey(const char* key, unsigned char* buffer, unsigned char size) override
    {
        Enter enter(this);
        ++m_nReadCalls;
        if (strcmp(key, "#KEY") != 0 || m_bCountFails)
            return -1;
        memcpy(buffer, m_Count, qMin<int>(size, 4));
        return 0;
    }
    int OS_WriteKey(const char*, const unsigned char*, unsigned char) override
    {
        Enter enter(this);
        return ++m_nWriteCalls > 0 ? 0 : -1;
    }

    QVector<FakeKey> m_Keys;
    unsigned char m_Count[4];
    bool m_bCountFails = false;
    QSet<int> m_FailAlways, m_FailOnce;
    std::set<int> m_Visited;
    int m_nInfoCalls = 0, m_nReadCalls = 0, m_nWriteCalls = 0;
    std::atomic<int> m_nInside{0};
    std::atomic<bool> m_bOverlap{false};

private:
    struct Enter
    {
        explicit Enter(QCountingSmcControl* p) : m_p(p)
        {
            if (m_p->m_nInside.fetch_add(1) != 0)
                m_p->m_bOverlap = true;
            QThread::yieldCurrentThread(); // give an unlocked caller the chance to overlap
        }
        ~Enter() { m_p->m_nInside.fetch_sub(1); }
        QCountingSmcControl* m_p;
    };
};

// "KEY |type" rows, four characters each side of the bar.
QVector<FakeKey> keysFrom(const QStringList& rows)
{
    QVector<FakeKey> keys;
    for (const QString& row : rows)
        keys.append({row.left(4).toLatin1(), row.mid(5, 4).toLatin1()});
    return keys;
}

// Around the temperature keys: lower-case t keys sort after "U".
const QStringList kMixed = {"#KEY|ui32", "ACID|ch8*", "F0Ac|fpe2", "FNum|ui8 ", "FS! |ui16",
                            "LSOF|flag", "SB0T|sp78", "TA0P|sp78", "TB0T|sp78", "TC0D|sp78",
                            "TC0P|sp78", "TCFC|sp78", "TG0D|ui16", "TN0H|sp78", "Te1P|sp78",
                            "Tm0P|sp78", "U000|sp78", "VC0C|sp3c", "ta0p|sp78", "tc0c|sp78"};
QVector<FakeKey> mixedTable()
{
    return keysFrom(kMixed);
}

const QStringList kMixedTemperatures = {"TA0P", "TB0T", "TC0D", "TC0P",
                                        "TCFC", "TN0H", "Te1P", "Tm0P"};

} // namespace

class TestSmcKeyLayer : public QObject
{
    Q_OBJECT

private slots:
    void keyCount_data();
    void keyCount();
    void recordCache();
    void lowerBound_data();
    void lowerBound();
    void temperatureKeys_data();
    void temperatureKeys();
    void concurrentCallsRunOneAtATime();
};

void TestSmcKeyLayer::keyCount_data()
{
    QTest::addColumn<quint32>("reported");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<quint32>("expected");
    QTest::addColumn<QString>("logged");
    QTest::newRow("five keys") << 5u << false << 5u << "INFO.*LoadRegisters: 83886080, 5, 0";
    QTest::newRow("largest believed")
        << 65535u << false << 65535u << "LoadRegisters: \\d+, 65535, 0";
    QTest::newRow("65536 is garbage")
        << 65536u << false << 0u << "ERROR.*LoadRegisters: unable to read value";
    QTest::newRow("unreadable keeps the cache")
        << 5u << true << 20u << "LoadRegisters: 20, 335544320, -1";
}

// The count and its log lines; a garbage or unreadable count enumerates nothing new.
void TestSmcKeyLayer::keyCount()
{
    QFETCH(quint32, reported);
    QFETCH(bool, fails);
    QFETCH(quint32, expected);
    QFETCH(QString, logged);
    static auto pLog = QSharedPointer<QMemoryLogDestination>::create();
    static bool bAdded = (QsLogging::Logger::instance().addDestination(pLog), true);
    QVERIFY(bAdded);
    QsLogging::Logger::instance().waitForWrites();
    const int nBefore = pLog->lines().size();

    QCountingSmcControl smc(mixedTable());
    smc.LoadRegisters();
    applesmc_entry* pRecord = smc.applesmc_get_entry_by_index(19);
    QVERIFY(pRecord);
    qToBigEndian(reported, smc.m_Count);
    smc.m_bCountFails = fails;
    if (fails)
        memset(smc.m_Count, 0, 4);
    smc.LoadRegisters();
    QCOMPARE(smc.keyCount(), expected);
    // A kept cache keeps its records; a new one starts empty and ends at the new count.
    QCOMPARE(smc.applesmc_get_entry_by_index(19) == pRecord, fails);
    QCOMPARE(smc.applesmc_get_entry_by_index(int(expected)), nullptr);
    QsLogging::Logger::instance().waitForWrites();
    const QStringList lines = pLog->lines().mid(nBefore);
    QCOMPARE(lines.filter(QRegularExpression(logged)).size(), 1);
    QCOMPARE(lines.filter("unable to read value").size(), expected == 0 ? 1 : 0);
}

void TestSmcKeyLayer::recordCache()
{
    QCountingSmcControl smc(mixedTable());
    QVERIFY(!smc.applesmc_get_entry_by_index(0)); // no cache before LoadRegisters
    smc.LoadRegisters();
    QVERIFY(!smc.applesmc_get_entry_by_index(-1));
    QCOMPARE(smc.m_nInfoCalls, 0);

    applesmc_entry* pRecord = smc.applesmc_get_entry_by_index(8);
    QVERIFY(pRecord);
    QCOMPARE(QByteArray(pRecord->key, 5), QByteArray("TB0T", 5));
    QCOMPARE(QByteArray(pRecord->dataType, 5), QByteArray("sp78", 5));
    QCOMPARE(int(pRecord->valid), 1);
    QCOMPARE(int(pRecord->attributes), 0x90);
    QCOMPARE(smc.applesmc_get_entry_by_index(8), pRecord); // cached: fetched once
    applesmc_entry copy;
    QVERIFY(smc.copyEntryByIndex(8, &copy));
    QCOMPARE(memcmp(&copy, pRecord, sizeof copy), 0);
    QCOMPARE(smc.m_nInfoCalls, 1);

    smc.m_FailOnce.insert(3); // a failed fetch is not cached: the next one asks again
    QVERIFY(!smc.applesmc_get_entry_by_index(3));
    QVERIFY(smc.applesmc_get_entry_by_index(3));
    QCOMPARE(smc.m_nInfoCalls, 3);
    smc.m_FailAlways.insert(4);
    memset(&copy, 0x5A, sizeof copy);
    QVERIFY(!smc.copyEntryByIndex(4, &copy));
    QCOMPARE(int(copy.valid), 0x5A); // untouched on failure

    unsigned char buffer[6] = {9, 9, 9, 9, 9, 9};
    QCOMPARE(smc.ReadKey("#KEY", buffer, 4), 0);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(buffer), 6), QByteArray("\0\0\0\x14\x09\x09", 6));
    QCOMPARE(smc.ReadKey("F0Ac", buffer, 2), -1);
    QCOMPARE(smc.WriteKey("F0Tg", buffer, 2), 0);
    QCOMPARE(smc.m_nWriteCalls, 1);
}

void TestSmcKeyLayer::lowerBound_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<int>("failing");
    QTest::addColumn<int>("result");
    QTest::addColumn<uint>("expected");
    QTest::newRow("before everything") << QByteArray(" ") << -1 << 0 << 0u;
    QTest::newRow("exact first") << QByteArray("#KEY") << -1 << 0 << 0u;
    QTest::newRow("T") << QByteArray("T") << -1 << 0 << 7u;
    QTest::newRow("exact middle") << QByteArray("TC0P") << -1 << 0 << 10u;
    QTest::newRow("between keys") << QByteArray("TC0Q") << -1 << 0 << 11u;
    QTest::newRow("after everything") << QByteArray("u") << -1 << 0 << 20u;
    QTest::newRow("blank is significant") << QByteArray("FS!") << -1 << 0 << 4u;
    QTest::newRow("a probe fails") << QByteArray("T") << 10 << -1 << 0u;
}

void TestSmcKeyLayer::lowerBound()
{
    QFETCH(QByteArray, key);
    QFETCH(int, failing);
    QFETCH(int, result);
    QFETCH(uint, expected);
    QCountingSmcControl smc(mixedTable());
    smc.LoadRegisters();
    smc.m_FailAlways.insert(failing);
    unsigned int lo = 12345;
    QCOMPARE(smc.applesmc_get_lower_bound(&lo, key.constData()), result);
    QCOMPARE(lo, expected);
    std::set<int> visited;
    referenceLowerBound(smc.m_Keys, key.constData(), visited);
    if (result == 0)
        QCOMPARE(smc.m_Visited, visited); // a binary search, not a walk

    QCountingSmcControl empty;
    empty.LoadRegisters();
    lo = 12345;
    QCOMPARE(empty.applesmc_get_lower_bound(&lo, key.constData()), 0);
    QCOMPARE(lo, 0u);
}

void TestSmcKeyLayer::temperatureKeys_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<int>("failOnce");
    QTest::addColumn<int>("failAlways");
    QTest::addColumn<QStringList>("expected");
    const QStringList noKeys;
    QTest::newRow("mixed table") << kMixed << -1 << -1 << kMixedTemperatures;
    QTest::newRow("no keys") << QStringList() << -1 << -1 << noKeys;
    QTest::newRow("type must be sp78 exactly")
        << QStringList{"TA0P|sp78", "TB0P|sp79", "TC0P|SP78", "TD0P|sp7 "} << -1 << -1
        << QStringList{"TA0P"};
    // The "T" search fails once: the range starts at 0 and takes an sp78 key before "T".
    QTest::newRow("T search fails")
        << kMixed << 10 << -1 << QStringList{"SB0T"} + kMixedTemperatures;
    QTest::newRow("U search fails") << kMixed << -1 << 15 << noKeys;
    QStringList inRange = kMixedTemperatures;
    inRange.removeAt(2);
    QTest::newRow("record in range fails") << kMixed << -1 << 9 << inRange;
}

void TestSmcKeyLayer::temperatureKeys()
{
    QFETCH(QStringList, rows);
    const QVector<FakeKey> table = keysFrom(rows);
    QFETCH(int, failOnce);
    QFETCH(int, failAlways);
    QFETCH(QStringList, expected);
    QCountingSmcControl smc(table);
    smc.m_FailOnce.insert(failOnce);
    smc.m_FailAlways.insert(failAlways);
    QVector<QString> found{"kept"};
    smc.LoadTempSensors(found);
    QCOMPARE(QStringList(found.toList()), QStringList{"kept"} + expected); // appends
    if (failOnce < 0 && failAlways < 0) {
        // One "#KEY" read and one fetch per record the searches and the range walk needed.
        std::set<int> visited;
        const unsigned first = referenceLowerBound(table, "T", visited);
        const unsigned last = referenceLowerBound(table, "U", visited);
        for (unsigned i = first; i < last; ++i)
            visited.insert(int(i));
        QCOMPARE(smc.m_nReadCalls, 1);
        QCOMPARE(smc.m_Visited, visited);
        QCOMPARE(smc.m_nInfoCalls, int(visited.size()));
    }
}

// Enumeration on one thread while others fetch, search, read and write: every backend call
// runs alone, and no fetch touches a cache that LoadRegisters released.
void TestSmcKeyLayer::concurrentCallsRunOneAtATime()
{
    QCountingSmcControl smc(mixedTable());
    smc.LoadRegisters();
    std::atomic<bool> bStop{false};
    std::atomic<int> nBad{0};
    QThreadPool pool;
    pool.setMaxThreadCount(4);
    QFuture<void> loader = QtConcurrent::run(&pool, [&] {
        for (int i = 0; i < 300; ++i) {
            QVector<QString> found;
            smc.LoadTempSensors(found);
            nBad += QStringList(found.toList()) != kMixedTemperatures;
        }
        bStop = true;
    });
    QFuture<void> fetcher = QtConcurrent::run(&pool, [&] {
        for (int index = 0; !bStop; index = (index + 7) % 20) {
            applesmc_entry entry;
            nBad += smc.copyEntryByIndex(index, &entry) &&
                    QByteArray(entry.key) != smc.m_Keys.at(index).key;
        }
    });
    QFuture<void> searcher = QtConcurrent::run(&pool, [&] {
        for (unsigned int lo = 0; !bStop;)
            nBad += smc.applesmc_get_lower_bound(&lo, "TC0P") == 0 && lo != 10;
    });
    QFuture<void> rw = QtConcurrent::run(&pool, [&] {
        unsigned char buffer[4];
        while (!bStop) {
            smc.ReadKey("#KEY", buffer, 4);
            smc.WriteKey("F0Tg", buffer, 2);
        }
    });
    for (QFuture<void>* p : {&loader, &fetcher, &searcher, &rw})
        p->waitForFinished();
    QVERIFY(!smc.m_bOverlap);
    QCOMPARE(nBad.load(), 0);
}

QTEST_GUILESS_MAIN(TestSmcKeyLayer)
#include "tst_smckeylayer.moc"
