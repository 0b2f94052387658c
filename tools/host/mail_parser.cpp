#include "tools/host/mail_parser.h"

#include <cstring>

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

Line LineAt(const char* data, size_t size, size_t pos) {
    const void* lf = std::memchr(data + pos, '\n', size - pos);
    Line line{pos, size, size};
    if (lf) {
        line.end = static_cast<size_t>(static_cast<const char*>(lf) - data);
        line.next = line.end + 1;
    }
    if (line.end > line.begin && data[line.end - 1] == '\r') --line.end;
    return line;
}

std::string Text(const char* data, size_t begin, size_t end) {
    std::string text(data + begin, end - begin);
    for (char& c : text) {
        if (c == '\0') c = ' ';
    }
    return text;
}

void TrimBlanks(std::string& text) {
    size_t end = text.size();
    while (end > 0 && IsBlank(text[end - 1])) --end;
    size_t begin = 0;
    while (begin < end && IsBlank(text[begin])) ++begin;
    text = text.substr(begin, end - begin);
}

bool StartsWithFrom(const char* data, size_t size, size_t pos) {
    return size - pos >= 5 && std::memcmp(data + pos, "From ", 5) == 0;
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
    // Whether continuation lines belong to the last header or to a dropped line.
    bool continuing = false;
    for (size_t pos = ByteOrderMarkLength(data, size); pos < size;) {
        const Line line = LineAt(data, size, pos);
        pos = line.next;
        if (line.begin == line.end) break;  // the empty line before the body
        if (!IsHeaderBlockLine(data + line.begin, line.end - line.begin)) break;
        if (IsBlank(data[line.begin])) {
            // Unfolding removes only the line break; the blanks stay.
            if (continuing) headers.back().value += Text(data, line.begin, line.end);
            continue;
        }
        const size_t nameLength = FieldNameLength(data + line.begin, line.end - line.begin);
        continuing = nameLength != 0 && nameLength != std::string::npos;
        if (!continuing) continue;
        const size_t colonAt = line.begin + nameLength;
        headers.push_back({Text(data, line.begin, colonAt), Text(data, colonAt + 1, line.end)});
    }
    for (Header& header : headers) TrimBlanks(header.value);
    return headers;
}

bool IsHeaderBlockLine(const char* line, size_t size) {
    if (size == 0) return false;
    if (IsBlank(line[0])) return true;
    return FieldNameLength(line, size) != std::string::npos || StartsWithFrom(line, size, 0);
}

size_t ByteOrderMarkLength(const char* data, size_t size) {
    return size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
}

bool IsMbox(const char* data, size_t size) {
    return StartsWithFrom(data, size, ByteOrderMarkLength(data, size));
}

size_t MboxStart(const char* data, size_t size) {
    const size_t first = ByteOrderMarkLength(data, size);
    if (StartsWithFrom(data, size, first)) return first;
    for (size_t pos = first; pos < size;) {
        const Line line = LineAt(data, size, pos);
        if (pos == first && IsField(data, line)) break;
        if (StartsWithFrom(data, size, pos)) {
            // Junk came first, so a line that merely starts with the word needs a mail after it.
            if (line.next < size && IsField(data, LineAt(data, size, line.next))) return pos;
        }
        pos = line.next;
    }
    return std::string::npos;
}

std::vector<MailSpan> SplitMbox(const char* data, size_t size) {
    std::vector<MailSpan> mails;
    for (size_t pos = 0; pos < size;) {
        const Line line = LineAt(data, size, pos);
        if (StartsWithFrom(data, size, pos)) {
            if (!mails.empty()) mails.back().size = pos - mails.back().offset;
            mails.push_back({line.next, size - line.next});
        }
        pos = line.next;
    }
    return mails;
}

bool LooksLikeMail(const char* data, size_t size) {
    const size_t first = ByteOrderMarkLength(data, size);
    const size_t nameLength = FieldNameLength(data + first, size - first);
    if (nameLength != 0 && nameLength != std::string::npos) return true;
    return MboxStart(data, size) != std::string::npos;
}
