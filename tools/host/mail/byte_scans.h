// The scans that mail reading spends its time in: finding a byte, and the next
// line that may be an mbox separator. Both look at 16 bytes at a time where the
// processor has SSE2, else at a machine word at a time.
#pragma once

#include <cstddef>

// The first c in data[0, size), or null: memchr, 16 bytes at a time where the
// processor has SSE2, else a machine word at a time. The C runtime's memchr
// under Wine looks at one byte at a time, and mail reading is mostly looking
// for line feeds.
const char* FindByte(const char* data, size_t size, char c);

// The first line end of data[0, size), a line feed or a carriage return, or
// null: the scan of header lines, which end at either.
const char* FindLineEnd(const char* data, size_t size);

// Whether the line starts with "From ", size being how many of its bytes may be
// read: an mbox's separator, or in a header block a misplaced one. Byte by byte: a call to the C
// runtime's memcmp for every line costs more.
inline bool IsFromLine(const char* line, size_t size) {
    return size >= 5 && line[0] == 'F' && line[1] == 'r' && line[2] == 'o' && line[3] == 'm' &&
           line[4] == ' ';
}

// The first line of data[0, end) that may be an mbox separator: the line at
// data or after a line feed that starts with "From ", has fewer than five bytes
// before end, or runs to end without a line feed. What comes before it is
// whole lines that are no separator.
const char* NextPossibleSeparator(const char* data, const char* end);

// Whether those scan 16 bytes at a time, where the processor has SSE2 (as
// they do from the start), or a word at a time as without it: for tests of both.
void UseWideScans(bool wide);
