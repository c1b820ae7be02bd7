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
    uint32_t count;
    void* context;
    // The most memory that entry index's preparation may hold, or
    // ZIP_IN_TURN; asked once per entry, in order, by the worker taking it.
    uint64_t (*cost)(void* context, uint32_t index);
    // On worker thread `worker` (0 to workers - 1): prepares entry `index`;
    // returns the memory it holds until it is written, at most its cost, or
    // ZIP_IN_TURN when it was not prepared after all (and holds nothing).
    uint64_t (*prepare)(void* context, ZipParallelRun* run, uint32_t index, uint32_t worker);
    // On the caller's thread, in the entries' order: writes entry `index`,
    // prepared or not; a result other than 0 ends the run.
    int (*write)(void* context, uint32_t index, bool prepared);
    // On the caller's thread, may be null: the bytes that the preparations
    // have read in all, each time it has grown by progressStep bytes or an
    // entry was prepared.
    void (*progress)(void* context, uint64_t read);
    uint64_t progressStep;
};

// Writes every entry with up to `workers` threads preparing and at most
// `budget` bytes of reservations; 0, or the first write's result that was
// not. Without a worker thread (none asked, or none could start) each entry
// is written in its turn.
int ZipParallelWrite(const ZipParallelJobs& jobs, uint32_t workers, uint64_t budget);

// For prepare: counts bytes read from an entry's source.
void ZipParallelNoteRead(ZipParallelRun* run, uint64_t bytes);
