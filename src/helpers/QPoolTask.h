#pragma once

#include <QRunnable>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class QThreadPool;

// One function run on a thread pool at a time, with the hand-offs the thread sanitizer can see:
// the task exists before the pool is told to run it (so a reused pool thread takes it through
// ThreadHandoff), and its end is announced through a std::condition_variable. The owner starts
// it, asks whether it runs and waits for it, all from one thread.
class QPoolTask
{
public:
    QPoolTask() = default;
    ~QPoolTask() { waitForFinished(); }
    QPoolTask(const QPoolTask&) = delete;
    QPoolTask& operator=(const QPoolTask&) = delete;

    // Waits for the previous run, then runs function on the pool.
    void start(QThreadPool* pPool, std::function<void()> function);
    bool isRunning() const;
    void waitForFinished();

private:
    class Runnable : public QRunnable
    {
    public:
        Runnable(QPoolTask* pOwner, std::function<void()> function)
            : m_pOwner(pOwner), m_Function(std::move(function))
        {
            setAutoDelete(false);
        }
        void run() override;

    private:
        QPoolTask* m_pOwner;
        std::function<void()> m_Function;
    };

    mutable std::mutex m_Mutex;
    std::condition_variable m_Finished;
    bool m_bRunning = false;
    std::unique_ptr<Runnable> m_pRunnable;
};
