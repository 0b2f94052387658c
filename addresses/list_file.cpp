#include "addresses/list_file.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "addresses/ascii_case.h"
#include "addresses/code_page.h"

namespace {
constexpr char kCtrlZ = 0x1A;
// Broken UTF-8 becomes this unit: half a surrogate pair, which no conversion
// takes, so its line counts as unconvertible like any other.
constexpr char16_t kBrokenUtf8 = 0xDC00;

bool StartsWithMark(const char* text) {
    return std::strncmp(text, "\xEF\xBB\xBF", 3) == 0 || std::strncmp(text, "\xFF\xFE", 2) == 0 ||
           std::strncmp(text, "\xFE\xFF", 2) == 0;
}
}  // namespace

void ListFileParser::Feed(const char* data, size_t size) {
    for (size_t i = 0; i < size && !ended_; ++i) {
        const char c = data[i];
        const size_t at = fed_ + i;
        if (pendingCr_) {
            pendingCr_ = false;
            if (c == '\n') {
                Put('\n', at - 1);
                continue;
            }
            Put('\r', at - 1);
        }
        if (c == kCtrlZ) {
            ended_ = true;
            losses_ |= kLostAfterCtrlZ;
            ctrlZAt_ = at;
        } else if (c == '\r') {
            pendingCr_ = true;  // decided by the next byte, which may be in the next chunk
        } else {
            Put(c, at);
        }
    }
    fed_ += size;
}

void ListFileParser::Finish() {
    if (pendingCr_) {
        pendingCr_ = false;
        Put('\r', fed_ - 1);
    }
    if (length_ > 0) EmitPiece();
    ended_ = true;
}

void ListFileParser::Put(char c, size_t at) {
    if (length_ == 0) pieceStart_ = at;
    if (splitOpen_) {
        splitOpen_ = false;
        if (c != '\n') losses_ |= kLostSplitLine;
    }
    piece_[length_++] = c;
    if (c == '\n') {
        EmitPiece();
    } else if (length_ == kMaxPiece) {
        EmitPiece();
        splitOpen_ = true;
    }
}

void ListFileParser::EmitPiece() {
    const size_t length = length_;
    piece_[length] = '\0';
    length_ = 0;
    auto* lineFeed = static_cast<char*>(std::memchr(piece_, '\n', length));
    const size_t text = lineFeed ? static_cast<size_t>(lineFeed - piece_) : length;
    if (lineFeed) *lineFeed = '\0';
    if (std::memchr(piece_, '\0', text)) losses_ |= kLostAfterZeroByte;
    if (pieceSink_) pieceSink_(pieceContext_, Piece{line_, pieceStart_, text});
    if (piece_[0] != '\0') sink_(context_, piece_);
    if (lineFeed) ++line_;
}

void ListFileReader::Feed(const char* data, size_t size) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    while (!decided_ && size > 0) {
        head_[headLength_++] = *bytes++;
        --size;
        Decide(false);
    }
    FeedText(bytes, size);
}

// Settles the encoding as soon as the first bytes allow, then passes on those
// that are text.
void ListFileReader::Decide(bool final) {
    static const unsigned char kMarks[][3] = {{0xEF, 0xBB, 0xBF}, {0xFF, 0xFE}, {0xFE, 0xFF}};
    static const size_t kLengths[] = {3, 2, 2};
    static const ListEncoding kEncodings[] = {ListEncoding::Utf8Marked, ListEncoding::Utf16Le,
                                              ListEncoding::Utf16Be};
    bool open = false;
    for (size_t m = 0; m < 3; ++m) {
        if (std::memcmp(head_, kMarks[m], headLength_ < kLengths[m] ? headLength_ : kLengths[m]))
            continue;
        if (headLength_ >= kLengths[m]) {
            encoding_ = kEncodings[m];
            decided_ = true;
            return;
        }
        open = true;
    }
    if (open && !final) return;
    encoding_ = ListEncoding::Bytes;
    decided_ = true;
    FeedText(head_, headLength_);
}

ListFileReader::~ListFileReader() {
    std::free(line_);
}

void ListFileReader::Pass(const char* text, size_t size) {
    if (textSink_) textSink_(textContext_, text, size);
    parser_.Feed(text, size);
}

void ListFileReader::FeedText(const unsigned char* data, size_t size) {
    if (encoding_ == ListEncoding::Bytes) {
        Pass(reinterpret_cast<const char*>(data), size);
        return;
    }
    if (encoding_ == ListEncoding::Utf8Marked) {
        FeedUtf8(data, size);
        return;
    }
    const bool little = encoding_ == ListEncoding::Utf16Le;
    for (size_t i = 0; i < size; ++i) {
        if (oddByte_ < 0) {
            oddByte_ = data[i];
            continue;
        }
        const unsigned first = static_cast<unsigned>(oddByte_), second = data[i];
        oddByte_ = -1;
        AddUnit(static_cast<char16_t>(little ? first | second << 8 : first << 8 | second));
    }
}

