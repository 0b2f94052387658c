#include "addresses/list_lock.h"

#include <windows.h>

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
