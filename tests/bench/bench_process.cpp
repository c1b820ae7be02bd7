#include "bench/bench.h"

#include <tlhelp32.h>

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

std::vector<DWORD> ProcessIds(const char* imageName) {
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szExeFile, imageName) == 0) ids.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return ids;
}

int KillAll(const char* imageName) {
    std::vector<DWORD> ids = ProcessIds(imageName);
    for (DWORD id : ids) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (process) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
    }
    return static_cast<int>(ids.size());
}
bool IsRunning(const char* imageName) {
    return !ProcessIds(imageName).empty();
}

std::string ProgramPath() {
    return "C:\\kivo\\uninstKIVO.exe";
}

void SetEnv(const char* name, const char* value) {
    SetEnvironmentVariableA(name, value);
}

} // namespace bench
