// The key layer: key count, record cache, index search, temperature keys, lock discipline.
#include "smc/smc.h"
#include "support/QMemoryLogDestination.h"

#include <QRegularExpression>
#include <QSet>
#include <QtEndian>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <thread>

namespace {

// "KEY |type" rows; keys sort byte-wise, lower-case t keys after "U".
const QStringList kMixed = {"#KEY|ui32", "ACID|ch8*", "F0Ac|fpe2", "FNum|ui8 ", "FS! |ui16",
                            "LSOF|flag", "SB0T|sp78", "TA0P|sp78", "TB0T|sp78", "TC0D|sp78",
                            "TC0P|sp78", "TCFC|sp78", "TG0D|ui16", "TN0H|sp78", "Te1P|sp78",
                            "Tm0P|sp78", "U000|sp78", "VC0C|sp3c", "ta0p|sp78", "tc0c|sp78"};
const QStringList kMixedTemperatures = {"TA0P", "TB0T", "TC0D", "TC0P",
                                        "TCFC", "TN0H", "Te1P", "Tm0P"};

// The lower bound done independently, with the records it visited (those to be fetched).
unsigned referenceLowerBound(const QStringList& rows, const char* key, std::set<int>& visited)
{
    unsigned begin = 0;
    for (unsigned end = unsigned(rows.size()); begin != end;) {
        const unsigned middle = begin + (end - begin) / 2;
        visited.insert(int(middle));
        if (rows.at(int(middle)).left(4).toLatin1() < QByteArray(key))
            begin = middle + 1;
        else
            end = middle;
    }
    return begin;
}

// Counts every call, fails where told to, and notices two calls running at once.
class QCountingSmcControl : public QSmcControl
{
public:
    explicit QCountingSmcControl(const QStringList& rows = kMixed) : m_Keys(rows)
    {
        qToBigEndian(quint32(m_Keys.size()), m_Count);
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
        memcpy(entry->key, m_Keys.at(index).toLatin1().constData(), 4);
        memcpy(entry->dataType, m_Keys.at(index).mid(5).toLatin1().constData(), 4);
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

    QStringList m_Keys;
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
            m_p->m_bOverlap = m_p->m_bOverlap || m_p->m_nInside.fetch_add(1) != 0;
            std::this_thread::yield(); // give an unlocked caller the chance to overlap
        }
        ~Enter() { m_p->m_nInside.fetch_sub(1); }
        QCountingSmcControl* m_p;
    };
};

} // namespace

// The count and its log lines; a garbage or unreadable count enumerates nothing new.
TEST(SmcKeyLayer, KeyCount)
{
    auto pLog = QSharedPointer<QMemoryLogDestination>::create();
    QsLogging::Logger::instance().addDestination(pLog);
    auto row = [&](quint32 reported, bool fails, quint32 expected, const QString& logged) {
        SCOPED_TRACE(logged.toStdString());
        QCountingSmcControl smc;
        smc.LoadRegisters();
        applesmc_entry* pRecord = smc.applesmc_get_entry_by_index(19);
        ASSERT_TRUE(pRecord);
        qToBigEndian(reported, smc.m_Count);
        smc.m_bCountFails = fails;
        QsLogging::Logger::instance().waitForWrites();
        const int nBefore = pLog->lines().size();
        smc.LoadRegisters();
        EXPECT_EQ(smc.keyCount(), expected);
        // A kept cache keeps its records; a new one starts empty and ends at the new count.
        EXPECT_EQ(smc.applesmc_get_entry_by_index(19) == pRecord, fails);
        EXPECT_EQ(smc.applesmc_get_entry_by_index(int(expected)), nullptr);
        QsLogging::Logger::instance().waitForWrites();
        const QStringList lines = pLog->lines().mid(nBefore);
        EXPECT_EQ(lines.filter(QRegularExpression(logged)).size(), 1)
            << lines.join("|").toStdString();
        EXPECT_EQ(lines.filter("unable to read value").size(), expected == 0 ? 1 : 0);
    };
    row(5, false, 5, "^INFO.*LoadRegisters: 83886080, 5, 0");
    row(65535, false, 65535, "LoadRegisters: 4294901760, 65535, 0");
    row(65536, false, 0, "^ERROR.*LoadRegisters: unable to read value");
    row(5, true, 20, "LoadRegisters: 20, 335544320, -1"); // the bytes left as they were
}

