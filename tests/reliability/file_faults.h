// The switches of the core's test build (file_calls_faults_win.cpp), which
// stands in for the Windows file calls: writes or reads failing part-way, a
// write held up, the program stopped at any file call as a crash would stop
// it, and another program writing just before a call. The shipped module has
// none of them.
#pragma once

extern "C" {
// Once `bytes` more bytes have gone to any file, writes fail as on a full disk;
// a negative count stops that.
void FailWritesAfter(long long bytes);
// Once `bytes` more bytes have been read, reads fail as on a bad sector.
void FailReadsAfter(long long bytes);
// The next write signals the event `started` and waits for `resume` first.
void HoldNextWrite(void* started, void* resume);

// Counts file calls from 1 again and, when `at` is not 0, stops the program at
// call number `at`: that call and every later one fail without effect, as
// after a crash, while handles still close as the system closes a dead
// program's. With halfway, a write stopped there writes half its bytes first,
// and a replace moves the old file aside first. StopAtFileCall(0, 0) revives.
void StopAtFileCall(long at, int halfway);
// File calls made since the last StopAtFileCall, and the name of the n-th.
long FileCallsMade();
const char* FileCallName(long n);
// Just before file call number `at`, runs other(context) once: another program.
void InterleaveAtFileCall(long at, void (*other)(void*), void* context);
}
