// The parallel writer's schedule on real threads (also run under
// ThreadSanitizer): whatever the number of workers, the budget and the
// timing, every entry is written once, in order, on the caller's thread,
// with the bytes that one thread makes, also when the entries become known
// one by one while the workers run; what the preparations hold never
// exceeds the budget, and everything prepared is written or dropped; the
// progress only grows; a failing write ends the run.
#include "memory_zip.h"
#include "std_threads.h"

#include "deflate_inputs.h"
#include "zip/zip_parallel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

namespace {

using Bytes = std::vector<uint8_t>;

struct Job {
    Bytes input;
    bool tooLarge; // its cost says ZIP_IN_TURN
    bool givesUp;  // its preparation reads, then leaves it to the writer
};

// Entries of every kind and size up to 48 KB; some too large, some given up.
std::vector<Job> MakeJobs() {
    std::vector<Job> jobs;
    deflate_inputs::Rng rng(7);
    for (uint32_t i = 0; i < 90; ++i) {
        const size_t size = rng.Below(4) == 0 ? rng.Below(64) : rng.Below(48000);
        Bytes input = i % 3 == 0   ? deflate_inputs::Text(size)
                      : i % 3 == 1 ? deflate_inputs::Binary(size)
                                   : deflate_inputs::Incompressible(size);
        jobs.push_back(Job{std::move(input), i % 11 == 5, i % 13 == 4});
    }
    return jobs;
}

uint64_t CostOf(const Job& job) {
    return job.input.size() + job.input.size() / 64 + 1024;
}

// One run's shared state. Each worker and the writer deflate through their
// own archive; prepared[i] is written by its worker and read by the writer
// once the schedule says it is ready.
struct Run {
    const std::vector<Job>* jobs;
    std::vector<ZipArchive*> archives; // per worker, then the writer's
    std::vector<Bytes> prepared;
    Bytes written;
    uint32_t nextWrite = 0;
    int failAt = -1;
    std::thread::id writer;
    bool misplaced = false; // a write out of order or off the writer's thread
    std::mutex accounting;
    uint64_t live = 0; // what the preparations may hold or hold, by their costs
    uint64_t peak = 0;
    std::vector<uint64_t> told;
};

Bytes Deflated(ZipArchive* archive, const Bytes& input) {
    memzip::Harness harness;
    harness.input = input;
    return memzip::DeflateWith(archive, harness).output;
}

uint64_t Cost(void* context, uint32_t index) {
    const Job& job = (*static_cast<Run*>(context)->jobs)[index];
    return job.tooLarge ? ZIP_IN_TURN : CostOf(job);
}

uint64_t Prepare(void* context, ZipParallelRun* schedule, uint32_t index, uint32_t worker, uint64_t,
                 void** made) {
    Run& run = *static_cast<Run*>(context);
    const Job& job = (*run.jobs)[index];
    {
        std::lock_guard<std::mutex> hold(run.accounting);
        run.live += CostOf(job);
        run.peak = std::max(run.peak, run.live);
    }
    ZipParallelNoteRead(schedule, job.input.size() / 2);
    Bytes out = Deflated(run.archives[worker], job.input);
    ZipParallelNoteRead(schedule, job.input.size() - job.input.size() / 2);
    std::lock_guard<std::mutex> hold(run.accounting);
    run.live -= CostOf(job);
    if (job.givesUp) return ZIP_IN_TURN;
    run.live += out.size();
    run.prepared[index] = std::move(out);
    *made = &run.prepared[index];
    return run.prepared[index].size();
}

int Write(void* context, uint32_t index, void* made) {
    Run& run = *static_cast<Run*>(context);
    const bool prepared = made != nullptr;
    const Job& job = (*run.jobs)[index];
    if (index != run.nextWrite++ || std::this_thread::get_id() != run.writer) run.misplaced = true;
    if (prepared && (job.tooLarge || job.givesUp)) run.misplaced = true;
    const Bytes out = prepared ? run.prepared[index] : Deflated(run.archives.back(), job.input);
    if (prepared) { // the write frees what it was given, failing or not
        std::lock_guard<std::mutex> hold(run.accounting);
        run.live -= out.size();
    }
    if (int(index) == run.failAt) return 7;
    run.written.insert(run.written.end(), out.begin(), out.end());
    return 0;
}

void Drop(void* context, void* made) {
    Run& run = *static_cast<Run*>(context);
    std::lock_guard<std::mutex> hold(run.accounting);
    run.live -= static_cast<Bytes*>(made)->size();
}

void Progress(void* context, uint64_t read) {
    static_cast<Run*>(context)->told.push_back(read);
}

struct Outcome {
    int result;
    Bytes written;
    uint64_t peak;
    std::vector<uint64_t> told;
    uint32_t writes;
    bool misplaced;
    uint64_t leftOver; // prepared, neither written nor dropped
};

// How the entries become known: all at once, one by one while the workers
// already run (a listing that goes on), or one by one and then not written
// (a listing that failed).
enum Known { AT_ONCE, ONE_BY_ONE, ONE_BY_ONE_UNWRITTEN };

Outcome RunJobs(const std::vector<Job>& jobs, uint32_t workers, uint64_t budget, int failAt = -1,
                Known known = AT_ONCE) {
    Run run;
    run.jobs = &jobs;
    run.prepared.resize(jobs.size());
    run.failAt = failAt;
    run.writer = std::this_thread::get_id();
    for (uint32_t i = 0; i <= workers; ++i)
        run.archives.push_back(memzip::NewArchive());
    const ZipParallelJobs schedule = {&run, Cost, Prepare, Write, Drop, Progress, 4096};
    int result = -1;
    if (known == AT_ONCE) {
        result = ZipParallelWrite(schedule, uint32_t(jobs.size()), workers, budget);
    } else if (ZipParallelRun* started = ZipParallelStart(&schedule, workers, budget)) {
        for (uint32_t count = 1; count <= jobs.size(); ++count) {
            EXPECT_TRUE(ZipParallelKnow(started, count));
            if (count % 8 == 0) std::this_thread::yield();
        }
        result = ZipParallelEnd(started, known == ONE_BY_ONE);
    }
    for (ZipArchive* archive : run.archives)
        memzip::FreeArchive(archive);
    return Outcome{result, run.written, run.peak, run.told, run.nextWrite, run.misplaced, run.live};
}

uint64_t ReadByPreparations(const std::vector<Job>& jobs) {
    uint64_t read = 0;
    for (const Job& job : jobs)
        if (!job.tooLarge) read += job.input.size();
    return read;
}

} // namespace

