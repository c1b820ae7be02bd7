// The parallel writer's thread seam over the standard library, for the
// native build (ThreadSanitizer sees through it). Thread starts can be made
// to fail, as on a system short of threads.
#include "std_threads.h"

#include "zip/zip_threads.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

struct ZipThread {
    std::thread thread;
};

struct ZipLock {
    std::mutex mutex;
};

struct ZipEvent {
    std::mutex mutex;
    std::condition_variable changed;
    bool set = false;
};

namespace stdthreads {

static std::atomic<int> startsLeft{-1};

void FailStartsAfter(int starts) {
    startsLeft = starts;
}

} // namespace stdthreads

ZipThread* ZipThreadStart(void (*run)(void*), void* argument) {
    if (stdthreads::startsLeft == 0) return nullptr;
    if (stdthreads::startsLeft > 0) stdthreads::startsLeft -= 1;
    return new ZipThread{std::thread(run, argument)};
}

void ZipThreadJoin(ZipThread* thread) {
    thread->thread.join();
    delete thread;
}

uint32_t ZipProcessorCount() {
    const unsigned count = std::thread::hardware_concurrency();
    return count != 0 ? count : 1;
}

ZipLock* ZipLockCreate() {
    return new ZipLock;
}

void ZipLockFree(ZipLock* lock) {
    delete lock;
}

void ZipLockTake(ZipLock* lock) {
    lock->mutex.lock();
}

void ZipLockLeave(ZipLock* lock) {
    lock->mutex.unlock();
}

ZipEvent* ZipEventCreate() {
    return new ZipEvent;
}

void ZipEventFree(ZipEvent* event) {
    delete event;
}

void ZipEventSet(ZipEvent* event) {
    std::lock_guard<std::mutex> hold(event->mutex);
    event->set = true;
    event->changed.notify_one();
}

void ZipEventWait(ZipEvent* event) {
    std::unique_lock<std::mutex> hold(event->mutex);
    event->changed.wait(hold, [event] { return event->set; });
    event->set = false;
}
