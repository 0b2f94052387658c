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

bool WriteWholeFile(const char* path, const char* data, size_t size) {
    struct stat old = {};
    const bool exists = stat(path, &old) == 0;
    if (exists && (S_ISDIR(old.st_mode) || (old.st_mode & 0222) == 0)) return false;

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
            // The one whole copy, under a name no later save removes.
            if (haveCopy) {
                char kept[sizeof tempPath + PATH_MAX];
                const char* dot = std::strrchr(path, '.');
                const int stem = dot && !std::strchr(dot, '/') ? static_cast<int>(dot - path) : -1;
                if (stem >= 0 && std::snprintf(kept, sizeof kept, "%.*s.bak", stem, path) > 0) {
                    rename(tempPath, kept);
                }
            }
            break;
    }
    return false;
}
