// Small holders that close what the program opens, on every path.
#pragma once

#include <windows.h>

#include <cstdlib>

//--- find enumerations
struct FindHandle {
    HANDLE handle;
    explicit FindHandle(HANDLE found) : handle(found) {}
    ~FindHandle() {
        if (valid()) FindClose(handle);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    bool valid() const { return handle != INVALID_HANDLE_VALUE; }
};

//--- open files
struct FileHandle {
    HANDLE handle;
    explicit FileHandle(HANDLE opened) : handle(opened) {}
    ~FileHandle() {
        if (valid()) CloseHandle(handle);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool valid() const { return handle != INVALID_HANDLE_VALUE; }
};

//--- C runtime heap blocks
struct HeapBlock {
    char* data;
    explicit HeapBlock(void* allocated) : data(static_cast<char*>(allocated)) {}
    ~HeapBlock() { std::free(data); }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;
};

//--- COM interfaces
template <class Interface> struct ComInterface {
    Interface* pointer = nullptr;
    ComInterface() = default;
    ~ComInterface() {
        if (pointer != nullptr) pointer->Release();
    }
    ComInterface(const ComInterface&) = delete;
    ComInterface& operator=(const ComInterface&) = delete;
};
