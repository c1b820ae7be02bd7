// Numbered thread slots: the busy indicator lives in slot 1 and is re-created
// for every step from the routine and argument its slot remembers. Slot 0
// describes the thread that made the table and is only ever queried.
#include "console/console.h"

#include <process.h>

#include <cstdlib>

namespace {

const int SLOT_CAPACITY = 4;

struct ThreadSlot {
    HANDLE handle; // none until the slot is filled
    unsigned threadId;
    ThreadRoutine routine; // kept so the slot can be restarted
    void* argument;
    long reserved; // always 0
};

ThreadSlot* threadTable = nullptr;
int slotCount = 0; // one more than the highest index ever filled
CRITICAL_SECTION slotLock;
HANDLE processHandle = nullptr;

void ReleaseTable() {
    DeleteCriticalSection(&slotLock);
    for (int i = 0; i < slotCount; ++i)
        if (threadTable[i].handle != nullptr) CloseHandle(threadTable[i].handle);
    std::free(threadTable);
    threadTable = nullptr;
    slotCount = 0;
}

bool MakeTable() {
    threadTable = static_cast<ThreadSlot*>(std::calloc(SLOT_CAPACITY, sizeof(ThreadSlot)));
    if (threadTable == nullptr) return false;
    processHandle = GetCurrentProcess();
    ThreadSlot& first = threadTable[0];
    // The pseudo-handle means "whoever asks", so slot 0 keeps a real one.
    if (!DuplicateHandle(processHandle, GetCurrentThread(), processHandle, &first.handle, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        first.handle = nullptr;
    first.threadId = GetCurrentThreadId();
    slotCount = 1;
    InitializeCriticalSection(&slotLock);
    std::atexit(ReleaseTable);
    return true;
}

// Asked of the handle itself, so that a thread whose exit code happens to
// be STILL_ACTIVE is not taken for a running one.
bool IsRunning(HANDLE handle) {
    return WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
}

} // namespace

int ThreadCreate(int index, ThreadRoutine routine, void* argument) {
    if (slotCount == 0 && !MakeTable()) return -1;
    if (index < 1 || index >= SLOT_CAPACITY) return -1;
    ThreadSlot& slot = threadTable[index];
    if (slot.handle != nullptr) {
        if (IsRunning(slot.handle)) return 1;
        CloseHandle(slot.handle);
        slot.handle = nullptr;
    }
    SECURITY_ATTRIBUTES security = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    unsigned threadId = 0;
    uintptr_t thread = _beginthreadex(&security, 0, routine, argument, CREATE_SUSPENDED, &threadId);
    if (thread == 0) return -2;
    EnterCriticalSection(&slotLock);
    slot.handle = reinterpret_cast<HANDLE>(thread);
    slot.threadId = threadId;
    slot.routine = routine;
    slot.argument = argument;
    slot.reserved = 0;
    if (index >= slotCount) slotCount = index + 1;
    LeaveCriticalSection(&slotLock);
    return 0;
}

// A finished thread cannot be resumed, so it is made anew from its slot.
int ThreadStart(int index) {
    HANDLE handle = ThreadHandle(index);
    if (handle == nullptr) return -1;
    if (!IsRunning(handle)) {
        const ThreadSlot& slot = threadTable[index];
        if (ThreadCreate(index, slot.routine, slot.argument) != 0) return -1;
    }
    ResumeThread(threadTable[index].handle);
    return 0;
}

long ThreadWait(int index) {
    HANDLE handle = ThreadHandle(index);
    if (handle == nullptr) return 0;
    WaitForSingleObject(handle, INFINITE);
    return ThreadExitCode(index);
}

long ThreadExitCode(int index) {
    if (index < 0 || index >= slotCount || threadTable[index].handle == nullptr) return 0;
    HANDLE handle = threadTable[index].handle;
    if (IsRunning(handle)) return -1;
    DWORD code = 0;
    if (!GetExitCodeThread(handle, &code)) return 0;
    return static_cast<long>(code);
}

HANDLE ThreadHandle(int index) {
    if (index < 1 || index >= slotCount) return nullptr;
    return threadTable[index].handle;
}
