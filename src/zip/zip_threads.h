// The threads, the lock and the events that the parallel writer needs: the
// system's own in the program (zip_threads.cpp, Win32), the standard
// library's in the native build, so that the schedule above them stays plain
// C++ and ThreadSanitizer can check it.
#pragma once

#include <cstdint>

struct ZipThread;
struct ZipLock;
struct ZipEvent;

//--- threads
// Starts run(argument) on a thread of its own; null when none could start.
ZipThread* ZipThreadStart(void (*run)(void* argument), void* argument);
// Waits until the thread has ended, and releases it.
void ZipThreadJoin(ZipThread* thread);
// Processors the system offers (1 on the Windows 9x family).
uint32_t ZipProcessorCount();

//--- a lock; null when none could be made
ZipLock* ZipLockCreate();
void ZipLockFree(ZipLock* lock);
void ZipLockTake(ZipLock* lock);
void ZipLockLeave(ZipLock* lock);

//--- events that reset themselves: a set that no wait has taken yet stays
// set, so that a wake-up given just before its waiter waits is not lost.
// Null when none could be made.
ZipEvent* ZipEventCreate();
void ZipEventFree(ZipEvent* event);
void ZipEventSet(ZipEvent* event);
void ZipEventWait(ZipEvent* event);
