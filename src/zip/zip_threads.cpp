// The parallel writer's threads, lock and events on Win32: critical sections
// and auto-reset events, which every Windows since 95 has.
#include <windows.h>

#include "zip/zip_archive.h"
#include "zip/zip_threads.h"

#include <process.h>

struct ZipThread {
    HANDLE handle;
    void (*run)(void*);
    void* argument;
};

struct ZipLock {
    CRITICAL_SECTION section;
};

namespace {

unsigned __stdcall ThreadMain(void* started) {
    ZipThread* thread = static_cast<ZipThread*>(started);
    thread->run(thread->argument);
    return 0;
}

} // namespace

ZipThread* ZipThreadStart(void (*run)(void*), void* argument) {
    ZipThread* thread = static_cast<ZipThread*>(ZipAlloc(sizeof(ZipThread)));
    if (thread == nullptr) return nullptr;
    thread->run = run;
    thread->argument = argument;
    // The runtime's own start, so that the thread's runtime state is set up.
    thread->handle = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ThreadMain, thread, 0, nullptr));
    if (thread->handle == nullptr) {
        ZipFree(thread);
        return nullptr;
    }
    return thread;
}

void ZipThreadJoin(ZipThread* thread) {
    WaitForSingleObject(thread->handle, INFINITE);
    CloseHandle(thread->handle);
    ZipFree(thread);
}

uint32_t ZipProcessorCount() {
    SYSTEM_INFO system = {};
    GetSystemInfo(&system);
    return system.dwNumberOfProcessors != 0 ? system.dwNumberOfProcessors : 1;
}

ZipLock* ZipLockCreate() {
    ZipLock* lock = static_cast<ZipLock*>(ZipAlloc(sizeof(ZipLock)));
    if (lock != nullptr) InitializeCriticalSection(&lock->section);
    return lock;
}

void ZipLockFree(ZipLock* lock) {
    if (lock == nullptr) return;
    DeleteCriticalSection(&lock->section);
    ZipFree(lock);
}

void ZipLockTake(ZipLock* lock) {
    EnterCriticalSection(&lock->section);
}

void ZipLockLeave(ZipLock* lock) {
    LeaveCriticalSection(&lock->section);
}

ZipEvent* ZipEventCreate() {
    return reinterpret_cast<ZipEvent*>(CreateEventA(nullptr, FALSE, FALSE, nullptr));
}

void ZipEventFree(ZipEvent* event) {
    if (event != nullptr) CloseHandle(reinterpret_cast<HANDLE>(event));
}

void ZipEventSet(ZipEvent* event) {
    SetEvent(reinterpret_cast<HANDLE>(event));
}

void ZipEventWait(ZipEvent* event) {
    WaitForSingleObject(reinterpret_cast<HANDLE>(event), INFINITE);
}
