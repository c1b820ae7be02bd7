#include "zip/zip_parallel.h"

#include "zip/zip_archive.h"
#include "zip/zip_threads.h"

namespace {

enum : uint8_t {
    JOB_WAITING, // no worker has taken it yet
    JOB_WORKING, // a worker prepares it
    JOB_READY,   // prepared, waiting for its turn
    JOB_IN_TURN, // to be made by the writer in its turn
};

struct Worker {
    ZipParallelRun* run;
    uint32_t number;
    ZipThread* thread;
    ZipEvent* wake;
    bool waiting; // for room in the budget
};

} // namespace

// Everything below the lock's line is read and written only with the lock held.
struct ZipParallelRun {
    const ZipParallelJobs* jobs;
    uint64_t budget;
    Worker* workers;
    uint32_t workerCount;
    ZipLock* lock;
    ZipEvent* writerWake;
    //--- under the lock
    uint8_t* states;
    uint64_t* held;    // per entry taken and not written: its reservation, then what it holds
    uint32_t next;     // the first entry that nobody has taken
    uint64_t reserved; // the sum of held
    uint64_t read;     // bytes that the preparations have read
    uint64_t told;     // what the writer last told of them
    bool writerWaiting;
    bool stopping;
};

namespace {

void WakeWriter(ZipParallelRun* run) {
    if (run->writerWaiting) ZipEventSet(run->writerWake);
}

// After reservations went down: a worker waiting for room may now fit.
void WakeWaitingWorkers(ZipParallelRun* run) {
    for (uint32_t i = 0; i < run->workerCount; ++i)
        if (run->workers[i].waiting) ZipEventSet(run->workers[i].wake);
}

// Takes the entries in order, one at a time. An entry that cannot fit into
// the budget however long one waits is left to the writer; one that would
// fit later is waited for, never passed over, so that reservations are made
// in the order in which the writer releases them: the entry the writer waits
// for is always taken, whatever the others hold.
void WorkerMain(void* argument) {
    Worker& self = *static_cast<Worker*>(argument);
    ZipParallelRun* run = self.run;
    const ZipParallelJobs& jobs = *run->jobs;
    ZipLockTake(run->lock);
    while (!run->stopping && run->next < jobs.count) {
        const uint32_t index = run->next;
        const uint64_t cost = jobs.cost(jobs.context, index);
        if (cost == ZIP_IN_TURN || cost > run->budget) {
            run->states[index] = JOB_IN_TURN;
            run->next += 1;
            WakeWriter(run);
            continue;
        }
        if (run->reserved + cost > run->budget) {
            self.waiting = true;
            ZipLockLeave(run->lock);
            ZipEventWait(self.wake);
            ZipLockTake(run->lock);
            self.waiting = false;
            continue;
        }
        run->reserved += cost;
        run->held[index] = cost;
        run->states[index] = JOB_WORKING;
        run->next += 1;
        ZipLockLeave(run->lock);
        const uint64_t holds = jobs.prepare(jobs.context, run, index, self.number);
        ZipLockTake(run->lock);
        const uint64_t kept = holds == ZIP_IN_TURN ? 0 : holds < cost ? holds : cost;
        run->reserved -= cost - kept;
        run->held[index] = kept;
        run->states[index] = holds == ZIP_IN_TURN ? JOB_IN_TURN : JOB_READY;
        WakeWriter(run);
        WakeWaitingWorkers(run);
    }
    ZipLockLeave(run->lock);
}

// Waits until entry index is prepared or left to the writer, telling the
// progress meanwhile; true when it is prepared.
bool AwaitTurn(ZipParallelRun* run, uint32_t index) {
    ZipLockTake(run->lock);
    for (;;) {
        const uint64_t read = run->read;
        if (read != run->told && run->jobs->progress != nullptr) {
            run->told = read;
            ZipLockLeave(run->lock);
            run->jobs->progress(run->jobs->context, read);
            ZipLockTake(run->lock);
            continue;
        }
        if (run->states[index] == JOB_READY || run->states[index] == JOB_IN_TURN) break;
        run->writerWaiting = true;
        ZipLockLeave(run->lock);
        ZipEventWait(run->writerWake);
        ZipLockTake(run->lock);
        run->writerWaiting = false;
    }
    const bool prepared = run->states[index] == JOB_READY;
    ZipLockLeave(run->lock);
    return prepared;
}

int WriteInOrder(ZipParallelRun* run) {
    const ZipParallelJobs& jobs = *run->jobs;
    int result = 0;
    for (uint32_t index = 0; index < jobs.count && result == 0; ++index) {
        const bool prepared = AwaitTurn(run, index);
        result = jobs.write(jobs.context, index, prepared);
        ZipLockTake(run->lock);
        run->reserved -= run->held[index];
        run->held[index] = 0;
        WakeWaitingWorkers(run);
        ZipLockLeave(run->lock);
    }
    return result;
}

// Starts up to `count` workers; how many did start.
uint32_t StartWorkers(ZipParallelRun* run, uint32_t count) {
    uint32_t started = 0;
    for (uint32_t i = 0; i < count; ++i) {
        Worker& worker = run->workers[started];
        worker = Worker{run, started, nullptr, ZipEventCreate(), false};
        if (worker.wake == nullptr) break;
        // The count goes up before the thread starts: a worker that wakes
        // the others reads it.
        ZipLockTake(run->lock);
        run->workerCount = started + 1;
        ZipLockLeave(run->lock);
        worker.thread = ZipThreadStart(WorkerMain, &worker);
        if (worker.thread == nullptr) {
            ZipLockTake(run->lock);
            run->workerCount = started;
            ZipLockLeave(run->lock);
            ZipEventFree(worker.wake);
            break;
        }
        started += 1;
    }
    return started;
}

void StopWorkers(ZipParallelRun* run) {
    ZipLockTake(run->lock);
    run->stopping = true;
    for (uint32_t i = 0; i < run->workerCount; ++i)
        ZipEventSet(run->workers[i].wake);
    ZipLockLeave(run->lock);
    for (uint32_t i = 0; i < run->workerCount; ++i) {
        ZipThreadJoin(run->workers[i].thread);
        ZipEventFree(run->workers[i].wake);
    }
}

int WriteEachInTurn(const ZipParallelJobs& jobs) {
    int result = 0;
    for (uint32_t index = 0; index < jobs.count && result == 0; ++index)
        result = jobs.write(jobs.context, index, false);
    return result;
}

} // namespace

