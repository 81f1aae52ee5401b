#include "helpers/QPoolTask.h"

#include "helpers/ThreadHandoff.h"

#include <QThreadPool>

void QPoolTask::Runnable::run()
{
    // The token is this object's address: nothing of it is read before the hand-off.
    ThreadHandoff::take(this);
    m_Function();
    QPoolTask* pOwner = m_pOwner;
    // Nothing of this object is touched after the owner learns of the end: it may delete it.
    std::lock_guard<std::mutex> lock(pOwner->m_Mutex);
    pOwner->m_bRunning = false;
    pOwner->m_Finished.notify_all();
}

void QPoolTask::start(QThreadPool* pPool, std::function<void()> function)
{
    waitForFinished();
    m_pRunnable.reset(new Runnable(this, std::move(function)));
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_bRunning = true;
    }
    ThreadHandoff::give(m_pRunnable.get());
    pPool->start(m_pRunnable.get());
}

bool QPoolTask::isRunning() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_bRunning;
}

void QPoolTask::waitForFinished()
{
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_Finished.wait(lock, [this] { return !m_bRunning; });
}