void ListFileReader::FeedUtf8(const unsigned char* data, size_t size) {
    for (size_t i = 0; i < size;) {
        const unsigned char b = data[i];
        if (utf8Needed_ == 0) {
            ++i;
            if (b < 0x80) {
                AddUnit(b);
                continue;
            }
            // Leads of overlong forms (C0, C1) and of code points past U+10FFFF start nothing.
            utf8Needed_ = b >= 0xC2 && b <= 0xDF   ? 1
                          : b >= 0xE0 && b <= 0xEF ? 2
                          : b >= 0xF0 && b <= 0xF4 ? 3
                                                   : 0;
            if (utf8Needed_ == 0) AddUnit(kBrokenUtf8);
            utf8Code_ = b & (0x3Fu >> utf8Needed_);
            utf8Lead_ = b;
            continue;
        }
        // The second byte also rules out overlong forms, surrogates and code
        // points past U+10FFFF.
        unsigned low = 0x80, high = 0xBF;
        if (utf8Lead_ != 0) {
            if (utf8Lead_ == 0xE0) low = 0xA0;
            if (utf8Lead_ == 0xED) high = 0x9F;
            if (utf8Lead_ == 0xF0) low = 0x90;
            if (utf8Lead_ == 0xF4) high = 0x8F;
        }
        if (b < low || b > high) {
            utf8Needed_ = 0;  // this byte is read again as a start
            AddUnit(kBrokenUtf8);
            continue;
        }
        ++i;
        utf8Lead_ = 0;
        utf8Code_ = utf8Code_ << 6 | (b & 0x3Fu);
        if (--utf8Needed_ > 0) continue;
        if (utf8Code_ < 0x10000) {
            AddUnit(static_cast<char16_t>(utf8Code_));
        } else {
            AddUnit(static_cast<char16_t>(0xD800 + ((utf8Code_ - 0x10000) >> 10)));
            AddUnit(static_cast<char16_t>(0xDC00 + ((utf8Code_ - 0x10000) & 0x3FF)));
        }
    }
}

void ListFileReader::AddUnit(char16_t unit) {
    units_[unitCount_++] = unit;
    if (unitCount_ == sizeof units_ / sizeof units_[0]) ConvertUnits(false);
}

// Hands the units gathered to the parser as 8-bit text, line by line; a high
// surrogate at the end waits for its partner unless the data ends.
void ListFileReader::ConvertUnits(bool final) {
    size_t count = unitCount_;
    const bool holdLast = !final && count > 0 && IsHighSurrogate(units_[count - 1]);
    if (holdLast) --count;
    size_t start = 0;
    for (size_t i = 0; i < count; ++i) {
        if (units_[i] != u'\n' && units_[i] != kCtrlZ) continue;
        EndLine(units_ + start, i - start, static_cast<char>(units_[i]));
        start = i + 1;
    }
    if (final) {
        EndLine(units_ + start, count - start, '\0');
    } else {
        AddToLine(units_ + start, count - start);
    }
    unitCount_ = 0;
    if (holdLast) units_[unitCount_++] = units_[count];
}

// True when the units convert exactly: every surrogate in a pair, every
// character with a form in the code page.
bool ListFileReader::Convert(const char16_t* units, size_t count, char* out, size_t* made) {
    for (size_t i = 0; i < count; ++i) {
        if (IsHighSurrogate(units[i]) && i + 1 < count && IsLowSurrogate(units[i + 1])) {
            ++i;
        } else if (IsHighSurrogate(units[i]) || IsLowSurrogate(units[i])) {
            return false;
        }
    }
    bool lossy = false;
    *made = WideToSystemText(units, count, out, &lossy);
    return !lossy;
}

// The start of a line whose end is in later units.
void ListFileReader::AddToLine(const char16_t* units, size_t count) {
    if (lineLost_ || count == 0) return;
    char text[3 * sizeof units_ / sizeof units_[0]];
    size_t made = 0;
    if (!Convert(units, count, text, &made)) {
        lineLost_ = true;
        return;
    }
    if (lineSize_ + made > lineCapacity_) {
        size_t capacity = lineCapacity_ ? lineCapacity_ : sizeof text;
        while (capacity < lineSize_ + made) capacity *= 2;
        char* grown = static_cast<char*>(std::realloc(line_, capacity));
        if (!grown) {
            // Kept on disk like a line that does not convert: a save backs the
            // file up before it writes the list without it.
            lineLost_ = true;
            return;
        }
        line_ = grown;
        lineCapacity_ = capacity;
    }
    std::memcpy(line_ + lineSize_, text, made);
    lineSize_ += made;
}

