#include "addresses/file_io.h"

#include "addresses/fingerprint.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

// Here a file is replaced by rename(), which leaves no moment without it, and
// nothing shuts other writers out: a save looks again before it counts.

namespace {

constexpr size_t kPathMax = 4096;
constexpr size_t kNameLength = sizeof "qvl0000.tmp" - 1;

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

bool ReadAll(int fd, ChunkSink sink, void* context, Fingerprint* print, int out) {
    char chunk[16384];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        if (sink) sink(context, chunk, static_cast<size_t>(got));
        if (print) print->Add(chunk, static_cast<size_t>(got));
        size_t written = 0;
        if (out >= 0 && !WriteAll(out, chunk, static_cast<size_t>(got), &written)) return false;
    }
}

// The list's folder, without its slash ("." for none).
bool FolderOf(const char* path, char* folder) {
    const char* slash = std::strrchr(path, '/');
    const size_t length = slash ? static_cast<size_t>(slash - path) : 1;
    if (length + 1 + kNameLength >= kPathMax) return false;
    std::memcpy(folder, slash ? path : ".", length);
    folder[length] = '\0';
    return true;
}

bool SaveFileName(const char* folder, unsigned number, const char* extension, char* path) {
    const int made =
        std::snprintf(path, kPathMax, "%s/qvl%04X.%s", folder, number & 0xFFFF, extension);
    return made > 0 && static_cast<size_t>(made) < kPathMax;
}

// A new qvlNNNN.tmp whose qvlNNNN.old is free too.
int CreateTemporaryFile(const char* folder, char* path, unsigned* number, mode_t mode) {
    const unsigned first = static_cast<unsigned>(getpid() ^ std::rand());
    char old[kPathMax];
    for (unsigned n = 0; n < 0x10000; ++n) {
        *number = (first + n) & 0xFFFF;
        if (!SaveFileName(folder, *number, "old", old) || access(old, F_OK) == 0) continue;
        if (!SaveFileName(folder, *number, "tmp", path)) return -1;
        const int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

const char* SaveFileExtension(const char* name) {
    if (std::strlen(name) != kNameLength || std::strncmp(name, "qvl", 3) != 0 || name[7] != '.') {
        return nullptr;
    }
    for (size_t i = 3; i < 7; ++i) {
        if (!std::strchr("0123456789ABCDEFabcdef", name[i])) return nullptr;
    }
    for (const char* known : {"tmp", "old", "was"}) {
        if (std::strcmp(name + 8, known) == 0) return known;
    }
    return nullptr;
}

bool BackupName(const char* path, unsigned n, char* name) {
    const char* dot = std::strrchr(path, '.');
    const int stem = dot && !std::strchr(dot, '/') ? static_cast<int>(dot - path)
                                                   : static_cast<int>(std::strlen(path));
    const int made = n == 0 ? std::snprintf(name, kPathMax, "%.*s.bak", stem, path)
                            : std::snprintf(name, kPathMax, "%.*s.%u.bak", stem, path, n);
    return made > 0 && static_cast<size_t>(made) < kPathMax;
}

constexpr unsigned kBackupNames = 1000;

bool Print(const char* path, Fingerprint* print) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool read = ReadAll(fd, nullptr, nullptr, print, -1);
    close(fd);
    return read;
}

}  // namespace

struct HeldList {
    int fd = -1;  // -1 when the list was missing
    struct stat info = {};
    Fingerprint read;
};

ReadResult ReadFileChunks(const char* path, ChunkSink sink, void* context, bool) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT || errno == ENOTDIR ? ReadResult::Missing : ReadResult::Partial;
    }
    const bool read = ReadAll(fd, sink, context, nullptr, -1);
    close(fd);
    return read ? ReadResult::Whole : ReadResult::Partial;
}

void FindLeftovers(const char* listPath, LeftoverSink sink, void* context) {
    char folder[kPathMax];
    if (!FolderOf(listPath, folder)) return;
    DIR* dir = opendir(folder);
    if (!dir) return;
    while (const dirent* item = readdir(dir)) {
        const char* extension = SaveFileExtension(item->d_name);
        if (!extension) continue;
        char path[kPathMax + 256], old[kPathMax + 256];
        std::snprintf(path, sizeof path, "%s/%s", folder, item->d_name);
        Leftover kind = extension[0] == 'o'   ? Leftover::Replaced
                        : extension[0] == 'w' ? Leftover::BeforeInPlace
                                              : Leftover::Unfinished;
        if (kind == Leftover::Unfinished) {
            std::snprintf(old, sizeof old, "%s/%.7s.old", folder, item->d_name);
            if (access(old, F_OK) == 0) kind = Leftover::Replacement;
        }
        sink(context, kind, path);
    }
    closedir(dir);
}

void RemoveLeftover(const char* path) {
    unlink(path);
}

