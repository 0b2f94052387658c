#include "addresses/list_file.h"

#include <cstdlib>
#include <cstring>

#include "addresses/ascii_case.h"
#include "addresses/code_page.h"

namespace {
constexpr char kCtrlZ = 0x1A;

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

void ListFileReader::Pass(const char* text, size_t size) {
    if (textSink_) textSink_(textContext_, text, size);
    parser_.Feed(text, size);
}

void ListFileReader::FeedText(const unsigned char* data, size_t size) {
    if (encoding_ == ListEncoding::Bytes || encoding_ == ListEncoding::Utf8Marked) {
        Pass(reinterpret_cast<const char*>(data), size);
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
        units_[unitCount_++] =
            static_cast<char16_t>(little ? first | second << 8 : first << 8 | second);
        if (unitCount_ == sizeof units_ / sizeof units_[0]) ConvertUnits(false);
    }
}

// Hands the units gathered to the parser as 8-bit text; a high surrogate at the
// end waits for its partner unless the data ends.
void ListFileReader::ConvertUnits(bool final) {
    size_t count = unitCount_;
    const bool holdLast = !final && count > 0 && IsHighSurrogate(units_[count - 1]);
    if (holdLast) --count;
    char text[3 * sizeof units_ / sizeof units_[0]];
    bool lossy = false;
    const size_t made = WideToSystemText(units_, count, text, &lossy);
    if (lossy) losses_ |= kLostUnconvertible;
    Pass(text, made);
    unitCount_ = 0;
    if (holdLast) units_[unitCount_++] = units_[count];
}

void ListFileReader::Finish() {
    if (!decided_) Decide(true);
    if (encoding_ == ListEncoding::Utf16Le || encoding_ == ListEncoding::Utf16Be) {
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
    if (encoding_ == ListEncoding::Bytes || encoding_ == ListEncoding::Utf8Marked) {
        // A first entry that starts like a mark would be read back as the mark:
        // an empty line first, which the reader passes over, keeps it text.
        if (first_ && encoding_ == ListEncoding::Bytes && StartsWithMark(text)) {
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
    const bool little = encoding_ == ListEncoding::Utf16Le;
    for (size_t i = 0; i < count; ++i) {
        const char low = static_cast<char>(units[i] & 0xFF),
                   high = static_cast<char>(units[i] >> 8);
        Put(little ? low : high);
        Put(little ? high : low);
    }
    if (units != small) std::free(units);
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
