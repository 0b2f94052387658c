#include "addresses/list_lock.h"

#include <windows.h>

#include <cstdint>
#include <cstring>

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

namespace {

void PutHex(uint32_t value, char* out) {
    for (int digit = 0; digit < 8; ++digit) {
        out[7 - digit] = "0123456789abcdef"[(value >> (4 * digit)) & 15];
    }
}

// Where the folder at path is: its volume's serial number and its index there,
// the same for every path that reaches it. The folder's own name may need the
// separator after it (the root of a drive or a share).
bool FolderIdentity(const char* folder, BY_HANDLE_FILE_INFORMATION* info) {
    const HANDLE handle = CreateFileA(folder, FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool known = GetFileInformationByHandle(handle, info) != 0;
    CloseHandle(handle);
    return known;
}

constexpr size_t kNameSize = MAX_PATH;
constexpr char kPrefix[] = "quorvel-list-";

// The lock's name after the file itself: its folder's volume and index, then
// its long name (when it exists) in ASCII lower case. Without the folder's
// identity, the path as spelt stands for it.
void LockName(const char* path, char* name) {
    const size_t length = std::strlen(path);
    size_t cut = length;
    while (cut > 0 && path[cut - 1] != '\\' && path[cut - 1] != '/') --cut;
    char folder[kNameSize + 1] = ".";
    BY_HANDLE_FILE_INFORMATION info;
    bool known = false;
    if (cut > 0 && cut <= kNameSize) {
        std::memcpy(folder, path, cut);
        folder[cut] = '\0';
        known = FolderIdentity(folder, &info);  // with the separator: a root
        if (!known && cut > 1) {
            folder[cut - 1] = '\0';
            known = FolderIdentity(folder, &info);
        }
    } else if (cut == 0) {
        known = FolderIdentity(folder, &info);
    }
    std::strcpy(name, kPrefix);
    char* at = name + sizeof kPrefix - 1;
    if (known) {
        PutHex(info.dwVolumeSerialNumber, at);
        at[8] = '-';
        PutHex(info.nFileIndexHigh, at + 9);
        PutHex(info.nFileIndexLow, at + 17);
        at[25] = '-';
        at += 26;
    } else {
        PutHex(HashNoCase(path), at);
        at[8] = '-';
        at += 9;
    }
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(path, &found);
    const char* file = path + cut;
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        file = found.cFileName;
    }
    // Room for the longest name: past it, its start and a hash of the whole.
    const size_t room = kNameSize - 16 - static_cast<size_t>(at - name) - 9;
    size_t i = 0;
    for (; file[i] && i < room; ++i) {
        at[i] = static_cast<char>(FoldAscii(static_cast<unsigned char>(file[i])));
    }
    if (file[i]) {
        at[i] = '-';
        PutHex(HashNoCase(file), at + i + 1);
        i += 9;
    }
    at[i] = '\0';
}

}  // namespace

void* AcquireFileSaveLock(const char* path, unsigned waitMs) {
    char name[16 + kNameSize];
    std::strcpy(name, "Global\\");
    LockName(path, name + 7);
    // Seen by every session: a host in one, learn --write run in another.
    // Making a global object may be refused (a session without the right);
    // then the session's own.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    if (!mutex && GetLastError() == ERROR_ACCESS_DENIED) {
        std::memcpy(name, "Local\\", 6);
        std::memmove(name + 6, name + 7, std::strlen(name + 7) + 1);
        mutex = CreateMutexA(nullptr, FALSE, name);
    }
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
