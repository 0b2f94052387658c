#include "addresses/file_io.h"

#include <windows.h>

#include <cstring>

namespace {

HANDLE AsHandle(long long value) {
    return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(value));
}

// Other programs may read and write the list file meanwhile: no sharing restriction.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

#ifdef QUORVEL_WRITE_FAULTS
// Test builds only: bytes that may still be written before writes fail.
long long g_writeBudget = -1;
#endif

// WriteFile, which a test build can make fail part-way as a full disk does.
BOOL WriteSome(HANDLE file, const char* data, DWORD size, DWORD* put) {
#ifdef QUORVEL_WRITE_FAULTS
    if (g_writeBudget >= 0) {
        if (g_writeBudget == 0) {
            *put = 0;
            SetLastError(ERROR_DISK_FULL);
            return FALSE;
        }
        if (size > g_writeBudget) size = static_cast<DWORD>(g_writeBudget);
        const BOOL ok = WriteFile(file, data, size, put, nullptr);
        g_writeBudget -= *put;
        return ok;
    }
#endif
    return WriteFile(file, data, size, put, nullptr);
}

// A new file with a free name of the form qvlXXXX.tmp in the folder (which ends
// in a backslash, or is empty for the current folder); the name goes to path.
// The name is as long as "quorvel.txt", so it fits wherever the list file does:
// GetTempFileNameA would want three characters more.
HANDLE CreateTemporaryFile(const char* folder, size_t folderLength, char* path, size_t pathSize) {
    static const char kName[] = "qvl0000.tmp";
    if (folderLength + sizeof kName > MAX_PATH || folderLength + sizeof kName > pathSize) {
        return INVALID_HANDLE_VALUE;
    }
    std::memcpy(path, folder, folderLength);
    std::memcpy(path + folderLength, kName, sizeof kName);
    const DWORD first = (GetTickCount() ^ GetCurrentProcessId()) & 0xFFFF;
    for (DWORD n = 0; n < 0x10000; ++n) {
        const DWORD number = (first + n) & 0xFFFF;
        for (int digit = 0; digit < 4; ++digit) {
            path[folderLength + 6 - digit] = "0123456789ABCDEF"[(number >> (4 * digit)) & 15];
        }
        const HANDLE file = CreateFileA(path, GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

#ifdef QUORVEL_WRITE_FAULTS
extern "C" void FailWritesAfter(long long bytes) {
    g_writeBudget = bytes < 0 ? -1 : bytes;
}
#endif

bool ReadFileChunks(const char* path, ChunkSink sink, void* context) {
    const HANDLE file = CreateFileA(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char chunk[16384];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) sink(context, chunk, got);
    CloseHandle(file);
    return true;
}

FileReplacement::FileReplacement(const char* target) : target_(target) {
    // Windows refuses to replace a read-only file; so do we, also where the file
    // system would not ask (Wine, for one, replaces it).
    const DWORD attributes = GetFileAttributesA(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return;
    // The temporary file goes in the target's folder, so the final move is a rename.
    const char* nameStart = std::strrchr(target, '\\');
    const size_t folderLength = nameStart ? static_cast<size_t>(nameStart - target) + 1 : 0;
    const HANDLE file = CreateTemporaryFile(target, folderLength, tempPath_, sizeof tempPath_);
    if (file == INVALID_HANDLE_VALUE) return;
    handle_ = static_cast<long long>(reinterpret_cast<INT_PTR>(file));
    open_ = true;
}

FileReplacement::~FileReplacement() {
    Discard();
}

bool FileReplacement::Write(const char* data, size_t size) {
    while (open_ && !failed_ && size > 0) {
        const DWORD step = size > 0x100000 ? 0x100000 : static_cast<DWORD>(size);
        DWORD put = 0;
        if (!WriteSome(AsHandle(handle_), data, step, &put) || put == 0) {
            failed_ = true;
        } else {
            data += put;
            size -= put;
        }
    }
    return open_ && !failed_;
}

bool FileReplacement::Commit() {
    if (!open_ || failed_) return false;
    const HANDLE file = AsHandle(handle_);
    handle_ = -1;
    const bool flushed = FlushFileBuffers(file) != 0;
    const bool closed = CloseHandle(file) != 0;
    if (!flushed || !closed ||
        !MoveFileExA(tempPath_, target_, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(tempPath_);
        open_ = false;
        return false;
    }
    open_ = false;
    return true;
}

void FileReplacement::Discard() {
    if (!open_) return;
    if (handle_ != -1) CloseHandle(AsHandle(handle_));
    DeleteFileA(tempPath_);
    handle_ = -1;
    open_ = false;
}
