/* worker_pool.cpp -- threads kept for the passes that share their work out. */
#include "foundation/worker_pool.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "foundation/random.h"

namespace {

struct PoolTask {
    void (*task)(void *);
    void *arg;
    WorkerBatch *batch;
};

struct PoolState {
    std::mutex lock;
    std::condition_variable queued; /* a task waits for a thread */
    std::condition_variable ended;  /* a task returned */
    std::deque<PoolTask> queue;
    int32_t idle = 0; /* threads waiting for a task */
    int64_t made = 0;
    int64_t started = 0;
};

/* Never destroyed: the kept threads wait on it while the program exits. */
PoolState &Pool()
{
    static PoolState *pool = new PoolState;
    return *pool;
}

void PoolThread()
{
    PoolState &pool = Pool();
    std::unique_lock<std::mutex> lock(pool.lock);
    for (;;) {
        pool.idle++;
        pool.queued.wait(lock, [&] { return !pool.queue.empty(); });
        pool.idle--;
        PoolTask t = pool.queue.front();
        pool.queue.pop_front();
        lock.unlock();
        /* What the last task selected is no business of this one. */
        SelectRandomSlot(RANDOM_PROGRAM_SLOT);
        t.task(t.arg);
        lock.lock();
        if (--t.batch->pending == 0) pool.ended.notify_all();
    }
}

} // namespace

int StartPoolTask(WorkerBatch *batch, void (*task)(void *), void *arg)
{
    PoolState &pool = Pool();
    {
        std::lock_guard<std::mutex> guard(pool.lock);
        /* Each queued task has a free thread of its own coming, or it would
        ** wait for another task of its pass to end, which may wait for it. */
        try {
            if (pool.idle <= (int32_t)pool.queue.size()) {
                std::thread(PoolThread).detach();
                pool.made++;
            }
            pool.queue.push_back(PoolTask{task, arg, batch});
        } catch (...) {
            return 0; /* a thread made all the same waits for the next task */
        }
        batch->pending++;
        pool.started++;
    }
    pool.queued.notify_one();
    return 1;
}

void WaitPoolTasks(WorkerBatch *batch)
{
    PoolState &pool = Pool();
    std::unique_lock<std::mutex> lock(pool.lock);
    pool.ended.wait(lock, [&] { return batch->pending == 0; });
}

int64_t PoolThreadsMade()
{
    PoolState &pool = Pool();
    std::lock_guard<std::mutex> guard(pool.lock);
    return pool.made;
}

int64_t PoolTasksStarted()
{
    PoolState &pool = Pool();
    std::lock_guard<std::mutex> guard(pool.lock);
    return pool.started;
}
