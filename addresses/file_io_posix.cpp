#include "addresses/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool ReadFileChunks(const char* path, ChunkSink sink, void* context) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char chunk[16384];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        sink(context, chunk, static_cast<size_t>(got));
    }
    close(fd);
    return true;
}

FileReplacement::FileReplacement(const char* target) : target_(target) {
    const int written = std::snprintf(tempPath_, sizeof tempPath_, "%s.XXXXXX", target);
    if (written <= 0 || static_cast<size_t>(written) >= sizeof tempPath_) return;
    const int fd = mkstemp(tempPath_);
    if (fd < 0) return;
    fchmod(fd, 0644);
    handle_ = fd;
    open_ = true;
}

FileReplacement::~FileReplacement() {
    Discard();
}

bool FileReplacement::Write(const char* data, size_t size) {
    while (open_ && !failed_ && size > 0) {
        const ssize_t put = write(static_cast<int>(handle_), data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0)
            failed_ = true;
        else {
            data += put;
            size -= static_cast<size_t>(put);
        }
    }
    return open_ && !failed_;
}

bool FileReplacement::Commit() {
    if (!open_ || failed_) return false;
    const int fd = static_cast<int>(handle_);
    handle_ = -1;
    const bool synced = fsync(fd) == 0;
    const bool closed = close(fd) == 0;
    if (!synced || !closed || rename(tempPath_, target_) != 0) {
        unlink(tempPath_);
        open_ = false;
        return false;
    }
    open_ = false;
    return true;
}

void FileReplacement::Discard() {
    if (!open_) return;
    if (handle_ >= 0) close(static_cast<int>(handle_));
    unlink(tempPath_);
    handle_ = -1;
    open_ = false;
}
