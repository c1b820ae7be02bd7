#include "bench/bench.h"

#include <tlhelp32.h>

#include <utility>

namespace bench {

Process Start(const std::string& commandLine, const std::string& currentFolder) {
    Process process;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::string line = commandLine; // CreateProcessA may write into it
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                        currentFolder.empty() ? nullptr : currentFolder.c_str(), &startup, &info))
        return process;
    CloseHandle(info.hThread);
    process.handle = info.hProcess;
    process.id = info.dwProcessId;
    return process;
}

long WaitExit(Process& process, DWORD timeoutMs) {
    if (!process.handle) return -999;
    if (WaitForSingleObject(process.handle, timeoutMs) != WAIT_OBJECT_0) return -999;
    DWORD code = 0;
    GetExitCodeProcess(process.handle, &code);
    return static_cast<long>(code);
}

void Close(Process& process) {
    if (process.handle) CloseHandle(process.handle);
    process.handle = nullptr;
}

static int ForEachProcess(const char* imageName, bool kill) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szExeFile, imageName) != 0) continue;
        ++count;
        if (!kill) continue;
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (process) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
    return count;
}

int KillAll(const char* imageName) {
    return ForEachProcess(imageName, true);
}
bool IsRunning(const char* imageName) {
    return ForEachProcess(imageName, false) > 0;
}

std::string ProgramPath() {
    return "C:\\kivo\\uninstKIVO.exe";
}

void SetEnv(const char* name, const char* value) {
    SetEnvironmentVariableA(name, value);
}

namespace {

DWORD WINAPI RunRoutine(void* parameter) {
    std::function<void()>* routine = static_cast<std::function<void()>*>(parameter);
    (*routine)();
    delete routine;
    return 0;
}

} // namespace

HANDLE ThreadStart(std::function<void()> routine) {
    std::function<void()>* owned = new std::function<void()>(std::move(routine));
    HANDLE thread = CreateThread(nullptr, 0, RunRoutine, owned, 0, nullptr);
    if (thread == nullptr) delete owned;
    return thread;
}

void ThreadJoin(HANDLE thread) {
    if (thread == nullptr) return;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

} // namespace bench
