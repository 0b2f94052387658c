#include <windows.h>

#include <cstdint>
#include <cstring>
#include <cwchar>

#include "tools/host/mail/mail_inputs.h"

std::wstring WideFromUtf8(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), size, &wide[0], length);
    return wide;
}

std::string Utf8FromWide(const wchar_t* text) {
    const int size = static_cast<int>(std::wcslen(text));
    if (size == 0) return std::string();
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(length), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, size, &narrow[0], length, nullptr, nullptr);
    return narrow;
}

std::string CodePagePath(const std::string& path) {
    const std::wstring wide = WideFromUtf8(path);
    const int size = static_cast<int>(wide.size());
    if (size == 0) return std::string();
    // No best fit: a name spelt with a look-alike letter is another file.
    BOOL lossy = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr,
                                           0, nullptr, &lossy);
    if (length <= 0 || lossy) return std::string();
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, &narrow[0], length,
                        nullptr, nullptr);
    return narrow;
}

std::string Utf8FromCodePage(const std::string& text) {
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (length <= 0) return std::string();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, &wide[0], length);
    return Utf8FromWide(wide.c_str());
}

PathKind KindOfPath(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(WideFromUtf8(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::kFolder : PathKind::kFile;
}

std::FILE* OpenForReading(const std::string& path) {
    return _wfopen(WideFromUtf8(path).c_str(), L"rb");
}

bool IdentifyFolder(const std::string& path, FolderId& id) {
    // Only a handle opened for backup reaches a folder; it follows links and junctions
    // to the folder they lead to.
    const HANDLE folder = CreateFileW(WideFromUtf8(path).c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(folder, &info) != 0;
    CloseHandle(folder);
    if (!known) return false;
    id = {info.dwVolumeSerialNumber,
          (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return true;
}

namespace {

// The entries FindFirstFileW finds for the pattern, without . and ..; false
// when the folder can't be searched for another reason than finding nothing.
bool Find(const std::string& pattern, std::vector<FolderEntry>& entries) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(WideFromUtf8(pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        if (std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0) {
            continue;
        }
        entries.push_back({Utf8FromWide(found.cFileName),
                           (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

}  // namespace

bool ExpandWildcards(const std::string& pattern, std::vector<FolderEntry>& matches) {
    const size_t cut = pattern.find_last_of("\\/:");
    const size_t last = cut == std::string::npos ? 0 : cut + 1;
    if (pattern.find_first_of("*?", last) == std::string::npos) return false;
    // The name matches as the file system matches it: without regard to case.
    Find(pattern, matches);
    return true;
}

bool ListFolder(const std::string& path, std::vector<FolderEntry>& entries) {
    return Find(JoinPath(path, "*"), entries);
}
