#include "tools/host/mail_parser.h"

#include <cstdint>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define QUORVEL_X86 1
#endif

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
    const char* lf = FindByte(data + pos, size - pos, '\n');
    Line line{pos, size, size};
    if (lf) {
        line.end = static_cast<size_t>(lf - data);
        line.next = line.end + 1;
    }
    if (line.end > line.begin && data[line.end - 1] == '\r') --line.end;
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

const char* FindByteInWords(const char* data, const char* end, char c) {
    while (data < end && reinterpret_cast<uintptr_t>(data) % sizeof(size_t) != 0) {
        if (*data == c) return data;
        ++data;
    }
    // A word holds c where word ^ pattern has a zero byte; the test for one
    // is exact about whether there is one, not about where.
    constexpr size_t kOnes = ~size_t{0} / 0xFF;
    constexpr size_t kHighs = kOnes * 0x80;
    const size_t pattern = kOnes * static_cast<unsigned char>(c);
    for (; static_cast<size_t>(end - data) >= sizeof(size_t); data += sizeof(size_t)) {
        size_t word;
        std::memcpy(&word, data, sizeof word);
        word ^= pattern;
        if ((word - kOnes) & ~word & kHighs) break;
    }
    for (; data < end; ++data) {
        if (*data == c) return data;
    }
    return nullptr;
}

const char* NextPossibleSeparatorInWords(const char* line, const char* end) {
    while (end - line >= 5 && !IsFromLine(line, 5)) {
        const char* lf = FindByteInWords(line, end, '\n');
        if (!lf) break;
        line = lf + 1;
    }
    return line;
}

#ifdef QUORVEL_X86
bool HasSse2() {
#if defined(__x86_64__)
    return true;
#else
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2");
#endif
}

bool g_hasSse2 = HasSse2();

__attribute__((target("sse2"))) const char* FindByteSse2(const char* data, const char* end,
                                                         char c) {
    const __m128i pattern = _mm_set1_epi8(c);
    for (; end - data >= 16; data += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
        const int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, pattern));
        if (hits != 0) return data + __builtin_ctz(static_cast<unsigned>(hits));
    }
    return FindByteInWords(data, end, c);
}

// Every line feed of a 16-byte block judged at once: bodies are mostly short lines.
__attribute__((target("sse2"))) const char* NextPossibleSeparatorSse2(const char* line,
                                                                      const char* end) {
    if (end - line < 5 || IsFromLine(line, 5)) return line;
    const __m128i pattern = _mm_set1_epi8('\n');
    const char* at = line;
    for (; end - at >= 16; at += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        for (unsigned hits =
                 static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, pattern)));
             hits != 0; hits &= hits - 1) {
            line = at + __builtin_ctz(hits) + 1;
            if (end - line < 5 || IsFromLine(line, 5)) return line;
        }
    }
    for (; at < end; ++at) {
        if (*at != '\n') continue;
        line = at + 1;
        if (end - line < 5 || IsFromLine(line, 5)) return line;
    }
    return line;
}
#endif

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

const char* FindByte(const char* data, size_t size, char c) {
#ifdef QUORVEL_X86
    if (g_hasSse2) return FindByteSse2(data, data + size, c);
#endif
    return FindByteInWords(data, data + size, c);
}

void UseWideScans(bool wide) {
#ifdef QUORVEL_X86
    g_hasSse2 = wide && HasSse2();
#else
    (void)wide;
#endif
}

const char* NextPossibleSeparator(const char* data, const char* end) {
#ifdef QUORVEL_X86
    if (g_hasSse2) return NextPossibleSeparatorSse2(data, end);
#endif
    return NextPossibleSeparatorInWords(data, end);
}

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
        const Line line = LineAt(data, size, pos);
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
        const Line line = LineAt(data, size, pos);
        if (pos == first && IsField(data, line)) break;
        if (IsFromLine(data + pos, size - pos)) {
            // Junk came first, so a line that merely starts with the word needs a mail after it.
            if (line.next < size && IsField(data, LineAt(data, size, line.next))) return pos;
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
