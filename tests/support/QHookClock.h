#pragma once

#include "helpers/QClock.h"

#include <functional>

// A manual clock that runs a hook once, at its next reading: a test acts at an exact point inside
// code that asks for the time (for example between a control pass's copy of a fan's mode and
// its write). Single-threaded use.
class QHookClock : public QManualClock
{
public:
    qint64 msecsSinceEpoch() const override
    {
        if (onNextRead) {
            const std::function<void()> hook = std::move(onNextRead);
            onNextRead = nullptr;
            hook();
        }
        return QManualClock::msecsSinceEpoch();
    }

    mutable std::function<void()> onNextRead;
};
