#include <io.h>
#include <windows.h>

#include <cstring>

#include "tools/host/mail_inputs.h"

PathKind KindOfPath(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::kFolder : PathKind::kFile;
}

bool ListFolder(const std::string& path, std::vector<FolderEntry>& entries) {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(JoinPath(path, "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0) {
            continue;
        }
        entries.push_back(
            {found.cFileName, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return true;
}

// A console, not merely a character device: NUL is one too, and output sent
// there is redirected like output to a file.
bool IsTerminal(std::FILE* stream) {
    const intptr_t handle = _get_osfhandle(_fileno(stream));
    DWORD mode;
    return handle != -1 && GetConsoleMode(reinterpret_cast<HANDLE>(handle), &mode) != 0;
}
