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

// The header block at the start of a mail, its lines ended by LF, CR LF or a
// bare CR, continuation lines joined to the header before them. It ends at the first line that is
// neither a header field ("Name:", the name printable ASCII without blanks) nor a continuation line
// (one that starts with a blank or a tab): usually the empty line, but in a mail that lacks it, the
// first line of the body, which is never read as a header. A field with no name and a "From " line
// are dropped, with the continuation lines after them. A UTF-8 byte-order mark before the first
// field is passed over. NUL bytes in a value become blanks, so that no part of
// it is hidden from a reader that stops at the first zero byte.
std::vector<Header> ParseHeaders(const char* data, size_t size);
// The same into headers, whose strings keep their memory from one mail to the
// next: a reader of many mails allocates only for a longer header than before.
void ParseHeaders(const char* data, size_t size, std::vector<Header>& headers);

// Whether the line (without its line end) belongs to a header block: a header
// field, a continuation line, or a misplaced "From " line.
bool IsHeaderBlockLine(const char* line, size_t size);

// The length of a UTF-8 byte-order mark at the start of the data: 3 or 0.
size_t ByteOrderMarkLength(const char* data, size_t size);

// Whether the data is an mbox: it starts with a "From " separator line, after
// a byte-order mark if it has one.
bool IsMbox(const char* data, size_t size);

// Where the first mail of an mbox starts: at its "From " separator line, which
// may follow blank lines or lines of junk, such as a broken export leaves; then
// the separator must be followed by a header field. npos when the data starts
// with a header field (a mail, not an mbox) or holds no such separator.
size_t MboxStart(const char* data, size_t size);

// Whether the data looks like a mail or an mbox: its first line, after a
// byte-order mark, is a header field, or MboxStart finds a separator. Used to
// pass over other files that share a folder with mails. Of a mail that passes
// and is no mbox, ParseHeaders reads the first line as a header.
bool LooksLikeMail(const char* data, size_t size);
