#include "tools/host/mail/mail_parser.h"

#include <cstring>

#include "tools/host/mail/byte_scans.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// One line of data starting at pos: [pos, end) without the line end; next is
// where the following line starts.
struct Line {
    size_t begin;
    size_t end;
    size_t next;
};

// A header line ends at a line feed, a CR LF or a bare carriage return, as
// Python's email package ends it.
Line HeaderLineAt(const char* data, size_t size, size_t pos) {
    const char* stop = FindLineEnd(data + pos, size - pos);
    Line line{pos, size, size};
    if (stop) {
        line.end = static_cast<size_t>(stop - data);
        line.next = line.end + 1;
        if (*stop == '\r' && line.next < size && data[line.next] == '\n') ++line.next;
    }
    return line;
}

// An mbox is cut into lines at line feeds only: a "From " after a bare carriage
// return starts no mail.
Line MboxLineAt(const char* data, size_t size, size_t pos) {
    const char* lf = FindByte(data + pos, size - pos, '\n');
    Line line{pos, size, size};
    if (lf) {
        line.end = static_cast<size_t>(lf - data);
        line.next = line.end + 1;
    }
    return line;
}

// Appends data[begin, end) to text, NUL bytes as blanks when there may be any.
void AppendText(std::string& text, const char* data, size_t begin, size_t end, bool nul) {
    const size_t from = text.size();
    text.append(data + begin, end - begin);
    if (!nul || !FindByte(data + begin, end - begin, '\0')) return;
    for (size_t i = from; i < text.size(); ++i) {
        if (text[i] == '\0') text[i] = ' ';
    }
}

void TrimBlanks(std::string& text) {
    size_t end = text.size();
    while (end > 0 && IsBlank(text[end - 1])) --end;
    size_t begin = 0;
    while (begin < end && IsBlank(text[begin])) ++begin;
    if (end < text.size()) text.erase(end);
    if (begin > 0) text.erase(0, begin);
}

// The length of the field name when the line starts with one and its colon;
// npos otherwise. A name is printable ASCII without blanks: "To : x" is no
// field, and the line ends the header block.
size_t FieldNameLength(const char* line, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        if (c == ':') return i;
        if (c < 33 || c > 126) return std::string::npos;
    }
    return std::string::npos;
}

bool IsField(const char* data, const Line& line) {
    return FieldNameLength(data + line.begin, line.end - line.begin) != std::string::npos;
}

}  // namespace

std::vector<Header> ParseHeaders(const char* data, size_t size) {
    std::vector<Header> headers;
    ParseHeaders(data, size, headers);
    return headers;
}

void ParseHeaders(const char* data, size_t size, std::vector<Header>& headers) {
    // headers[0, count) are this mail's; the rest are kept from an earlier one
    // until they are written over.
    size_t count = 0;
    // Asked once for the whole block rather than for every piece of it.
    const bool nul = FindByte(data, size, '\0') != nullptr;
    // Whether continuation lines belong to the last header or to a dropped line.
    bool continuing = false;
    for (size_t pos = ByteOrderMarkLength(data, size); pos < size;) {
        const Line line = HeaderLineAt(data, size, pos);
        pos = line.next;
        if (line.begin == line.end) break;  // the empty line before the body
        if (IsBlank(data[line.begin])) {
            // Unfolding removes only the line break; the blanks stay.
            if (continuing) AppendText(headers[count - 1].value, data, line.begin, line.end, nul);
            continue;
        }
        const size_t nameLength = FieldNameLength(data + line.begin, line.end - line.begin);
        if (nameLength == std::string::npos) {
            // A misplaced "From " line is passed over; any other line ends the
            // block, as IsHeaderBlockLine tells the splitter.
            if (!IsFromLine(data + line.begin, line.end - line.begin)) break;
            continuing = false;
            continue;
        }
        continuing = nameLength != 0;
        if (!continuing) continue;
        const size_t colonAt = line.begin + nameLength;
        if (count == headers.size()) headers.emplace_back();
        Header& header = headers[count];
        header.name.clear();
        AppendText(header.name, data, line.begin, colonAt, nul);
        header.value.clear();
        // Blanks at the start go in the end anyway; skipped here, they are never moved.
        size_t valueAt = colonAt + 1;
        while (valueAt < line.end && IsBlank(data[valueAt])) ++valueAt;
        AppendText(header.value, data, valueAt, line.end, nul);
        ++count;
    }
    headers.resize(count);
    for (Header& header : headers) TrimBlanks(header.value);
}

bool IsHeaderBlockLine(const char* line, size_t size) {
    if (size == 0) return false;
    if (IsBlank(line[0])) return true;
    return FieldNameLength(line, size) != std::string::npos || IsFromLine(line, size);
}

size_t ByteOrderMarkLength(const char* data, size_t size) {
    return size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
}

bool IsMbox(const char* data, size_t size) {
    const size_t first = ByteOrderMarkLength(data, size);
    return IsFromLine(data + first, size - first);
}

size_t MboxStart(const char* data, size_t size) {
    const size_t first = ByteOrderMarkLength(data, size);
    if (IsFromLine(data + first, size - first)) return first;
    for (size_t pos = first; pos < size;) {
        const Line line = MboxLineAt(data, size, pos);
        if (pos == first && IsField(data, line)) break;
        if (IsFromLine(data + pos, size - pos)) {
            // Junk came first, so a line that merely starts with the word needs a mail after it.
            if (line.next < size && IsField(data, MboxLineAt(data, size, line.next))) return pos;
        }
        pos = line.next;
    }
    return std::string::npos;
}

bool LooksLikeMail(const char* data, size_t size) {
    const size_t first = ByteOrderMarkLength(data, size);
    const size_t nameLength = FieldNameLength(data + first, size - first);
    if (nameLength != 0 && nameLength != std::string::npos) return true;
    return MboxStart(data, size) != std::string::npos;
}
