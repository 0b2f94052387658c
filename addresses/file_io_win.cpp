#include "addresses/file_io.h"

#include "addresses/fingerprint.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

#include "addresses/ascii_case.h"

#include "addresses/file_calls_win.h"

namespace fc = file_calls;

namespace {

// Other programs may read and write the list file meanwhile: no sharing restriction.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The save's own files; as long as "quorvel.txt", so they fit wherever the list
// file does (GetTempFileNameA would want three characters more).
const char kTempName[] = "qvl0000.tmp";
constexpr size_t kNameLength = sizeof kTempName - 1;
constexpr size_t kDigitsAt = 3;
constexpr size_t kExtensionAt = 8;

size_t FolderLength(const char* path) {
    const char* nameStart = std::strrchr(path, '\\');
    return nameStart ? static_cast<size_t>(nameStart - path) + 1 : 0;
}

// path = folder + "qvlNNNN" + extension (".tmp", ".old", ".was").
bool SaveFileName(const char* folder, size_t folderLength, DWORD number, const char* extension,
                  char* path) {
    if (folderLength + kNameLength + 1 > MAX_PATH) return false;
    std::memcpy(path, folder, folderLength);
    std::memcpy(path + folderLength, kTempName, sizeof kTempName);
    for (int digit = 0; digit < 4; ++digit) {
        path[folderLength + kDigitsAt + 3 - digit] =
            "0123456789ABCDEF"[(number >> (4 * digit)) & 15];
    }
    std::memcpy(path + folderLength + kExtensionAt - 1, extension, 4);
    return true;
}

bool Exists(const char* path) {
    return fc::Attributes(path) != INVALID_FILE_ATTRIBUTES;
}

// A new qvlNNNN.tmp in the folder whose qvlNNNN.old is free too; its name goes
// to path. No delete sharing: another save's clean-up can't remove it meanwhile.
HANDLE CreateTemporaryFile(const char* folder, size_t folderLength, char* path, DWORD* number) {
    const DWORD first = (GetTickCount() ^ GetCurrentProcessId()) & 0xFFFF;
    char old[MAX_PATH];
    for (DWORD n = 0; n < 0x10000; ++n) {
        *number = (first + n) & 0xFFFF;
        if (!SaveFileName(folder, folderLength, *number, ".old", old)) break;
        if (Exists(old)) continue;
        SaveFileName(folder, folderLength, *number, ".tmp", path);
        const HANDLE file = fc::Create(path, GENERIC_WRITE | GENERIC_READ, FILE_SHARE_READ,
                                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
        if (file != INVALID_HANDLE_VALUE) return file;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}

// Writes all bytes; `written` counts those that went out.
bool WriteAll(HANDLE file, const char* data, size_t size, size_t* written) {
    *written = 0;
    while (size > 0) {
        const DWORD step = size > 0x100000 ? 0x100000 : static_cast<DWORD>(size);
        DWORD put = 0;
        if (!fc::Write(file, data, step, &put) || put == 0) return false;
        data += put;
        size -= put;
        *written += put;
    }
    return true;
}

// Reads the file from where its pointer stands to its end, into sink and the
// fingerprint; out, when given, gets a copy. False on a read or write error.
bool ReadAll(HANDLE file, ChunkSink sink, void* context, Fingerprint* print, HANDLE out) {
    char chunk[16384];
    DWORD got = 0;
    size_t written = 0;
    for (;;) {
        if (!fc::Read(file, chunk, sizeof chunk, &got)) return false;
        if (got == 0) return true;
        if (sink) sink(context, chunk, got);
        if (print) print->Add(chunk, got);
        if (out != INVALID_HANDLE_VALUE && !WriteAll(out, chunk, got, &written)) return false;
    }
}

enum class TempWrite { Whole, NoFile, Failed };

// Writes the bytes into a new temporary file and flushes it. Unless Whole, no
// temporary file stays: NoFile when the folder takes none, Failed when writing
// it failed (a full disk).
TempWrite WriteTemporaryFile(const char* folder, size_t folderLength, const char* data, size_t size,
                             char* tempPath, DWORD* number) {
    const HANDLE temp = CreateTemporaryFile(folder, folderLength, tempPath, number);
    if (temp == INVALID_HANDLE_VALUE) return TempWrite::NoFile;
    size_t written = 0;
    const bool whole = WriteAll(temp, data, size, &written) && fc::Flush(temp);
    if (!fc::Close(temp) || !whole) {
        fc::Delete(tempPath);
        return TempWrite::Failed;
    }
    return TempWrite::Whole;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// The extension of a save's file name ("tmp", "old", "was"), or null.
const char* SaveFileExtension(const char* name) {
    if (std::strlen(name) != kNameLength || FoldAscii(name[0]) != 'q' ||
        FoldAscii(name[1]) != 'v' || FoldAscii(name[2]) != 'l' || name[kExtensionAt - 1] != '.') {
        return nullptr;
    }
    for (size_t i = kDigitsAt; i < kDigitsAt + 4; ++i) {
        if (!IsHexDigit(name[i])) return nullptr;
    }
    const char* extension = name + kExtensionAt;
    for (const char* known : {"tmp", "old", "was"}) {
        if (EqualsNoCase(extension, known)) return known;
    }
    return nullptr;
}

// Whether a save's temporary file, written in the last few seconds, stands in
// the folder: a save puts it in place right after writing it, and one left by a
// save that died is no reason for every start of the filter to wait.
bool LiveTemporaryFileStands(const char* folder, size_t folderLength) {
    char pattern[MAX_PATH];
    if (!SaveFileName(folder, folderLength, 0, ".tmp", pattern)) return false;
    std::memcpy(pattern + folderLength, "qvl????.tmp", kNameLength + 1);
    WIN32_FIND_DATAA found;
    const HANDLE search = fc::FindFirst(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FILETIME nowTime;
    GetSystemTimeAsFileTime(&nowTime);
    const ULONGLONG now = (ULONGLONG{nowTime.dwHighDateTime} << 32) | nowTime.dwLowDateTime;
    constexpr ULONGLONG kLive = 10ull * 10000000;  // 10 s in the file times' 100 ns
    bool stands = false;
    do {
        const FILETIME& time = found.ftLastWriteTime;
        const ULONGLONG written = (ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime;
        stands = SaveFileExtension(found.cFileName) && written + kLive > now;
    } while (!stands && fc::FindNext(search, &found));
    fc::FindEnd(search);
    return stands;
}

// Opens the list file for reading. A save that replaces it leaves a moment, on
// Wine most of ReplaceFileA's time, in which it does not exist; while a save's
// temporary file, freshly written, stands beside it, the file is tried again
// for about a second before it counts as missing.
HANDLE OpenForReading(const char* path, bool waitForSave, DWORD* error) {
    const DWORD start = GetTickCount();
    for (;;) {
        const HANDLE file =
            fc::Create(path, GENERIC_READ, kShareAll, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
        *error = file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
        if (*error != ERROR_FILE_NOT_FOUND || !waitForSave || GetTickCount() - start > 1000) {
            return file;
        }
        if (!LiveTemporaryFileStands(path, FolderLength(path))) return file;
        Sleep(15);
    }
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

bool Print(const char* path, Fingerprint* print) {
    const HANDLE file =
        fc::Create(path, GENERIC_READ, kShareAll, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool read = ReadAll(file, nullptr, nullptr, print, INVALID_HANDLE_VALUE);
    fc::Close(file);
    return read;
}

bool SameBytes(const char* a, const char* b) {
    Fingerprint first, second;
    return Print(a, &first) && Print(b, &second) && first == second;
}

// A file with more than one name: replacing it would cut the other names off.
bool HasOtherLinks(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    return fc::Info(file, &info) && info.nNumberOfLinks > 1;
}

}  // namespace

struct HeldList {
    HANDLE file = INVALID_HANDLE_VALUE;  // invalid when the list was missing
    bool canWrite = false;               // others could not write it meanwhile
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    Fingerprint read;
};

ReadResult ReadFileChunks(const char* path, ChunkSink sink, void* context, bool waitForSave) {
    DWORD error = ERROR_SUCCESS;
    const HANDLE file = OpenForReading(path, waitForSave, &error);
    if (file == INVALID_HANDLE_VALUE) {
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadResult::Missing
                                                                              : ReadResult::Partial;
    }
    const bool read = ReadAll(file, sink, context, nullptr, INVALID_HANDLE_VALUE);
    fc::Close(file);
    return read ? ReadResult::Whole : ReadResult::Partial;
}

void FindLeftovers(const char* listPath, LeftoverSink sink, void* context) {
    const size_t folderLength = FolderLength(listPath);
    char path[MAX_PATH];
    if (!SaveFileName(listPath, folderLength, 0, ".tmp", path)) return;
    std::memcpy(path + folderLength, "qvl????.*", sizeof "qvl????.*");
    WIN32_FIND_DATAA found;
    const HANDLE search = fc::FindFirst(path, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const char* extension = SaveFileExtension(found.cFileName);
        if (!extension || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        std::memcpy(path + folderLength, found.cFileName, kNameLength + 1);
        Leftover kind = Leftover::Unfinished;
        if (extension[0] == 'o') {
            kind = Leftover::Replaced;
        } else if (extension[0] == 'w') {
            kind = Leftover::BeforeInPlace;
        } else {
            char old[MAX_PATH];
            std::memcpy(old, path, folderLength + kNameLength + 1);
            std::memcpy(old + folderLength + kExtensionAt, "old", 3);
            if (Exists(old)) kind = Leftover::Replacement;
        }
        sink(context, kind, path);
    } while (fc::FindNext(search, &found));
    fc::FindEnd(search);
}

void RemoveLeftover(const char* path) {
    fc::Delete(path);  // one still being written by another save is not shared for delete
}

bool KeepBackupCopy(const char* source, const char* listPath) {
    char backupPath[MAX_PATH];
    char newest[MAX_PATH] = "";
    unsigned n = 0;
    for (; n < kBackupNames && BackupName(listPath, n, backupPath) && Exists(backupPath); ++n) {
        std::memcpy(newest, backupPath, sizeof backupPath);
    }
    // A save that keeps failing must not fill the folder with the same copy.
    if (newest[0] && SameBytes(newest, source)) return true;
    const HANDLE from =
        fc::Create(source, GENERIC_READ, kShareAll, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
    if (from == INVALID_HANDLE_VALUE) return false;
    HANDLE backup = INVALID_HANDLE_VALUE;
    for (; n < kBackupNames && BackupName(listPath, n, backupPath); ++n) {
        // CREATE_NEW: an older backup is never written over.
        backup = fc::Create(backupPath, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL);
        const DWORD error = GetLastError();
        if (backup != INVALID_HANDLE_VALUE ||
            (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)) {
            break;
        }
    }
    if (backup == INVALID_HANDLE_VALUE) {
        fc::Close(from);
        return false;
    }
    bool whole = ReadAll(from, nullptr, nullptr, nullptr, backup) && fc::Flush(backup);
    fc::Close(from);
    if (!fc::Close(backup)) whole = false;
    if (!whole) fc::Delete(backupPath);
    return whole;
}

bool NewestBackup(const char* listPath, char* name, size_t size) {
    char next[MAX_PATH], newest[MAX_PATH] = "";
    for (unsigned n = 0; n < kBackupNames && BackupName(listPath, n, next) && Exists(next); ++n) {
        std::memcpy(newest, next, sizeof next);
    }
    const size_t length = std::strlen(newest);
    if (length == 0 || length >= size) return false;
    std::memcpy(name, newest, length + 1);
    return true;
}

bool FileRefusesWrites(const char* path) {
    // Windows refuses to replace a read-only file; so do we, also where the file
    // system would not ask (Wine, for one, replaces it).
    const DWORD attributes = fc::Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0;
}

ReadResult ReadAndHoldList(const char* path, ChunkSink sink, void* context, HeldList** held) {
    *held = nullptr;
    void* storage = std::malloc(sizeof(HeldList));
    if (!storage) return ReadResult::Partial;
    auto* list = new (storage) HeldList;
    list->attributes = fc::Attributes(path);
    // Reading and writing, others reading only: nobody writes between this read
    // and the new file's arrival. ReplaceFileA asks for read and delete access,
    // which this sharing grants.
    list->file = fc::Create(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
    list->canWrite = list->file != INVALID_HANDLE_VALUE;
    DWORD error = list->canWrite ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        *held = list;
        return ReadResult::Missing;
    }
    if (!list->canWrite) {
        // Another program holds it for writing: read it as it shares it, and look again later.
        list->file =
            fc::Create(path, GENERIC_READ, kShareAll, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
    }
    if (list->file == INVALID_HANDLE_VALUE ||
        !ReadAll(list->file, sink, context, &list->read, INVALID_HANDLE_VALUE)) {
        ReleaseHeldList(list);
        return ReadResult::Partial;
    }
    *held = list;
    return ReadResult::Whole;
}

void ReleaseHeldList(HeldList* held) {
    if (!held) return;
    if (held->file != INVALID_HANDLE_VALUE) fc::Close(held->file);
    held->~HeldList();
    std::free(held);
}

namespace {

// The file a save put in place must be one nobody wrote meanwhile: the one the
// handle, still open on the file that was replaced, reads the same as before.
bool UnchangedSinceRead(const HeldList& held) {
    Fingerprint now;
    return fc::Rewind(held.file) &&
           ReadAll(held.file, nullptr, nullptr, &now, INVALID_HANDLE_VALUE) && now == held.read;
}

WriteOutcome CreateList(const char* path, const char* data, size_t size) {
    const size_t folderLength = FolderLength(path);
    char temp[MAX_PATH];
    DWORD number = 0;
    if (WriteTemporaryFile(path, folderLength, data, size, temp, &number) != TempWrite::Whole) {
        return WriteOutcome::Failed;
    }
    // No replacing: a file that another program made meanwhile is read first.
    if (fc::Move(temp, path, MOVEFILE_WRITE_THROUGH)) return WriteOutcome::Written;
    const DWORD error = GetLastError();
    fc::Delete(temp);
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? WriteOutcome::Changed
                                                                       : WriteOutcome::Failed;
}

enum class Replaced { Done, Changed, NotDone };

// Puts a new temporary file in the list's place; the old list goes to the
// temporary file's .old name until the new one is known to be the only change.
Replaced ReplaceList(const HeldList& held, const char* path, const char* data, size_t size,
                     bool* diskFull) {
    const size_t folderLength = FolderLength(path);
    char temp[MAX_PATH], old[MAX_PATH];
    DWORD number = 0;
    const TempWrite written = WriteTemporaryFile(path, folderLength, data, size, temp, &number);
    if (written != TempWrite::Whole) {
        *diskFull = written == TempWrite::Failed;
        return Replaced::NotDone;
    }
    SaveFileName(path, folderLength, number, ".old", old);
    if (!fc::Replace(path, temp, old)) {
        // Some systems have moved the old file aside by now: put it back.
        if (!Exists(path)) fc::Move(old, path, 0);
        if (Exists(path)) fc::Delete(old);
        fc::Delete(temp);
        return Replaced::NotDone;
    }
    // Another program wrote the old file before it moved: its .old holds that, for the next read.
    if (!UnchangedSinceRead(held)) return Replaced::Changed;
    fc::Delete(old);
    // Windows keeps the attributes itself; some file systems leave that to us.
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const DWORD now = fc::Attributes(path);
    if (now != INVALID_FILE_ATTRIBUTES && (now & kKept) != (held.attributes & kKept)) {
        fc::SetAttributes(path, (now & ~kKept) | (held.attributes & kKept));
    }
    return Replaced::Done;
}

// Writes over the list file itself: the file is in use without delete sharing,
// or has other links. A whole copy of it stands as qvlNNNN.was first, so that a
// write cut short leaves the list findable; it goes once the write is whole.
WriteOutcome WriteInPlace(HeldList& held, const char* path, const char* data, size_t size) {
    HANDLE file = held.file;
    if (!held.canWrite) {
        file = fc::Create(path, GENERIC_READ | GENERIC_WRITE, kShareAll, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL);
        if (file == INVALID_HANDLE_VALUE) return WriteOutcome::Failed;
    }
    const size_t folderLength = FolderLength(path);
    char temp[MAX_PATH], was[MAX_PATH];
    DWORD number = 0;
    WriteOutcome outcome = WriteOutcome::Failed;
    const HANDLE copy = CreateTemporaryFile(path, folderLength, temp, &number);
    if (copy != INVALID_HANDLE_VALUE) {
        Fingerprint now;
        const bool copied =
            fc::Rewind(file) && ReadAll(file, nullptr, nullptr, &now, copy) && fc::Flush(copy);
        const bool closed = fc::Close(copy) != 0;
        SaveFileName(path, folderLength, number, ".was", was);
        if (copied && closed && !(now == held.read)) {
            outcome = WriteOutcome::Changed;  // never written over unread
        } else if (copied && closed && fc::Move(temp, was, MOVEFILE_WRITE_THROUGH)) {
            size_t written = 0;
            if (fc::Rewind(file) && WriteAll(file, data, size, &written) && fc::SetEnd(file) &&
                fc::Flush(file)) {
                outcome = WriteOutcome::Written;
            }
            // A write that failed before its first byte left the list as it was.
            if (outcome == WriteOutcome::Written || written == 0) fc::Delete(was);
        }
        fc::Delete(temp);
    }
    if (file != held.file) fc::Close(file);
    return outcome;
}

}  // namespace

WriteOutcome WriteHeldList(HeldList* held, const char* path, const char* data, size_t size) {
    if (held->file == INVALID_HANDLE_VALUE) return CreateList(path, data, size);
    bool diskFull = false;
    if (!HasOtherLinks(held->file)) {
        switch (ReplaceList(*held, path, data, size, &diskFull)) {
            case Replaced::Done:
                return WriteOutcome::Written;
            case Replaced::Changed:
                return WriteOutcome::Changed;
            case Replaced::NotDone:
                break;
        }
    }
    // A full disk: writing over the list file would only damage it.
    if (diskFull) return WriteOutcome::Failed;
    return WriteInPlace(*held, path, data, size);
}
