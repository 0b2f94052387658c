#include "addresses/list_lock.h"

#include <windows.h>

#include <cstdint>

#include "addresses/ascii_case.h"

namespace {

// Initialised on first use rather than from a static constructor, so the locks
// work whatever order the module's start-up runs in. The loader serialises
// process attach, and the list is first touched there.
CRITICAL_SECTION g_listSection;
CRITICAL_SECTION g_saveSection;
bool g_sectionsReady = false;

bool SectionsReady() {
    if (!g_sectionsReady) {
        // The spin-count variant reports failure instead of raising on XP.
        if (!InitializeCriticalSectionAndSpinCount(&g_listSection, 0)) return false;
        if (!InitializeCriticalSectionAndSpinCount(&g_saveSection, 0)) {
            DeleteCriticalSection(&g_listSection);
            return false;
        }
        g_sectionsReady = true;
    }
    return true;
}

}  // namespace

void AcquireListLock() {
    if (SectionsReady()) EnterCriticalSection(&g_listSection);
}

void ReleaseListLock() {
    if (g_sectionsReady) LeaveCriticalSection(&g_listSection);
}

void AcquireSaveLock() {
    if (SectionsReady()) EnterCriticalSection(&g_saveSection);
}

void ReleaseSaveLock() {
    if (g_sectionsReady) LeaveCriticalSection(&g_saveSection);
}

void DestroyListLocks() {
    if (!g_sectionsReady) return;
    g_sectionsReady = false;
    DeleteCriticalSection(&g_saveSection);
    DeleteCriticalSection(&g_listSection);
}

void* AcquireFileSaveLock(const char* path, unsigned waitMs) {
    // One name per list file in this session, whatever the case of its letters.
    const uint32_t hash = HashNoCase(path);
    char name[] = "Local\\quorvel-list-00000000";
    for (int digit = 0; digit < 8; ++digit) {
        name[sizeof name - 2 - digit] = "0123456789abcdef"[(hash >> (4 * digit)) & 15];
    }
    const HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    if (!mutex) return nullptr;
    const DWORD waited = WaitForSingleObject(mutex, waitMs);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return mutex;
    CloseHandle(mutex);
    return nullptr;
}

void ReleaseFileSaveLock(void* lock) {
    if (!lock) return;
    ReleaseMutex(lock);
    CloseHandle(lock);
}
