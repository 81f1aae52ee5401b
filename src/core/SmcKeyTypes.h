#pragma once

#include <QByteArray>
#include <QHash>

#include <mutex>
#include <string>

class QSmcControl;

// The type and size the controller reports for each key, looked up once in its key index and
// kept, so that every value is read and written in its own type (SmcCodecUtils). A key the index
// does not know (or an index that cannot be read) takes the caller's fallback: the layout
// older controllers use for that key. Thread safe.
class QSmcKeyTypes
{
public:
    struct Type
    {
        std::string code; // four characters, e.g. "fpe2", "flt "
        int nSize = 0;
    };

    explicit QSmcKeyTypes(QSmcControl* pSmc) : m_pSmc(pSmc) {}

    Type typeOf(const QByteArray& key, const Type& fallback);
    // Whether the controller's key index holds key.
    bool has(const QByteArray& key);

private:
    struct Entry
    {
        bool bKnown = false;
        Type type;
    };
    Entry lookUp(const QByteArray& key);

    QSmcControl* m_pSmc;
    std::mutex m_Mutex; // guards m_Cache only; never held across a controller call
    QHash<QByteArray, Entry> m_Cache;
};
