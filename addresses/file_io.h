// The platform half of the list file: reading with full sharing, and replacing
// the file in one step so that a failed save never costs the old file.
#pragma once

#include <cstddef>

// Calls sink with the file's bytes, chunk by chunk. False when the file can't be
// opened; a read error ends the data early, like the end of the file.
using ChunkSink = void (*)(void* context, const char* data, size_t size);
bool ReadFileChunks(const char* path, ChunkSink sink, void* context);

#ifdef QUORVEL_WRITE_FAULTS
// Test builds of the Windows half only: once `bytes` more bytes have gone to
// replacement files, writes fail as on a full disk; a negative count stops that.
extern "C" void FailWritesAfter(long long bytes);
#endif

// A temporary file in the target's folder that replaces the target on Commit.
class FileReplacement {
  public:
    explicit FileReplacement(const char* target);
    ~FileReplacement();  // removes the temporary file unless committed
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    bool IsOpen() const { return open_; }
    bool Write(const char* data, size_t size);
    // Flushes, closes and moves the temporary file over the target.
    bool Commit();

  private:
    void Discard();

    const char* target_;
    char tempPath_[1024] = {};
    long long handle_ = -1;
    bool open_ = false;
    bool failed_ = false;
};
