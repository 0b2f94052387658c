#include "addresses/file_calls_win.h"

namespace file_calls {

HANDLE Create(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    return CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
}
BOOL Read(HANDLE file, char* data, DWORD size, DWORD* got) {
    return ReadFile(file, data, size, got, nullptr);
}
BOOL Write(HANDLE file, const char* data, DWORD size, DWORD* put) {
    return WriteFile(file, data, size, put, nullptr);
}
BOOL Flush(HANDLE file) {
    return FlushFileBuffers(file);
}
BOOL Rewind(HANDLE file) {
    return SetFilePointer(file, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}
BOOL SetEnd(HANDLE file) {
    return SetEndOfFile(file);
}
BOOL Close(HANDLE file) {
    return CloseHandle(file);
}
BOOL Info(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
    return GetFileInformationByHandle(file, info);
}
DWORD Attributes(const char* path) {
    return GetFileAttributesA(path);
}
BOOL SetAttributes(const char* path, DWORD attributes) {
    return SetFileAttributesA(path, attributes);
}
BOOL Move(const char* from, const char* to, DWORD flags) {
    return MoveFileExA(from, to, flags);
}
BOOL Replace(const char* replaced, const char* replacement, const char* backup) {
    return ReplaceFileA(replaced, replacement, backup, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                        nullptr);
}
BOOL Delete(const char* path) {
    return DeleteFileA(path);
}
HANDLE FindFirst(const char* pattern, WIN32_FIND_DATAA* found) {
    return FindFirstFileA(pattern, found);
}
BOOL FindNext(HANDLE search, WIN32_FIND_DATAA* found) {
    return FindNextFileA(search, found);
}
BOOL FindEnd(HANDLE search) {
    return FindClose(search);
}

}  // namespace file_calls
