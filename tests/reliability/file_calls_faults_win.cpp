// The file calls of the core's test build: kernel32's, with the switches of
// file_faults.h in front of them.
#include <windows.h>

#include "addresses/file_calls_win.h"
#include "tests/reliability/file_faults.h"

namespace {

// Bytes that may still be written or read before that fails; negative: no limit.
long long g_writeBudget = -1;
long long g_readBudget = -1;
HANDLE g_writeStarted = nullptr;
HANDLE g_writeResume = nullptr;

LONG g_calls = 0;
long g_stopAt = 0;
bool g_halfway = false;
bool g_dead = false;
long g_otherAt = 0;
void (*g_other)(void*) = nullptr;
void* g_otherContext = nullptr;
constexpr long kNamed = 256;
const char* g_names[kNamed] = {};

enum class Step { Run, Dead, Halfway };

// Every stopping point passes here first.
Step Enter(const char* name) {
    const long n = InterlockedIncrement(&g_calls);
    if (n < kNamed) g_names[n] = name;
    if (g_dead) return Step::Dead;
    if (g_other && n == g_otherAt) {
        void (*other)(void*) = g_other;
        g_other = nullptr;
        other(g_otherContext);
    }
    if (n != g_stopAt) return Step::Run;
    g_dead = true;
    return g_halfway ? Step::Halfway : Step::Dead;
}

BOOL Fail() {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
}

// Cuts a transfer down to what a budget allows. False, with the error set, once
// the budget is spent.
bool WithinBudget(long long budget, DWORD* size, DWORD error) {
    if (budget < 0) return true;
    if (budget == 0) {
        SetLastError(error);
        return false;
    }
    if (*size > budget) *size = static_cast<DWORD>(budget);
    return true;
}

}  // namespace

extern "C" void FailWritesAfter(long long bytes) {
    g_writeBudget = bytes < 0 ? -1 : bytes;
}
extern "C" void FailReadsAfter(long long bytes) {
    g_readBudget = bytes < 0 ? -1 : bytes;
}
extern "C" void HoldNextWrite(void* started, void* resume) {
    g_writeStarted = started;
    g_writeResume = resume;
}
extern "C" void StopAtFileCall(long at, int halfway) {
    g_calls = 0;
    g_stopAt = at;
    g_halfway = halfway != 0;
    g_dead = false;
}
extern "C" long FileCallsMade() {
    return g_calls;
}
extern "C" const char* FileCallName(long n) {
    return n > 0 && n < kNamed && g_names[n] ? g_names[n] : "?";
}
extern "C" void InterleaveAtFileCall(long at, void (*other)(void*), void* context) {
    g_otherAt = at;
    g_other = other;
    g_otherContext = context;
}

namespace file_calls {

HANDLE Create(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    if (Enter("Create") != Step::Run) {
        SetLastError(ERROR_GEN_FAILURE);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
}
BOOL Read(HANDLE file, char* data, DWORD size, DWORD* got) {
    *got = 0;
    if (Enter("Read") != Step::Run) return Fail();
    if (!WithinBudget(g_readBudget, &size, ERROR_CRC)) return FALSE;
    const BOOL ok = ReadFile(file, data, size, got, nullptr);
    if (g_readBudget > 0) g_readBudget -= *got;
    return ok;
}
BOOL Write(HANDLE file, const char* data, DWORD size, DWORD* put) {
    *put = 0;
    if (g_writeStarted) {
        SetEvent(g_writeStarted);
        WaitForSingleObject(g_writeResume, INFINITE);
        g_writeStarted = g_writeResume = nullptr;
    }
    switch (Enter("Write")) {
        case Step::Run:
            break;
        case Step::Halfway:
            WriteFile(file, data, size / 2, put, nullptr);
            *put = 0;
            return Fail();
        case Step::Dead:
            return Fail();
    }
    if (!WithinBudget(g_writeBudget, &size, ERROR_DISK_FULL)) return FALSE;
    const BOOL ok = WriteFile(file, data, size, put, nullptr);
    if (g_writeBudget > 0) g_writeBudget -= *put;
    return ok;
}
BOOL Flush(HANDLE file) {
    return Enter("Flush") == Step::Run ? FlushFileBuffers(file) : Fail();
}
BOOL Rewind(HANDLE file) {
    if (Enter("Rewind") != Step::Run) return Fail();
    return SetFilePointer(file, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}
BOOL SetEnd(HANDLE file) {
    return Enter("SetEnd") == Step::Run ? SetEndOfFile(file) : Fail();
}
// Not a stopping point: a dead program's handles close all the same.
BOOL Close(HANDLE file) {
    return CloseHandle(file);
}
BOOL Info(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
    return Enter("Info") == Step::Run ? GetFileInformationByHandle(file, info) : Fail();
}
DWORD Attributes(const char* path) {
    if (Enter("Attributes") != Step::Run) {
        SetLastError(ERROR_GEN_FAILURE);
        return INVALID_FILE_ATTRIBUTES;
    }
    return GetFileAttributesA(path);
}
BOOL SetAttributes(const char* path, DWORD attributes) {
    return Enter("SetAttributes") == Step::Run ? SetFileAttributesA(path, attributes) : Fail();
}
BOOL Move(const char* from, const char* to, DWORD flags) {
    return Enter("Move") == Step::Run ? MoveFileExA(from, to, flags) : Fail();
}
BOOL Replace(const char* replaced, const char* replacement, const char* backup) {
    switch (Enter("Replace")) {
        case Step::Run:
            return ReplaceFileA(replaced, replacement, backup, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                nullptr, nullptr);
        case Step::Halfway:
            // The state its documentation describes: the old file under the
            // backup name, the new one still under its own.
            MoveFileExA(replaced, backup, 0);
            return Fail();
        case Step::Dead:
            break;
    }
    return Fail();
}
BOOL Delete(const char* path) {
    return Enter("Delete") == Step::Run ? DeleteFileA(path) : Fail();
}
HANDLE FindFirst(const char* pattern, WIN32_FIND_DATAA* found) {
    if (Enter("FindFirst") != Step::Run) {
        SetLastError(ERROR_GEN_FAILURE);
        return INVALID_HANDLE_VALUE;
    }
    return FindFirstFileA(pattern, found);
}
BOOL FindNext(HANDLE search, WIN32_FIND_DATAA* found) {
    return Enter("FindNext") == Step::Run ? FindNextFileA(search, found) : Fail();
}
BOOL FindEnd(HANDLE search) {
    return FindClose(search);
}

}  // namespace file_calls
