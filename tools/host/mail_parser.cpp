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

// Appends data[begin, end) to text, NUL bytes as blanks.
void AppendText(std::string& text, const char* data, size_t begin, size_t end) {
    const size_t from = text.size();
    text.append(data + begin, end - begin);
    for (size_t i = from; i < text.size(); ++i) {
        if (text[i] == '\0') text[i] = ' ';
    }
}

void TrimBlanks(std::string& text) {
    size_t end = text.size();
    while (end > 0 && IsBlank(text[end - 1])) --end;
    size_t begin = 0;
    while (begin < end && IsBlank(text[begin])) ++begin;
    text.erase(end);
    text.erase(0, begin);
}

bool StartsWithFrom(const char* data, size_t size, size_t pos) {
    return size - pos >= 5 && std::memcmp(data + pos, "From ", 5) == 0;
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
    // Whether continuation lines belong to the last header or to a dropped line.
    bool continuing = false;
    for (size_t pos = 0; pos < size;) {
        const Line line = LineAt(data, size, pos);
        pos = line.next;
        if (line.begin == line.end) break;  // the empty line before the body
        if (IsBlank(data[line.begin])) {
            // Unfolding removes only the line break; the blanks stay.
            if (continuing) AppendText(headers[count - 1].value, data, line.begin, line.end);
            continue;
        }
        const void* colon = std::memchr(data + line.begin, ':', line.end - line.begin);
        continuing = false;
        if (!colon) continue;
        const size_t colonAt = static_cast<size_t>(static_cast<const char*>(colon) - data);
        if (count == headers.size()) headers.emplace_back();
        Header& header = headers[count];
        header.name.clear();
        AppendText(header.name, data, line.begin, colonAt);
        TrimBlanks(header.name);  // "To :" is an old but valid spelling
        if (header.name.empty()) continue;
        header.value.clear();
        AppendText(header.value, data, colonAt + 1, line.end);
        ++count;
        continuing = true;
    }
    headers.resize(count);
    for (Header& header : headers) TrimBlanks(header.value);
}

bool IsMbox(const char* data, size_t size) {
    return StartsWithFrom(data, size, 0);
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
    if (IsMbox(data, size)) return true;
    for (size_t i = 0; i < size; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (c == ':') return i > 0;
        if (c < 33 || c > 126) return false;
    }
    return false;
}