bool KeepBackupCopy(const char* source, const char* listPath) {
    char name[kPathMax], newest[kPathMax] = "";
    unsigned n = 0;
    for (; n < kBackupNames && BackupName(listPath, n, name) && access(name, F_OK) == 0; ++n) {
        std::memcpy(newest, name, sizeof name);
    }
    Fingerprint now, kept;
    if (newest[0] && Print(source, &now) && Print(newest, &kept) && now == kept) return true;
    const int from = open(source, O_RDONLY | O_CLOEXEC);
    if (from < 0) return false;
    struct stat info = {};
    fstat(from, &info);
    int backup = -1;
    for (; backup < 0 && n < kBackupNames && BackupName(listPath, n, name); ++n) {
        backup = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 0777);
        if (backup < 0 && errno != EEXIST) break;
    }
    if (backup < 0) {
        close(from);
        return false;
    }
    bool whole = ReadAll(from, nullptr, nullptr, nullptr, backup) && fsync(backup) == 0;
    close(from);
    if (close(backup) != 0) whole = false;
    if (!whole) unlink(name);
    return whole;
}

bool NewestBackup(const char* listPath, char* name, size_t size) {
    char next[kPathMax], newest[kPathMax] = "";
    for (unsigned n = 0;
         n < kBackupNames && BackupName(listPath, n, next) && access(next, F_OK) == 0; ++n) {
        std::memcpy(newest, next, sizeof next);
    }
    const size_t length = std::strlen(newest);
    if (length == 0 || length >= size) return false;
    std::memcpy(name, newest, length + 1);
    return true;
}

bool FileRefusesWrites(const char* path) {
    struct stat old = {};
    return stat(path, &old) == 0 && (S_ISDIR(old.st_mode) || (old.st_mode & 0222) == 0);
}

ReadResult ReadAndHoldList(const char* path, ChunkSink sink, void* context, HeldList** held) {
    *held = nullptr;
    void* storage = std::malloc(sizeof(HeldList));
    if (!storage) return ReadResult::Partial;
    auto* list = new (storage) HeldList;
    list->fd = open(path, O_RDWR | O_CLOEXEC);
    if (list->fd < 0 && (errno == ENOENT || errno == ENOTDIR)) {
        *held = list;
        return ReadResult::Missing;
    }
    if (list->fd < 0 || fstat(list->fd, &list->info) != 0 ||
        !ReadAll(list->fd, sink, context, &list->read, -1)) {
        ReleaseHeldList(list);
        return ReadResult::Partial;
    }
    *held = list;
    return ReadResult::Whole;
}

void ReleaseHeldList(HeldList* held) {
    if (!held) return;
    if (held->fd >= 0) close(held->fd);
    held->~HeldList();
    std::free(held);
}

namespace {

bool UnchangedSinceRead(const HeldList& held) {
    Fingerprint now;
    return lseek(held.fd, 0, SEEK_SET) == 0 && ReadAll(held.fd, nullptr, nullptr, &now, -1) &&
           now == held.read;
}

}  // namespace

WriteOutcome WriteHeldList(HeldList* held, const char* path, const char* data, size_t size) {
    char folder[kPathMax], temp[kPathMax], side[kPathMax];
    if (!FolderOf(path, folder)) return WriteOutcome::Failed;
    const bool exists = held->fd >= 0;
    unsigned number = 0;
    const int fd =
        CreateTemporaryFile(folder, temp, &number, exists ? held->info.st_mode & 07777 : 0644);
    if (fd < 0) return WriteOutcome::Failed;
    size_t written = 0;
    bool whole = WriteAll(fd, data, size, &written) && fsync(fd) == 0;
    if (exists) fchmod(fd, held->info.st_mode & 07777);
    if (close(fd) != 0 || !whole) {
        unlink(temp);
        return WriteOutcome::Failed;
    }
    if (!exists) {
        // link() never replaces: a file another program made meanwhile is read first.
        const bool linked = link(temp, path) == 0;
        const int error = errno;
        unlink(temp);
        if (linked) return WriteOutcome::Written;
        return error == EEXIST ? WriteOutcome::Changed : WriteOutcome::Failed;
    }
    if (held->info.st_nlink <= 1) {
        // The old list keeps a second name until the new one is known to be the only change.
        if (SaveFileName(folder, number, "old", side) && link(path, side) == 0) {
            if (rename(temp, path) != 0) {
                unlink(side);
                unlink(temp);
                return WriteOutcome::Failed;
            }
            if (!UnchangedSinceRead(*held)) return WriteOutcome::Changed;
            unlink(side);
            return WriteOutcome::Written;
        }
    }
    // Other links, or no second name to be had: over the file itself, its copy beside it first.
    if (!SaveFileName(folder, number, "was", side)) {
        unlink(temp);
        return WriteOutcome::Failed;
    }
    const int copy = open(temp, O_WRONLY | O_TRUNC | O_CLOEXEC);
    Fingerprint now;
    const bool copied = copy >= 0 && lseek(held->fd, 0, SEEK_SET) == 0 &&
                        ReadAll(held->fd, nullptr, nullptr, &now, copy) && fsync(copy) == 0;
    if (copy >= 0) close(copy);
    WriteOutcome outcome = WriteOutcome::Failed;
    if (copied && !(now == held->read)) {
        outcome = WriteOutcome::Changed;
    } else if (copied && rename(temp, side) == 0) {
        written = 0;
        if (lseek(held->fd, 0, SEEK_SET) == 0 && WriteAll(held->fd, data, size, &written) &&
            ftruncate(held->fd, static_cast<off_t>(size)) == 0 && fsync(held->fd) == 0) {
            outcome = WriteOutcome::Written;
        }
        if (outcome == WriteOutcome::Written || written == 0) unlink(side);
    }
    unlink(temp);
    return outcome;
}
