// The platform half of ListLock: a recursive process-wide lock
// (a critical section on Windows, a recursive mutex elsewhere), and a second
// one that lets one save at a time write the file.
#pragma once

void AcquireListLock();
void ReleaseListLock();
void AcquireSaveLock();
void ReleaseSaveLock();
// Frees both locks, when the module is unloaded from a process that goes on.
void DestroyListLocks();

// Lets one save at a time, in any process of any session, read and write the
// list file at path (another host, quorvel-host learn --write), so neither
// writes over what the other added between its read and its write. One lock per
// file, whichever spelling of its path each program has (a short name, another
// drive letter, a junction). Null when the lock could not be had within waitMs
// milliseconds; release what it returns.
void* AcquireFileSaveLock(const char* path, unsigned waitMs);
void ReleaseFileSaveLock(void* lock);
