#include "helpers/QClock.h"

namespace {
class QSystemClock : public QClock
{
public:
    qint64 msecsSinceEpoch() const override { return QDateTime::currentMSecsSinceEpoch(); }
};
} // namespace

QClock* QClock::system()
{
    static QSystemClock clock;
    return &clock;
}
