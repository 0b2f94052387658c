#include "addresses/list_lock.h"

#include <windows.h>

namespace {

// Initialised on first use rather than from a static constructor, so the lock
// works whatever order the module's start-up runs in. The loader serialises
// process attach, and the list is first touched there.
CRITICAL_SECTION g_listSection;
bool g_listSectionReady = false;

}  // namespace

void AcquireListLock() {
    if (!g_listSectionReady) {
        // The spin-count variant reports failure instead of raising on XP.
        if (!InitializeCriticalSectionAndSpinCount(&g_listSection, 0)) return;
        g_listSectionReady = true;
    }
    EnterCriticalSection(&g_listSection);
}

void ReleaseListLock() {
    if (g_listSectionReady) LeaveCriticalSection(&g_listSection);
}