TEST(ZipParallel, AnyWorkersAndBudgetWriteTheSingleThreadsBytesInOrderWithinTheBudget) {
    const std::vector<Job> jobs = MakeJobs();
    const Outcome alone = RunJobs(jobs, 0, 0);
    ASSERT_EQ(alone.result, 0);
    ASSERT_EQ(alone.writes, jobs.size());
    EXPECT_TRUE(alone.told.empty());
    uint64_t largest = 0;
    for (const Job& job : jobs)
        if (!job.tooLarge) largest = std::max(largest, CostOf(job));
    // The smallest budget lets one entry at a time in; the largest, all.
    for (uint64_t budget : {largest, 3 * largest, uint64_t(64) << 20})
        for (uint32_t workers : {1u, 2u, 8u}) {
            const Outcome parallel = RunJobs(jobs, workers, budget, -1, workers == 2 ? ONE_BY_ONE : AT_ONCE);
            EXPECT_EQ(parallel.result, 0);
            EXPECT_FALSE(parallel.misplaced) << workers << " workers";
            EXPECT_EQ(parallel.leftOver, 0u) << workers << " workers";
            EXPECT_EQ(parallel.writes, jobs.size());
            EXPECT_TRUE(parallel.written == alone.written) << workers << " workers, budget " << budget;
            EXPECT_LE(parallel.peak, budget) << workers << " workers";
            EXPECT_TRUE(std::is_sorted(parallel.told.begin(), parallel.told.end()));
            ASSERT_FALSE(parallel.told.empty());
            EXPECT_EQ(parallel.told.back(), ReadByPreparations(jobs));
        }
}

TEST(ZipParallel, AFailingWriteEndsTheRunAndLaterEntriesAreNotWritten) {
    const std::vector<Job> jobs = MakeJobs();
    for (uint32_t workers : {0u, 2u, 8u}) {
        const Outcome failed = RunJobs(jobs, workers, 1u << 20, 40);
        EXPECT_EQ(failed.result, 7);
        EXPECT_EQ(failed.writes, 41u) << workers << " workers";
        EXPECT_FALSE(failed.misplaced);
        EXPECT_EQ(failed.leftOver, 0u)
            << workers << " workers: the preparations past the failure are dropped";
    }
    // A listing that fails after the workers began: nothing is written, nothing kept.
    const Outcome unwritten = RunJobs(jobs, 2, 1u << 20, -1, ONE_BY_ONE_UNWRITTEN);
    EXPECT_EQ(unwritten.result, 0);
    EXPECT_EQ(unwritten.writes, 0u);
    EXPECT_EQ(unwritten.leftOver, 0u);
}

TEST(ZipParallel, WorkersThatCannotStartLeaveTheirShareToTheOthersOrToTheWriter) {
    const std::vector<Job> jobs = MakeJobs();
    const Bytes alone = RunJobs(jobs, 0, 0).written;
    for (int starts : {0, 1}) {
        stdthreads::FailStartsAfter(starts);
        const Outcome fewer = RunJobs(jobs, 4, 1u << 20);
        stdthreads::FailStartsAfter(-1);
        EXPECT_EQ(fewer.result, 0);
        EXPECT_FALSE(fewer.misplaced);
        EXPECT_TRUE(fewer.written == alone) << starts << " threads started";
    }
}
