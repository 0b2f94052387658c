// The platform half of the list file: reading with full sharing, finding what
// saves that stopped part-way left beside it, and writing it whole by the
// safest route the file and its folder allow.
//
// A save goes through these files, each trusted only once it is whole:
//   qvlNNNN.tmp  the new list while it is written; whole only when its .old stands
//   qvlNNNN.old  the list, moved aside by the replace that puts qvlNNNN.tmp in its place
//   qvlNNNN.was  a whole copy of the list made before writing over it in place; while
//                it stands, the list file may be torn
// A crash at any moment leaves the old list or the new one findable from them.
#pragma once

#include <cstddef>
#include <cstdint>

enum class ReadResult {
    Missing,  // there is no such file
    Whole,    // every byte reached the sink
    Partial,  // the file exists, but it could not be opened or a read failed
};

// Calls sink with the file's bytes, chunk by chunk. A read error ends the data.
// With waitForSave, a missing file with another save's fresh temporary file
// beside it is waited for, for up to about a second (Windows replaces a file
// in two steps); a caller that holds the file's save lock needs no such wait.
using ChunkSink = void (*)(void* context, const char* data, size_t size);
ReadResult ReadFileChunks(const char* path, ChunkSink sink, void* context, bool waitForSave);

enum class Leftover {
    Unfinished,     // a .tmp without its .old: may have been cut short, never read
    Replaced,       // a .old: the list as it stood before a replace
    Replacement,    // a .tmp whose .old stands: written and flushed before the replace began
    BeforeInPlace,  // a .was
};
// Calls sink for each file that a save left beside the list file at path.
using LeftoverSink = void (*)(void* context, Leftover kind, const char* path);
void FindLeftovers(const char* listPath, LeftoverSink sink, void* context);
// Removes a leftover whose entries a written list holds.
void RemoveLeftover(const char* path);

// Copies the file at source (the list file, or a leftover of a save), as it is
// now, to a backup beside the list that no other file had: the list's name with
// ".bak" for its extension (quorvel.bak), else quorvel.1.bak, quorvel.2.bak and so on. No backup is
// ever replaced or removed. When the newest backup already holds the same bytes, no copy is made.
// True when a backup holds the bytes; on false no part-copy stays.
bool KeepBackupCopy(const char* source, const char* listPath);
// The newest of those backups into name (size bytes), which is the one a
// KeepBackupCopy just made or found holding the bytes. False when there is none,
// or its name does not fit.
bool NewestBackup(const char* listPath, char* name, size_t size);

// A read-only file, or a folder in the file's place: a save refuses it.
bool FileRefusesWrites(const char* path);

// The list file as a save holds it, from its second look at the file until the
// new one stands in its place: others may read it but, where the platform lets
// us, not write it; where they can, the save looks again before it counts.
struct HeldList;

// Opens and reads the file for a save. On Missing and Whole, *held is set (to be
// released with ReleaseHeldList); on Partial it is null.
ReadResult ReadAndHoldList(const char* path, ChunkSink sink, void* context, HeldList** held);
void ReleaseHeldList(HeldList* held);

enum class WriteOutcome {
    Written,  // the file holds the bytes
    Failed,   // the file is as it was, or torn with its .was copy beside it
    Changed,  // another program wrote the file since it was read: read it again
};
// Makes the held file hold exactly these bytes. Writes a temporary file in the
// same folder and puts it in the file's place, keeping the file's attributes,
// permissions and links; where the file is in use or has other names, writes
// over the file itself after a whole copy of it stands beside it. A file that
// changed since ReadAndHoldList, or appeared where none stood, is never written
// over: Changed. Leaves its .old when the file changed, so the next read finds
// the other program's entries there.
WriteOutcome WriteHeldList(HeldList* held, const char* path, const char* data, size_t size);
