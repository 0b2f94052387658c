// The platform half of ListLock: a recursive process-wide lock
// (a critical section on Windows, a recursive mutex elsewhere).
#pragma once

void AcquireListLock();
void ReleaseListLock();
