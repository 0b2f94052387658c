// Reading mail files as the host sees them: the header block of one mail, and
// the mails of an mbox. Works on any bytes; nothing here touches the platform.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct Header {
    std::string name;   // the bare field name, as written
    std::string value;  // unfolded, without the blanks around it
};

// The header block at the start of a mail: every line up to the first empty line
// (or the end of the data), CR LF or LF, continuation lines joined to the header
// before them. A line without a colon is dropped, and so are the continuation
// lines after it. NUL bytes become blanks, so that no part of a value is hidden
// from a reader that stops at the first zero byte.
std::vector<Header> ParseHeaders(const char* data, size_t size);
// The same into headers, whose strings keep their memory from one mail to the
// next: a reader of many mails allocates only for a longer header than before.
void ParseHeaders(const char* data, size_t size, std::vector<Header>& headers);

// The first c in data[0, size), or null: memchr, 16 bytes at a time where the
// processor has SSE2, else a machine word at a time. The C runtime's memchr
// under Wine looks at one byte at a time, and mail reading is mostly looking
// for line feeds.
const char* FindByte(const char* data, size_t size, char c);

// The first line of data[0, end) that may be an mbox separator: the line at
// data or after a line feed that starts with "From ", has fewer than five bytes
// before end, or runs to end without a line feed. What comes before it is
// whole lines that are no separator.
const char* NextPossibleSeparator(const char* data, const char* end);

// Whether those two scan 16 bytes at a time, where the processor has SSE2 (as
// they do from the start), or a word at a time as without it: for tests of both.
void UseWideScans(bool wide);

// One mail inside a larger buffer.
struct MailSpan {
    size_t offset;
    size_t size;
};

// Whether the data is an mbox: it starts with a "From " separator line.
bool IsMbox(const char* data, size_t size);

// The mails of an mbox, each without its "From " separator line. A separator is
// a line that starts with "From "; body lines escaped as ">From " stay in the
// mail. Data before the first separator is not a mail.
std::vector<MailSpan> SplitMbox(const char* data, size_t size);

// Whether the data looks like a mail or an mbox: its first line is a header line
// ("Name:" with a printable ASCII name) or an mbox separator. Used to pass over
// other files that share a folder with mails.
bool LooksLikeMail(const char* data, size_t size);
