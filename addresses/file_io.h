// The platform half of the list file: reading with full sharing, and writing it
// whole by the safest route the file and its folder allow.
#pragma once

#include <cstddef>

enum class ReadResult {
    Missing,  // there is no such file
    Whole,    // every byte reached the sink
    Partial,  // the file exists, but it could not be opened or a read failed
};

// Calls sink with the file's bytes, chunk by chunk. A read error ends the data.
// Where a file is replaced in two steps (Windows), a missing file with another
// save's temporary file beside it is waited for, for up to about a second.
using ChunkSink = void (*)(void* context, const char* data, size_t size);
ReadResult ReadFileChunks(const char* path, ChunkSink sink, void* context);

// Copies the file at path, as it is now, to a backup beside it that no other
// file had: the list's name with ".bak" for its extension (quorvel.bak), else
// quorvel.1.bak, quorvel.2.bak and so on. No backup is ever replaced or removed.
// True when the copy is whole; on false no part-copy stays.
bool KeepBackupCopy(const char* path);

// A read-only file, or a folder in the file's place: WriteWholeFile refuses it.
bool FileRefusesWrites(const char* path);

#ifdef QUORVEL_WRITE_FAULTS
// Test builds of the Windows half only: once `bytes` more bytes have gone to
// any file, writes fail as on a full disk; a negative count stops that.
extern "C" void FailWritesAfter(long long bytes);
// Once `bytes` more bytes have been read, reads fail as on a bad sector.
extern "C" void FailReadsAfter(long long bytes);
// The next write signals the event `started` and waits for `resume` first.
extern "C" void HoldNextWrite(void* started, void* resume);
#endif

// Makes the file at path hold exactly these bytes. Writes a temporary file in
// the same folder and puts it in the file's place, keeping the file's
// attributes, permissions and links; where the file is in use or the folder
// takes no new file, writes over the file itself. A read-only file is refused.
// True when the file holds the bytes. On false the file is unchanged, except
// when writing over it failed part-way: then a complete copy of the new list
// stays beside it under a free backup name, as KeepBackupCopy names them.
// Leftovers of earlier saves go after a success. *damaged tells that case.
bool WriteWholeFile(const char* path, const char* data, size_t size, bool* damaged);
