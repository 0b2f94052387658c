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
