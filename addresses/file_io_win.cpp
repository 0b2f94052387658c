#include "addresses/file_io.h"

#include <windows.h>

#include <cstring>

namespace {

HANDLE AsHandle(long long value) {
    return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(value));
}

// Other programs may read and write the list file meanwhile: no sharing restriction.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

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
    // The temporary file goes in the target's folder, so the final move is a rename.
    char folder[MAX_PATH];
    const char* nameStart = std::strrchr(target, '\\');
    const size_t folderLength = nameStart ? static_cast<size_t>(nameStart - target) + 1 : 0;
    if (folderLength == 0) {
        folder[0] = '.';
        folder[1] = '\0';
    } else {
        if (folderLength >= sizeof folder) return;
        std::memcpy(folder, target, folderLength);
        folder[folderLength] = '\0';
    }
    // GetTempFileNameA wants room for the folder, the prefix and eight characters.
    if (std::strlen(folder) + 14 > MAX_PATH - 1) return;
    if (!GetTempFileNameA(folder, "qvl", 0, tempPath_)) return;
    const HANDLE file = CreateFileA(tempPath_, GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileA(tempPath_);
        return;
    }
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
        if (!WriteFile(AsHandle(handle_), data, step, &put, nullptr) || put == 0) {
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
