#include "addresses/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The temporary file's name in the list file's folder: "qvl" XXXXXX ".tmp".
const char kTempPrefix[] = "qvl";
const char kTempSuffix[] = ".tmp";
constexpr size_t kTempNameLength = 3 + 6 + 4;

bool WriteAll(int fd, const char* data, size_t size, size_t* written) {
    *written = 0;
    while (size > 0) {
        const ssize_t put = write(fd, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        size -= static_cast<size_t>(put);
        *written += static_cast<size_t>(put);
    }
    return true;
}

bool IsTemporaryName(const char* name) {
    const size_t length = std::strlen(name);
    return length == kTempNameLength && std::strncmp(name, kTempPrefix, 3) == 0 &&
           std::strcmp(name + length - 4, kTempSuffix) == 0;
}

// Temporary files of saves that died part-way, or the copy kept by one that failed.
void RemoveLeftovers(const char* folder) {
    DIR* dir = opendir(folder);
    if (!dir) return;
    while (const dirent* item = readdir(dir)) {
        if (!IsTemporaryName(item->d_name)) continue;
        char path[4096];
        const int n = std::snprintf(path, sizeof path, "%s/%s", folder, item->d_name);
        if (n > 0 && static_cast<size_t>(n) < sizeof path) unlink(path);
    }
    closedir(dir);
}

// The list's name with ".bak" for its extension, or with a number before it
// (quorvel.1.bak) for the n-th other one. False when it does not fit.
bool BackupName(const char* path, unsigned n, char* name) {
    const char* dot = std::strrchr(path, '.');
    const int stem = dot && !std::strchr(dot, '/') ? static_cast<int>(dot - path)
                                                   : static_cast<int>(std::strlen(path));
    const int made = n == 0 ? std::snprintf(name, 4096, "%.*s.bak", stem, path)
                            : std::snprintf(name, 4096, "%.*s.%u.bak", stem, path, n);
    return made > 0 && made < 4096;
}

constexpr unsigned kBackupNames = 1000;

enum class InPlace { Written, Untouched, Damaged };

InPlace WriteInPlace(const char* path, const char* data, size_t size) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return InPlace::Untouched;
    size_t written = 0;
    const bool whole = WriteAll(fd, data, size, &written);
    const bool ended = whole && ftruncate(fd, static_cast<off_t>(size)) == 0 && fsync(fd) == 0;
    const bool closed = close(fd) == 0;
    if (ended && closed) return InPlace::Written;
    return written == 0 && !whole ? InPlace::Untouched : InPlace::Damaged;
}

}  // namespace

// Files are replaced by rename(), which leaves no moment without the file:
// there is no save to wait for.
ReadResult ReadFileChunks(const char* path, ChunkSink sink, void* context) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? ReadResult::Missing : ReadResult::Partial;
    char chunk[16384];
    ReadResult result = ReadResult::Whole;
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) result = ReadResult::Partial;
        if (got <= 0) break;
        sink(context, chunk, static_cast<size_t>(got));
    }
    close(fd);
    return result;
}

bool KeepBackupCopy(const char* path) {
    const int source = open(path, O_RDONLY | O_CLOEXEC);
    if (source < 0) return false;
    struct stat info = {};
    fstat(source, &info);
    char name[4096];
    int backup = -1;
    for (unsigned n = 0; backup < 0 && n < kBackupNames && BackupName(path, n, name); ++n) {
        backup = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 0777);
        if (backup < 0 && errno != EEXIST) break;
    }
    if (backup < 0) {
        close(source);
        return false;
    }
    char chunk[16384];
    bool whole = true;
    for (;;) {
        const ssize_t got = read(source, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) whole = false;
        if (got <= 0) break;
        size_t written = 0;
        if (!WriteAll(backup, chunk, static_cast<size_t>(got), &written)) {
            whole = false;
            break;
        }
    }
    whole = whole && fsync(backup) == 0;
    close(source);
    if (close(backup) != 0) whole = false;
    if (!whole) unlink(name);
    return whole;
}

bool FileRefusesWrites(const char* path) {
    struct stat old = {};
    return stat(path, &old) == 0 && (S_ISDIR(old.st_mode) || (old.st_mode & 0222) == 0);
}

bool WriteWholeFile(const char* path, const char* data, size_t size, bool* damaged) {
    *damaged = false;
    if (FileRefusesWrites(path)) return false;
    struct stat old = {};
    const bool exists = stat(path, &old) == 0;

    char folder[4096];
    const char* slash = std::strrchr(path, '/');
    const size_t folderLength = slash ? static_cast<size_t>(slash - path) : 1;
    if (folderLength + 1 + kTempNameLength >= sizeof folder) return false;
    std::memcpy(folder, slash ? path : ".", folderLength);
    folder[folderLength] = '\0';

    char tempPath[sizeof folder + kTempNameLength + 1];
    std::snprintf(tempPath, sizeof tempPath, "%s/%sXXXXXX%s", folder, kTempPrefix, kTempSuffix);
    const int temp = mkstemps(tempPath, 4);
    const bool haveCopy = temp >= 0;
    if (haveCopy) {
        size_t written = 0;
        fchmod(temp, exists ? (old.st_mode & 07777) : 0644);
        const bool whole = WriteAll(temp, data, size, &written) && fsync(temp) == 0;
        if (close(temp) != 0 || !whole) {
            unlink(tempPath);
            return false;
        }
        // A file with more than one name is written in place, keeping its links.
        if ((!exists || old.st_nlink <= 1) && rename(tempPath, path) == 0) {
            RemoveLeftovers(folder);
            return true;
        }
    }
    switch (WriteInPlace(path, data, size)) {
        case InPlace::Written:
            if (haveCopy) unlink(tempPath);
            RemoveLeftovers(folder);
            return true;
        case InPlace::Untouched:
            if (haveCopy) unlink(tempPath);
            return false;
        case InPlace::Damaged:
            *damaged = true;
            // The one whole copy, under a name no later save removes; an older
            // backup may be the only copy of something else.
            if (haveCopy) {
                char kept[4096];
                bool moved = false;
                for (unsigned n = 0; !moved && n < kBackupNames && BackupName(path, n, kept); ++n) {
                    moved = link(tempPath, kept) == 0;
                    if (!moved && errno != EEXIST) {
                        // No hard links here: a rename to a name still free.
                        moved = access(kept, F_OK) != 0 && rename(tempPath, kept) == 0;
                        break;
                    }
                }
                if (moved) unlink(tempPath);  // gone already after a rename
            }
            break;
    }
    return false;
}
