// The Windows file calls the list file's platform half makes, one function each,
// so that a test build can link its own (a crash at any call, a write failing
// part-way, another program writing in between) while the module links
// file_calls_win.cpp, which only forwards to kernel32.
#pragma once

#include <windows.h>

namespace file_calls {

HANDLE Create(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags);
BOOL Read(HANDLE file, char* data, DWORD size, DWORD* got);
BOOL Write(HANDLE file, const char* data, DWORD size, DWORD* put);
BOOL Flush(HANDLE file);
// Moves the file pointer to the start and cuts the file there once written.
BOOL Rewind(HANDLE file);
BOOL SetEnd(HANDLE file);
BOOL Close(HANDLE file);
BOOL Info(HANDLE file, BY_HANDLE_FILE_INFORMATION* info);
DWORD Attributes(const char* path);
BOOL SetAttributes(const char* path, DWORD attributes);
BOOL Move(const char* from, const char* to, DWORD flags);
BOOL Replace(const char* replaced, const char* replacement, const char* backup);
BOOL Delete(const char* path);
HANDLE FindFirst(const char* pattern, WIN32_FIND_DATAA* found);
BOOL FindNext(HANDLE search, WIN32_FIND_DATAA* found);
BOOL FindEnd(HANDLE search);

}  // namespace file_calls
