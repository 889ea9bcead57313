/* worker_pool.h -- threads kept for the passes that share their work out.
**
** Owns:       the kept threads and the queue of tasks waiting for one.  A
**             thread is made only when a task finds none free, and is then
**             kept for the program's life: an optimization runs a data
**             calculation and a setup filter pass per test, and making and
**             joining a thread for each of those worker tasks cost more than
**             the shorter ones did.
** Tasks:      a caller starts its tasks on one WorkerBatch of its own and
**             waits for that batch; callers on different threads do not wait
**             for each other's tasks.  A task starts as on a thread of its
**             own: on the program's random slot, until it selects another.
**             Stopping a pass early is the task's business (the workers'
**             stop flags, the run's stop request): the pool only runs a task
**             to its end.
** Errors:     StartPoolTask returns 0 when no thread was free and none could
**             be made; the caller's other workers (or the caller) then share
**             out that task's part, as when a thread could not be started.
** Threads:    any thread may start and wait.  The pool's lock is held only to
**             queue and take tasks, never while a task runs.
*/
#pragma once
#include <cstdint>

struct WorkerBatch {
    int32_t pending = 0; /* tasks started and not yet returned (under the pool's lock) */
};

/* Runs task(arg) on a kept thread, made when none is free; 1, or 0 when no
** thread could be made. */
int StartPoolTask(WorkerBatch *batch, void (*task)(void *), void *arg);
/* Returns once every task started on batch has returned; what the tasks
** wrote is then visible to the caller. */
void WaitPoolTasks(WorkerBatch *batch);
/* Threads the pool has made, and tasks it has been given, since the
** program started. */
int64_t PoolThreadsMade();
int64_t PoolTasksStarted();
