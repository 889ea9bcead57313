/* worker_pool_test.cpp -- kept threads: reuse, batches of their own, tasks
** that wait for each other, and the state a task starts in. */
#include "foundation/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "foundation/random.h"

namespace {

struct Meeting {
    std::atomic<int32_t> arrived{0};
    int32_t expected = 0;
    std::atomic<int32_t> done{0};
};

/* Returns only once every task of the meeting has arrived: a task left
** queued behind a busy thread would never let the others go. */
void MeetAll(void *arg)
{
    Meeting *m = (Meeting *)arg;
    m->arrived.fetch_add(1);
    while (m->arrived.load() < m->expected) std::this_thread::yield();
    m->done.fetch_add(1);
}

void RunMeeting(int32_t tasks)
{
    Meeting m;
    m.expected = tasks;
    WorkerBatch batch;
    for (int32_t k = 0; k < tasks; k++) ASSERT_EQ(1, StartPoolTask(&batch, MeetAll, &m));
    WaitPoolTasks(&batch);
    EXPECT_EQ(tasks, m.done.load());
    EXPECT_EQ(0, batch.pending);
}

} // namespace

TEST(WorkerPool, EveryTaskOfABatchRunsAtOnceAndTheThreadsAreKept)
{
    RunMeeting(6);
    int64_t made = PoolThreadsMade();
    EXPECT_GE(made, 6);
    /* The same passes again, and smaller ones, make no thread. */
    for (int round = 0; round < 20; round++) RunMeeting(1 + round % 6);
    EXPECT_EQ(made, PoolThreadsMade());
    /* A pass wider than any before makes only the threads it lacks. */
    RunMeeting(9);
    EXPECT_LE(PoolThreadsMade(), made + 3);
}

TEST(WorkerPool, BatchesOfTwoCallersRunSideBySide)
{
    /* Each caller waits for its own tasks alone; together they need more
    ** threads than either does. */
    std::thread a([] { RunMeeting(4); });
    std::thread b([] { RunMeeting(5); });
    a.join();
    b.join();
}

TEST(WorkerPool, ATaskStartsOnTheProgramsRandomSlot)
{
    /* The first tasks leave their threads on worker slots; the next, on the
    ** same kept threads, start as a new thread would. */
    static std::atomic<int32_t> onProgramSlot;
    const int callerSlot = CurrentRandomSlot();
    auto leaveSlot = [](void *) { SelectRandomSlot(7); };
    auto readSlot = [](void *) {
        if (CurrentRandomSlot() == RANDOM_PROGRAM_SLOT) onProgramSlot.fetch_add(1);
        SelectRandomSlot(3);
    };
    for (int round = 0; round < 3; round++) {
        WorkerBatch first;
        for (int k = 0; k < 4; k++) ASSERT_EQ(1, StartPoolTask(&first, leaveSlot, nullptr));
        WaitPoolTasks(&first);
        onProgramSlot = 0;
        WorkerBatch second;
        for (int k = 0; k < 4; k++) ASSERT_EQ(1, StartPoolTask(&second, readSlot, nullptr));
        WaitPoolTasks(&second);
        EXPECT_EQ(4, onProgramSlot.load());
    }
    EXPECT_EQ(callerSlot, CurrentRandomSlot());
}
