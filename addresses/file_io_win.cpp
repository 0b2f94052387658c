#include "addresses/file_io.h"

#include <windows.h>

#include <cstring>

namespace {

// Other programs may read and write the list file meanwhile: no sharing restriction.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The temporary file's name; as long as "quorvel.txt", so it fits wherever the
// list file does (GetTempFileNameA would want three characters more).
const char kTempName[] = "qvl0000.tmp";
constexpr size_t kTempDigits = 3;

#ifdef QUORVEL_WRITE_FAULTS
// Test builds only: bytes that may still be written or read before that fails.
long long g_writeBudget = -1;
long long g_readBudget = -1;
HANDLE g_writeStarted = nullptr;
HANDLE g_writeResume = nullptr;
#endif

#ifdef QUORVEL_WRITE_FAULTS
// Cuts a transfer down to what a budget allows. False, with the error set, once
// the budget is spent; a negative budget allows everything.
bool WithinBudget(long long budget, DWORD* size, DWORD error) {
    if (budget < 0) return true;
    if (budget == 0) {
        SetLastError(error);
        return false;
    }
    if (*size > budget) *size = static_cast<DWORD>(budget);
    return true;
}
#endif

// WriteFile, which a test build can make fail part-way as a full disk does.
BOOL WriteSome(HANDLE file, const char* data, DWORD size, DWORD* put) {
#ifdef QUORVEL_WRITE_FAULTS
    if (g_writeStarted) {
        SetEvent(g_writeStarted);
        WaitForSingleObject(g_writeResume, INFINITE);
        g_writeStarted = g_writeResume = nullptr;
    }
    *put = 0;
    if (!WithinBudget(g_writeBudget, &size, ERROR_DISK_FULL)) return FALSE;
    const BOOL ok = WriteFile(file, data, size, put, nullptr);
    if (g_writeBudget > 0) g_writeBudget -= *put;
    return ok;
#else
    return WriteFile(file, data, size, put, nullptr);
#endif
}

// ReadFile, which a test build can make fail part-way as a bad sector does.
BOOL ReadSome(HANDLE file, char* data, DWORD size, DWORD* got) {
#ifdef QUORVEL_WRITE_FAULTS
    *got = 0;
    if (!WithinBudget(g_readBudget, &size, ERROR_CRC)) return FALSE;
    const BOOL ok = ReadFile(file, data, size, got, nullptr);
    if (g_readBudget > 0) g_readBudget -= *got;
    return ok;
#else
    return ReadFile(file, data, size, got, nullptr);
#endif
}

// Writes all bytes; `written` counts those that went out.
bool WriteAll(HANDLE file, const char* data, size_t size, size_t* written) {
    *written = 0;
    while (size > 0) {
        const DWORD step = size > 0x100000 ? 0x100000 : static_cast<DWORD>(size);
        DWORD put = 0;
        if (!WriteSome(file, data, step, &put) || put == 0) return false;
        data += put;
        size -= put;
        *written += put;
    }
    return true;
}

// Writes the digits of number into the qvlXXXX.tmp name at path + folderLength.
void NumberTemporaryName(char* path, size_t folderLength, DWORD number) {
    for (int digit = 0; digit < 4; ++digit) {
        path[folderLength + kTempDigits + 3 - digit] =
            "0123456789ABCDEF"[(number >> (4 * digit)) & 15];
    }
}

DWORD FirstTemporaryNumber() {
    return (GetTickCount() ^ GetCurrentProcessId()) & 0xFFFF;
}

// A new file with a free name of the form qvlXXXX.tmp in the folder (which ends
// in a backslash, or is empty for the current folder); the name goes to path.
// No delete sharing: another save's clean-up can't remove it while it is written.
HANDLE CreateTemporaryFile(const char* folder, size_t folderLength, char* path) {
    if (folderLength + sizeof kTempName > MAX_PATH) return INVALID_HANDLE_VALUE;
    std::memcpy(path, folder, folderLength);
    std::memcpy(path + folderLength, kTempName, sizeof kTempName);
    const DWORD first = FirstTemporaryNumber();
    for (DWORD n = 0; n < 0x10000; ++n) {
        NumberTemporaryName(path, folderLength, first + n);
        const HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}

// A free qvlXXXX.tmp name beside the temporary file at path, for the old file
// while it is being replaced.
bool FreeTemporaryName(const char* temp, size_t folderLength, char* path) {
    std::memcpy(path, temp, folderLength + sizeof kTempName);
    const DWORD first = FirstTemporaryNumber() + 0x8000;
    for (DWORD n = 0; n < 0x10000; ++n) {
        NumberTemporaryName(path, folderLength, first + n);
        if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES &&
            GetLastError() == ERROR_FILE_NOT_FOUND) {
            return true;
        }
    }
    return false;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

bool IsTemporaryName(const char* name) {
    if (std::strlen(name) != sizeof kTempName - 1) return false;
    for (size_t i = 0; i < sizeof kTempName - 1; ++i) {
        const bool digit = i >= kTempDigits && i < kTempDigits + 4;
        if (digit ? !IsHexDigit(name[i]) : name[i] != kTempName[i]) return false;
    }
    return true;
}

// Whether a save's temporary file, written in the last few seconds, stands in
// the folder: a save puts it in place right after writing it, and one left by a
// save that died is no reason for every start of the filter to wait.
bool LiveTemporaryFileStands(const char* folder, size_t folderLength) {
    char pattern[MAX_PATH];
    if (folderLength + sizeof kTempName > MAX_PATH) return false;
    std::memcpy(pattern, folder, folderLength);
    std::memcpy(pattern + folderLength, "qvl????.tmp", sizeof kTempName);
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FILETIME nowTime;
    GetSystemTimeAsFileTime(&nowTime);
    const ULONGLONG now = (ULONGLONG{nowTime.dwHighDateTime} << 32) | nowTime.dwLowDateTime;
    constexpr ULONGLONG kLive = 10ull * 10000000;  // 10 s in the file times' 100 ns
    bool stands = false;
    do {
        const FILETIME& time = found.ftLastWriteTime;
        const ULONGLONG written = (ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime;
        stands = IsTemporaryName(found.cFileName) && written + kLive > now;
    } while (!stands && FindNextFileA(search, &found));
    FindClose(search);
    return stands;
}

// Temporary files of saves that died part-way, or the copy kept by one that
// failed; once the list file holds the list they are stale.
void RemoveLeftovers(const char* folder, size_t folderLength) {
    char path[MAX_PATH];
    if (folderLength + sizeof kTempName > MAX_PATH) return;
    std::memcpy(path, folder, folderLength);
    std::memcpy(path + folderLength, "qvl????.tmp", sizeof kTempName);
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (!IsTemporaryName(found.cFileName)) continue;
        std::memcpy(path + folderLength, found.cFileName, sizeof kTempName);
        DeleteFileA(path);  // one still being written by another save is not shared for delete
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// The list's name with ".bak" for its extension (quorvel.bak), or with a
// number before it (quorvel.1.bak) for the n-th other one. False when it can't fit.
bool BackupName(const char* listPath, unsigned n, char* name) {
    const char* dot = std::strrchr(listPath, '.');
    const char* backslash = std::strrchr(listPath, '\\');
    const size_t length = std::strlen(listPath);
    const size_t stem =
        dot && !(backslash && dot < backslash) ? static_cast<size_t>(dot - listPath) : length;
    char number[16] = "";
    if (n > 0) {
        char digits[12];
        size_t count = 0;
        for (unsigned v = n; v; v /= 10) digits[count++] = static_cast<char>('0' + v % 10);
        number[0] = '.';
        for (size_t i = 0; i < count; ++i) number[1 + i] = digits[count - 1 - i];
        number[1 + count] = '\0';
    }
    const size_t numberLength = std::strlen(number);
    if (stem + numberLength + sizeof ".bak" > MAX_PATH) return false;
    std::memcpy(name, listPath, stem);
    std::memcpy(name + stem, number, numberLength);
    std::memcpy(name + stem + numberLength, ".bak", sizeof ".bak");
    return true;
}

// Names tried before a backup gives up: the user has long stopped reading them.
constexpr unsigned kBackupNames = 1000;

// Gives the whole copy of a list whose file was damaged a free backup name;
// an older backup may be the only copy of something else.
void KeepWholeCopy(const char* copyPath, const char* listPath) {
    char keptPath[MAX_PATH];
    for (unsigned n = 0; n < kBackupNames && BackupName(listPath, n, keptPath); ++n) {
        if (MoveFileExA(copyPath, keptPath, MOVEFILE_WRITE_THROUGH)) return;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return;
    }
}

// Opens the list file for reading. A save that replaces it leaves a moment, on
// Wine most of ReplaceFileA's time, in which it does not exist; while a save's
// temporary file, freshly written, stands beside it, the file is tried again
// for about a second before it counts as missing.
HANDLE OpenForReading(const char* path, DWORD* error) {
    const DWORD start = GetTickCount();
    for (;;) {
        const HANDLE file = CreateFileA(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        *error = file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
        if (*error != ERROR_FILE_NOT_FOUND || GetTickCount() - start > 1000) return file;
        const char* nameStart = std::strrchr(path, '\\');
        const size_t folderLength = nameStart ? static_cast<size_t>(nameStart - path) + 1 : 0;
        if (!LiveTemporaryFileStands(path, folderLength)) return file;
        Sleep(15);
    }
}

// A file with more than one name: replacing it would cut the other names off.
bool HasOtherLinks(const char* path) {
    const HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool linked = GetFileInformationByHandle(file, &info) && info.nNumberOfLinks > 1;
    CloseHandle(file);
    return linked;
}

// Moves the complete temporary file into the list file's place.
bool PutInPlace(const char* temp, size_t folderLength, const char* target, DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return MoveFileExA(temp, target, MOVEFILE_WRITE_THROUGH) != 0;
    }
    if (HasOtherLinks(target)) return false;
    // With a name for the old file, a failed replacement leaves both files under
    // their own names, and no system file of its own making behind.
    char old[MAX_PATH];
    if (!FreeTemporaryName(temp, folderLength, old)) return false;
    if (!ReplaceFileA(target, temp, old, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        // Some systems have moved the old file aside by now: put it back.
        if (GetFileAttributesA(target) == INVALID_FILE_ATTRIBUTES) MoveFileExA(old, target, 0);
        if (GetFileAttributesA(target) != INVALID_FILE_ATTRIBUTES) DeleteFileA(old);
        return false;
    }
    DeleteFileA(old);
    // Windows keeps the attributes itself; some file systems leave that to us.
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const DWORD now = GetFileAttributesA(target);
    if (now != INVALID_FILE_ATTRIBUTES && (now & kKept) != (attributes & kKept)) {
        SetFileAttributesA(target, (now & ~kKept) | (attributes & kKept));
    }
    return true;
}

enum class InPlace { Written, Untouched, Damaged };

// Writes over the list file itself, as a plain write does, with full sharing;
// the only route on which a failure part-way leaves the file damaged.
InPlace WriteInPlace(const char* path, const char* data, size_t size) {
    const HANDLE file = CreateFileA(path, GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return InPlace::Untouched;
    size_t written = 0;
    const bool whole = WriteAll(file, data, size, &written);
    const bool ended = whole && SetEndOfFile(file) && FlushFileBuffers(file);
    const bool closed = CloseHandle(file) != 0;
    if (ended && closed) return InPlace::Written;
    return written == 0 && !whole ? InPlace::Untouched : InPlace::Damaged;
}

}  // namespace

#ifdef QUORVEL_WRITE_FAULTS
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
#endif

ReadResult ReadFileChunks(const char* path, ChunkSink sink, void* context) {
    DWORD error = ERROR_SUCCESS;
    const HANDLE file = OpenForReading(path, &error);
    if (file == INVALID_HANDLE_VALUE) {
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadResult::Missing
                                                                              : ReadResult::Partial;
    }
    char chunk[16384];
    DWORD got = 0;
    BOOL ok;
    while ((ok = ReadSome(file, chunk, sizeof chunk, &got)) && got > 0) sink(context, chunk, got);
    CloseHandle(file);
    return ok ? ReadResult::Whole : ReadResult::Partial;
}

bool KeepBackupCopy(const char* path) {
    DWORD error = ERROR_SUCCESS;
    const HANDLE source = CreateFileA(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (source == INVALID_HANDLE_VALUE) return false;
    char backupPath[MAX_PATH];
    HANDLE backup = INVALID_HANDLE_VALUE;
    for (unsigned n = 0; n < kBackupNames && BackupName(path, n, backupPath); ++n) {
        // CREATE_NEW: an older backup is never written over.
        backup = CreateFileA(backupPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        error = GetLastError();
        if (backup != INVALID_HANDLE_VALUE ||
            (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)) {
            break;
        }
    }
    if (backup == INVALID_HANDLE_VALUE) {
        CloseHandle(source);
        return false;
    }
    char chunk[16384];
    DWORD got = 0;
    BOOL read = TRUE;
    bool whole = true;
    size_t written = 0;
    while (whole && (read = ReadSome(source, chunk, sizeof chunk, &got)) && got > 0) {
        whole = WriteAll(backup, chunk, got, &written);
    }
    whole = whole && read && FlushFileBuffers(backup);
    CloseHandle(source);
    if (!CloseHandle(backup)) whole = false;
    if (!whole) DeleteFileA(backupPath);
    return whole;
}

bool FileRefusesWrites(const char* path) {
    // Windows refuses to replace a read-only file; so do we, also where the file
    // system would not ask (Wine, for one, replaces it).
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0;
}

bool WriteWholeFile(const char* path, const char* data, size_t size, bool* damaged) {
    *damaged = false;
    if (FileRefusesWrites(path)) return false;
    const DWORD attributes = GetFileAttributesA(path);
    const char* nameStart = std::strrchr(path, '\\');
    const size_t folderLength = nameStart ? static_cast<size_t>(nameStart - path) + 1 : 0;

    char tempPath[MAX_PATH] = "";
    const HANDLE temp = CreateTemporaryFile(path, folderLength, tempPath);
    const bool haveCopy = temp != INVALID_HANDLE_VALUE;
    if (haveCopy) {
        size_t written = 0;
        const bool whole = WriteAll(temp, data, size, &written) && FlushFileBuffers(temp);
        if (!CloseHandle(temp) || !whole) {
            // A full disk: writing over the list file would only damage it.
            DeleteFileA(tempPath);
            return false;
        }
        if (PutInPlace(tempPath, folderLength, path, attributes)) {
            RemoveLeftovers(path, folderLength);
            return true;
        }
    }
    // The file is in use (held open without delete sharing), has other links,
    // or the folder takes no new file.
    switch (WriteInPlace(path, data, size)) {
        case InPlace::Written:
            if (haveCopy) DeleteFileA(tempPath);
            RemoveLeftovers(path, folderLength);
            return true;
        case InPlace::Untouched:
            if (haveCopy) DeleteFileA(tempPath);
            return false;
        case InPlace::Damaged:
            *damaged = true;
            // The temporary file is the one whole copy now. It takes a name that no
            // later save removes, since a later save may start from the damaged file.
            if (haveCopy) KeepWholeCopy(tempPath, path);
            break;
    }
    return false;
}
