// The parallel writer's schedule: worker threads prepare the entries that
// follow the one being written (read and compress them into memory), taking
// them in the archive's order, while the caller's thread writes every entry
// in its turn. What the archive holds therefore does not depend on the
// number of workers or on their timing. Memory stays bounded: a worker takes
// an entry on only when its reservation fits into the budget beside those of
// the entries taken and not yet written. Plain C++ over the thread seam.
#pragma once

#include <cstdint>

// The cost of an entry that is not to be prepared: the writer makes it
// itself in its turn.
constexpr uint64_t ZIP_IN_TURN = ~uint64_t(0);

struct ZipParallelRun;

struct ZipParallelJobs {
    void* context;
    // The most memory that entry index's preparation may hold, or
    // ZIP_IN_TURN; asked once per entry, in order, by the worker taking it,
    // with the schedule's lock held.
    uint64_t (*cost)(void* context, uint32_t index);
    // On worker thread `worker` (0 to workers - 1): prepares entry `index`,
    // whose cost was `cost`, into *prepared; returns the memory it holds until
    // it is written, at most its cost, or ZIP_IN_TURN when it was not
    // prepared after all (and holds nothing).
    uint64_t (*prepare)(void* context, ZipParallelRun* run, uint32_t index, uint32_t worker, uint64_t cost,
                        void** prepared);
    // On the caller's thread, in the entries' order: writes entry `index`
    // from what its preparation made (and frees that), or makes it itself
    // when that is null; a result other than 0 ends the run.
    int (*write)(void* context, uint32_t index, void* prepared);
    // On the caller's thread: frees a preparation that was not written.
    void (*drop)(void* context, void* prepared);
    // On the caller's thread, may be null: the bytes that the preparations
    // have read in all, each time it has grown by progressStep bytes or an
    // entry was prepared, once the writing has begun.
    void (*progress)(void* context, uint64_t read);
    uint64_t progressStep;
};

// Starts up to `workers` threads that prepare entries as soon as they are
// known, before the writing begins (the caller may still be finding them);
// null when none could start: the caller then writes each entry itself.
ZipParallelRun* ZipParallelStart(const ZipParallelJobs* jobs, uint32_t workers, uint64_t budget);
// Entries 0 to count - 1 are known (count never goes down); false when short
// of memory, and the run is then to be ended without writing.
bool ZipParallelKnow(ZipParallelRun* run, uint32_t count);
// Every entry is known: writes them in order, or none when `write` is false,
// then stops the workers, drops what was prepared and not written, and frees
// the run. 0, or the first write's result that was not.
int ZipParallelEnd(ZipParallelRun* run, bool write);

// The same with every entry known from the start, and each entry written in
// its turn when no worker is asked for or none can start.
int ZipParallelWrite(const ZipParallelJobs& jobs, uint32_t count, uint32_t workers, uint64_t budget);

// For prepare: counts bytes read from an entry's source.
void ZipParallelNoteRead(ZipParallelRun* run, uint64_t bytes);
