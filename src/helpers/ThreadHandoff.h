#pragma once

// Qt's thread pool and queued signals hand work from one thread to another through locks inside
// the Qt libraries. When Qt is not built with the thread sanitizer, those locks are invisible to
// it, and every hand-off would be reported as a race. The project marks its own hand-offs: the
// giving side calls ThreadHandoff::give(p) before it passes the work on, the taking side calls
// ThreadHandoff::take(p) before it reads what it was given. Both compile to nothing unless the
// thread sanitizer is on.

#if defined(__SANITIZE_THREAD__)
#define THERMORA_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define THERMORA_THREAD_SANITIZER 1
#endif
#endif

#ifdef THERMORA_THREAD_SANITIZER
#include <sanitizer/tsan_interface.h>
#endif

namespace ThreadHandoff {

inline void give(const void* pToken)
{
#ifdef THERMORA_THREAD_SANITIZER
    __tsan_release(const_cast<void*>(pToken));
#else
    (void)pToken;
#endif
}

inline void take(const void* pToken)
{
#ifdef THERMORA_THREAD_SANITIZER
    __tsan_acquire(const_cast<void*>(pToken));
#else
    (void)pToken;
#endif
}

// A worker's whole run: it takes what its starter handed over when it begins and gives back
// what it did when it ends, for whoever waits for it to finish.
class WorkerScope
{
public:
    explicit WorkerScope(const void* pToken) : m_pToken(pToken) { take(m_pToken); }
    ~WorkerScope() { give(m_pToken); }
    WorkerScope(const WorkerScope&) = delete;
    WorkerScope& operator=(const WorkerScope&) = delete;

private:
    const void* m_pToken;
};

} // namespace ThreadHandoff
