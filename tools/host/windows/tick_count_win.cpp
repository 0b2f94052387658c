// GetTickCount64 for the runtime's thread library, which the exception support
// of the static C++ runtime pulls in and which calls it for its timed waits.
// kernel32 has it only from Vista on, and importing it would keep the program
// from starting on XP; defining its import slot here keeps the linker from
// taking kernel32's. The DLL needs none of this: it is built without
// exceptions, so that library never enters it.
#include <windows.h>

namespace {

// The last count handed out: high half the wraps of GetTickCount (every 49.7
// days) seen so far, low half GetTickCount itself. Updated by compare-and-swap,
// so threads that call at once agree on the wraps.
unsigned long long g_lastCount = 0;

ULONGLONG WINAPI TickCount64() {
    for (;;) {
        const unsigned long long last = __atomic_load_n(&g_lastCount, __ATOMIC_ACQUIRE);
        const DWORD now = GetTickCount();
        unsigned long long wraps = last >> 32;
        if (now < static_cast<DWORD>(last)) ++wraps;
        const unsigned long long count = (wraps << 32) | now;
        unsigned long long expected = last;
        if (count == last || __atomic_compare_exchange_n(&g_lastCount, &expected, count, false,
                                                         __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
            return count;
        }
    }
}

}  // namespace

// The import slot the thread library calls through (__imp__GetTickCount64@0).
extern "C" ULONGLONG(WINAPI* const tickCount64Import)() asm("__imp__GetTickCount64@0") =
    TickCount64;