int ZipParallelWrite(const ZipParallelJobs& jobs, uint32_t workers, uint64_t budget) {
    if (workers == 0 || jobs.count == 0) return WriteEachInTurn(jobs);
    ZipParallelRun run = {};
    run.jobs = &jobs;
    run.budget = budget;
    run.workers = static_cast<Worker*>(ZipAlloc(workers * uint32_t(sizeof(Worker))));
    run.states = static_cast<uint8_t*>(ZipAlloc(jobs.count));
    run.held = static_cast<uint64_t*>(uint64_t(jobs.count) * sizeof(uint64_t) <= 0xFFFFFFF0u
                                          ? ZipAlloc(jobs.count * uint32_t(sizeof(uint64_t)))
                                          : nullptr);
    run.lock = ZipLockCreate();
    run.writerWake = ZipEventCreate();
    int result = 0;
    if (run.workers == nullptr || run.states == nullptr || run.held == nullptr || run.lock == nullptr ||
        run.writerWake == nullptr || StartWorkers(&run, workers) == 0) {
        // Short of memory or threads: the writer alone, as with one worker.
        result = WriteEachInTurn(jobs);
    } else {
        result = WriteInOrder(&run);
        StopWorkers(&run);
    }
    ZipEventFree(run.writerWake);
    ZipLockFree(run.lock);
    ZipFree(run.held);
    ZipFree(run.states);
    ZipFree(run.workers);
    return result;
}

// Each wake-up of the writer costs system calls (under Wine, round trips to
// its server): the writer hears of reads in steps.
void ZipParallelNoteRead(ZipParallelRun* run, uint64_t bytes) {
    ZipLockTake(run->lock);
    run->read += bytes;
    if (run->read - run->told >= run->jobs->progressStep) WakeWriter(run);
    ZipLockLeave(run->lock);
}
