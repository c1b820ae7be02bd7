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
    bool waiting; // for room in the budget, or for an entry to be known
};

// What the schedule keeps of an entry from its taking to its writing.
struct Job {
    uint64_t held; // its reservation, then what its preparation holds
    void* prepared;
    uint8_t state;
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
    Job* entries;      // per known entry
    uint32_t capacity; // of entries
    uint32_t known;    // entries 0 to known - 1 are known
    bool allKnown;
    uint32_t next;     // the first entry that nobody has taken
    uint64_t reserved; // the sum of the entries' held
    uint64_t read;     // bytes that the preparations have read
    uint64_t told;     // what the writer last told of them
    uint64_t progressStep;
    bool writerWaiting;
    bool stopping;
};

namespace {

void WakeWriter(ZipParallelRun* run) {
    if (run->writerWaiting) ZipEventSet(run->writerWake);
}

// After reservations went down or entries became known: a waiting worker
// may now go on.
void WakeWaitingWorkers(ZipParallelRun* run) {
    for (uint32_t i = 0; i < run->workerCount; ++i)
        if (run->workers[i].waiting) ZipEventSet(run->workers[i].wake);
}

void Wait(ZipParallelRun* run, Worker& self) {
    self.waiting = true;
    ZipLockLeave(run->lock);
    ZipEventWait(self.wake);
    ZipLockTake(run->lock);
    self.waiting = false;
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
    while (!run->stopping) {
        const uint32_t index = run->next;
        if (index == run->known) {
            if (run->allKnown) break;
            Wait(run, self);
            continue;
        }
        const uint64_t cost = jobs.cost(jobs.context, index);
        if (cost == ZIP_IN_TURN || cost > run->budget) {
            run->entries[index].state = JOB_IN_TURN;
            run->next += 1;
            WakeWriter(run);
            continue;
        }
        if (run->reserved + cost > run->budget) {
            Wait(run, self);
            continue;
        }
        run->reserved += cost;
        run->entries[index].held = cost;
        run->entries[index].state = JOB_WORKING;
        run->next += 1;
        ZipLockLeave(run->lock);
        void* prepared = nullptr;
        const uint64_t holds = jobs.prepare(jobs.context, run, index, self.number, cost, &prepared);
        ZipLockTake(run->lock);
        const uint64_t kept = holds == ZIP_IN_TURN ? 0 : holds < cost ? holds : cost;
        Job& job = run->entries[index];
        run->reserved -= cost - kept;
        job.held = kept;
        job.prepared = holds == ZIP_IN_TURN ? nullptr : prepared;
        job.state = holds == ZIP_IN_TURN ? JOB_IN_TURN : JOB_READY;
        WakeWriter(run);
        WakeWaitingWorkers(run);
    }
    ZipLockLeave(run->lock);
}

// Waits until entry index is prepared or left to the writer, telling the
// progress meanwhile; what was prepared, or null.
void* AwaitTurn(ZipParallelRun* run, uint32_t index) {
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
        const uint8_t state = run->entries[index].state;
        if (state == JOB_READY || state == JOB_IN_TURN) break;
        run->writerWaiting = true;
        ZipLockLeave(run->lock);
        ZipEventWait(run->writerWake);
        ZipLockTake(run->lock);
        run->writerWaiting = false;
    }
    void* prepared = run->entries[index].prepared;
    run->entries[index].prepared = nullptr;
    ZipLockLeave(run->lock);
    return prepared;
}

int WriteInOrder(ZipParallelRun* run, uint32_t count) {
    const ZipParallelJobs& jobs = *run->jobs;
    int result = 0;
    for (uint32_t index = 0; index < count && result == 0; ++index) {
        result = jobs.write(jobs.context, index, AwaitTurn(run, index));
        ZipLockTake(run->lock);
        run->reserved -= run->entries[index].held;
        run->entries[index].held = 0;
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

void FreeRun(ZipParallelRun* run) {
    ZipEventFree(run->writerWake);
    ZipLockFree(run->lock);
    ZipFree(run->entries);
    ZipFree(run->workers);
    ZipFree(run);
}

} // namespace

ZipParallelRun* ZipParallelStart(const ZipParallelJobs* jobs, uint32_t workers, uint64_t budget) {
    if (workers == 0) return nullptr;
    ZipParallelRun* run = static_cast<ZipParallelRun*>(ZipAlloc(sizeof(ZipParallelRun)));
    if (run == nullptr) return nullptr;
    run->jobs = jobs;
    run->budget = budget;
    run->progressStep = ~uint64_t(0);
    run->workers = static_cast<Worker*>(ZipAlloc(workers * uint32_t(sizeof(Worker))));
    run->lock = ZipLockCreate();
    run->writerWake = ZipEventCreate();
    if (run->workers == nullptr || run->lock == nullptr || run->writerWake == nullptr ||
        StartWorkers(run, workers) == 0) {
        FreeRun(run);
        return nullptr;
    }
    return run;
}

bool ZipParallelKnow(ZipParallelRun* run, uint32_t count) {
    ZipLockTake(run->lock);
    // Grown under the lock: every reader of the entries holds it.
    const bool known =
        ZipGrowBlock(reinterpret_cast<void**>(&run->entries), &run->capacity, count, sizeof(Job));
    if (known) {
        run->known = count;
        WakeWaitingWorkers(run);
    }
    ZipLockLeave(run->lock);
    return known;
}

int ZipParallelEnd(ZipParallelRun* run, bool write) {
    ZipLockTake(run->lock);
    run->allKnown = true;
    run->progressStep = run->jobs->progressStep;
    const uint32_t count = run->known;
    WakeWaitingWorkers(run);
    ZipLockLeave(run->lock);
    const int result = write ? WriteInOrder(run, count) : 0;
    StopWorkers(run);
    for (uint32_t i = 0; i < count; ++i)
        if (run->entries[i].prepared != nullptr)
            run->jobs->drop(run->jobs->context, run->entries[i].prepared);
    FreeRun(run);
    return result;
}

int ZipParallelWrite(const ZipParallelJobs& jobs, uint32_t count, uint32_t workers, uint64_t budget) {
    ZipParallelRun* run = count > 0 ? ZipParallelStart(&jobs, workers, budget) : nullptr;
    if (run != nullptr && ZipParallelKnow(run, count)) return ZipParallelEnd(run, true);
    if (run != nullptr) ZipParallelEnd(run, false);
    // Short of memory or threads: the writer alone, as with one worker.
    int result = 0;
    for (uint32_t index = 0; index < count && result == 0; ++index)
        result = jobs.write(jobs.context, index, nullptr);
    return result;
}

// Each wake-up of the writer costs system calls (under Wine, round trips to
// its server): the writer hears of reads in steps.
void ZipParallelNoteRead(ZipParallelRun* run, uint64_t bytes) {
    ZipLockTake(run->lock);
    run->read += bytes;
    if (run->read - run->told >= run->progressStep) WakeWriter(run);
    ZipLockLeave(run->lock);
}