TEST(SmcKeyLayer, RecordCache)
{
    QCountingSmcControl smc;
    EXPECT_FALSE(smc.applesmc_get_entry_by_index(0)); // no cache before LoadRegisters
    smc.LoadRegisters();
    EXPECT_FALSE(smc.applesmc_get_entry_by_index(-1));
    EXPECT_EQ(smc.m_nInfoCalls, 0);

    applesmc_entry* pRecord = smc.applesmc_get_entry_by_index(8);
    ASSERT_TRUE(pRecord);
    // "TB0T", valid, size (not reported here), "sp78", attributes.
    EXPECT_EQ(QByteArray(reinterpret_cast<char*>(pRecord), 13).toHex(),
              "54423054000100737037380090");
    EXPECT_EQ(smc.applesmc_get_entry_by_index(8), pRecord); // cached: fetched once
    applesmc_entry copy;
    EXPECT_TRUE(smc.copyEntryByIndex(8, &copy) && copy.key[0] == 'T' && smc.m_nInfoCalls == 1);

    smc.m_FailOnce.insert(3); // a failed fetch is not cached: the next one asks again
    EXPECT_FALSE(smc.applesmc_get_entry_by_index(3));
    EXPECT_TRUE(smc.applesmc_get_entry_by_index(3));
    EXPECT_EQ(smc.m_nInfoCalls, 3);
    smc.m_FailAlways.insert(4);
    memset(&copy, 0x5A, sizeof copy);
    EXPECT_FALSE(smc.copyEntryByIndex(4, &copy));
    EXPECT_EQ(copy.valid, 0x5A); // untouched on failure

    unsigned char buffer[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(smc.ReadKey("#KEY", buffer, 4), 0);
    EXPECT_EQ(QByteArray(reinterpret_cast<char*>(buffer), 6).toHex(), "000000140909");
    EXPECT_EQ(smc.ReadKey("F0Ac", buffer, 2), -1);
    EXPECT_EQ(smc.WriteKey("F0Tg", buffer, 2), 0);
    EXPECT_EQ(smc.m_nWriteCalls, 1);
}

// A binary search over the index: the answer, and exactly the records it had to fetch.
TEST(SmcKeyLayer, LowerBound)
{
    auto row = [](const char* key, int failing, int result, unsigned expected) {
        SCOPED_TRACE(key);
        QCountingSmcControl smc;
        smc.LoadRegisters();
        smc.m_FailAlways.insert(failing);
        unsigned int lo = 12345;
        EXPECT_EQ(smc.applesmc_get_lower_bound(&lo, key), result);
        EXPECT_EQ(lo, expected);
        std::set<int> visited;
        referenceLowerBound(smc.m_Keys, key, visited);
        EXPECT_EQ(smc.m_Visited == visited, result == 0);
    };
    row(" ", -1, 0, 0);
    row("#KEY", -1, 0, 0);
    row("T", -1, 0, 7);
    row("TC0P", -1, 0, 10);
    row("TC0Q", -1, 0, 11);
    row("u", -1, 0, 20);
    row("FS!", -1, 0, 4); // the blank is significant
    row("T", 10, -1, 0);  // a probe fails
}

TEST(SmcKeyLayer, TemperatureKeys)
{
    auto row = [](const QStringList& rows, int failOnce, int failAlways, QStringList expected) {
        SCOPED_TRACE(expected.join(',').toStdString());
        QCountingSmcControl smc(rows);
        smc.m_FailOnce.insert(failOnce);
        smc.m_FailAlways.insert(failAlways);
        QVector<QString> found{"kept"};
        smc.LoadTempSensors(found);
        EXPECT_EQ(QStringList(found.toList()), QStringList{"kept"} + expected); // appends
        if (failOnce >= 0 || failAlways >= 0)
            return;
        // One "#KEY" read and one fetch per record the searches and the range walk needed.
        std::set<int> visited;
        const unsigned first = referenceLowerBound(smc.m_Keys, "T", visited);
        const unsigned last = referenceLowerBound(smc.m_Keys, "U", visited);
        for (unsigned i = first; i < last; ++i)
            visited.insert(int(i));
        EXPECT_EQ(smc.m_nReadCalls, 1);
        EXPECT_EQ(smc.m_Visited, visited);
        EXPECT_EQ(smc.m_nInfoCalls, int(visited.size()));
    };
    row(kMixed, -1, -1, kMixedTemperatures);
    row({}, -1, -1, {});
    row({"TA0P|sp78", "TB0P|sp79", "TC0P|SP78", "TD0P|sp7 "}, -1, -1, {"TA0P"});
    // The "T" search fails once: the range starts at 0 and takes an sp78 key before "T".
    row(kMixed, 10, -1, QStringList{"SB0T"} + kMixedTemperatures);
    row(kMixed, -1, 15, {}); // the "U" search fails
    QStringList inRange = kMixedTemperatures;
    inRange.removeAt(2);
    row(kMixed, -1, 9, inRange); // a record in the range fails
}

// Enumeration while another thread fetches, searches and writes: every call runs alone.
TEST(SmcKeyLayer, ConcurrentCallsRunOneAtATime)
{
    QCountingSmcControl smc;
    smc.LoadRegisters();
    std::atomic<bool> bStop{false};
    std::atomic<int> nBad{0};
    std::thread loader([&] {
        for (int i = 0; i < 300; ++i) {
            QVector<QString> found;
            smc.LoadTempSensors(found);
            nBad += QStringList(found.toList()) != kMixedTemperatures;
        }
        bStop = true;
    });
    std::thread other([&] {
        for (int index = 0; !bStop; index = (index + 7) % 20) {
            applesmc_entry entry;
            unsigned int lo = 0;
            nBad += smc.copyEntryByIndex(index, &entry) &&
                    QString(entry.key) != smc.m_Keys.at(index).left(4);
            nBad += smc.applesmc_get_lower_bound(&lo, "TC0P") == 0 && lo != 10;
            smc.ReadKey("#KEY", reinterpret_cast<uchar*>(&lo), 4);
            smc.WriteKey("F0Tg", reinterpret_cast<uchar*>(&lo), 2);
        }
    });
    loader.join();
    other.join();
    EXPECT_FALSE(smc.m_bOverlap);
    EXPECT_EQ(nBad.load(), 0);
}