// The last units of a line and the unit that ends it (none at the end of the
// data): the whole line goes on, or only its end, so the line feeds stay.
void ListFileReader::EndLine(const char16_t* units, size_t count, char end) {
    if (lineSize_ > 0 || lineLost_) {
        AddToLine(units, count);
        if (!lineLost_) Pass(line_, lineSize_);
    } else if (count > 0) {
        char text[3 * sizeof units_ / sizeof units_[0]];
        size_t made = 0;
        lineLost_ = !Convert(units, count, text, &made);
        if (!lineLost_) Pass(text, made);
    }
    if (lineLost_) losses_ |= kLostUnconvertible;
    lineLost_ = false;
    lineSize_ = 0;
    if (end != '\0') Pass(&end, 1);
}

void ListFileReader::Finish() {
    if (!decided_) Decide(true);
    if (encoding_ != ListEncoding::Bytes) {
        if (utf8Needed_ > 0) AddUnit(kBrokenUtf8);  // a character cut off
        utf8Needed_ = 0;
        ConvertUnits(true);
        if (oddByte_ >= 0) losses_ |= kLostUnconvertible;  // half a unit
        oddByte_ = -1;
    }
    parser_.Finish();
}

ListFileWriter::ListFileWriter(ByteSink sink, void* context, ListEncoding encoding)
    : sink_(sink), context_(context), encoding_(encoding) {
    const char* mark = encoding == ListEncoding::Utf8Marked ? "\xEF\xBB\xBF"
                       : encoding == ListEncoding::Utf16Le  ? "\xFF\xFE"
                       : encoding == ListEncoding::Utf16Be  ? "\xFE\xFF"
                                                            : "";
    for (; *mark; ++mark) Put(*mark);
}

void ListFileWriter::AddEntry(const char* text) {
    if (encoding_ == ListEncoding::Bytes) {
        // A first entry that starts like a mark would be read back as the mark:
        // an empty line first, which the reader passes over, keeps it text.
        if (first_ && StartsWithMark(text)) {
            Put('\r');
            Put('\n');
        }
        first_ = false;
        for (const char* p = text; *p; ++p) {
            if (*p == '\n') Put('\r');
            Put(*p);
        }
        Put('\r');
        Put('\n');
        return;
    }
    // The line in 8-bit text first, converted whole: a character of two bytes
    // is never cut.
    size_t size = 2;
    for (const char* p = text; *p; ++p) size += *p == '\n' ? 2 : 1;
    char small[512];
    char* line = size <= sizeof small ? small : static_cast<char*>(std::malloc(size));
    if (!line) {
        ok_ = false;
        return;
    }
    size_t at = 0;
    for (const char* p = text; *p; ++p) {
        if (*p == '\n') line[at++] = '\r';
        line[at++] = *p;
    }
    line[at++] = '\r';
    line[at++] = '\n';
    PutWide(line, at);
    if (line != small) std::free(line);
}

void ListFileWriter::PutWide(const char* line, size_t size) {
    char16_t small[512];
    char16_t* units = size <= sizeof small / sizeof small[0]
                          ? small
                          : static_cast<char16_t*>(std::malloc(size * sizeof(char16_t)));
    if (!units) {
        ok_ = false;
        return;
    }
    const size_t count = SystemTextToWide(line, size, units);
    if (encoding_ == ListEncoding::Utf8Marked) {
        for (size_t i = 0; i < count; ++i) PutUtf8(units, count, &i);
    } else {
        const bool little = encoding_ == ListEncoding::Utf16Le;
        for (size_t i = 0; i < count; ++i) {
            const char low = static_cast<char>(units[i] & 0xFF),
                       high = static_cast<char>(units[i] >> 8);
            Put(little ? low : high);
            Put(little ? high : low);
        }
    }
    if (units != small) std::free(units);
}

// The character at units[*at] in UTF-8; *at moves past a pair's first half.
void ListFileWriter::PutUtf8(const char16_t* units, size_t count, size_t* at) {
    uint32_t c = units[*at];
    if (IsHighSurrogate(units[*at]) && *at + 1 < count && IsLowSurrogate(units[*at + 1])) {
        c = 0x10000 + ((c - 0xD800) << 10) + (units[++*at] - 0xDC00u);
    } else if (IsHighSurrogate(units[*at]) || IsLowSurrogate(units[*at])) {
        c = 0xFFFD;  // no conversion from the code page makes one; UTF-8 has no form for it
    }
    if (c < 0x80) {
        Put(static_cast<char>(c));
    } else if (c < 0x800) {
        Put(static_cast<char>(0xC0 | c >> 6));
        Put(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        Put(static_cast<char>(0xE0 | c >> 12));
        Put(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        Put(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        Put(static_cast<char>(0xF0 | c >> 18));
        Put(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
        Put(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        Put(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool ListFileWriter::Finish() {
    Flush();
    return ok_;
}

void ListFileWriter::Put(char c) {
    if (used_ == sizeof buffer_) Flush();
    buffer_[used_++] = c;
}

void ListFileWriter::Flush() {
    if (ok_ && used_ > 0) ok_ = sink_(context_, buffer_, used_);
    used_ = 0;
}
