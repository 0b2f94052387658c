#include "tools/host/commands/save_drops.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "addresses/ascii_case.h"
#include "addresses/file_io.h"
#include "addresses/list_file.h"
#include "tools/host/commands/list_health.h"
#include "tools/host/mail/mail_inputs.h"

namespace {

// Lines and entries named in a sentence before "and N more".
constexpr size_t kMaxNamed = 5;

// What the core hands out goes into memory of ours here; the core is built
// without exceptions, so nothing may leave these.
struct Gathered {
    std::string text;
    std::vector<std::string> entries;
    std::vector<ListFileParser::Piece> pieces;
    bool outOfMemory = false;
};

void GatherText(void* context, const char* text, size_t size) {
    auto* gathered = static_cast<Gathered*>(context);
    try {
        if (!gathered->outOfMemory) gathered->text.append(text, size);
    } catch (...) {
        gathered->outOfMemory = true;
    }
}

void GatherEntry(void* context, const char* text) {
    auto* gathered = static_cast<Gathered*>(context);
    try {
        if (!gathered->outOfMemory) gathered->entries.push_back(text);
    } catch (...) {
        gathered->outOfMemory = true;
    }
}

void GatherPiece(void* context, const ListFileParser::Piece& piece) {
    auto* gathered = static_cast<Gathered*>(context);
    try {
        if (!gathered->outOfMemory) gathered->pieces.push_back(piece);
    } catch (...) {
        gathered->outOfMemory = true;
    }
}

void GatherBytes(void* context, const char* data, size_t size) {
    GatherText(context, data, size);
}

void Check(const Gathered& gathered) {
    if (gathered.outOfMemory) throw std::bad_alloc();
}

std::string Lines(const std::vector<size_t>& numbers) {
    std::string said = numbers.size() == 1 ? "line " : "lines ";
    for (size_t i = 0; i < numbers.size() && i < kMaxNamed; ++i) {
        if (i > 0) said += i + 1 == numbers.size() ? " and " : ", ";
        said += std::to_string(numbers[i]);
    }
    if (numbers.size() > kMaxNamed)
        said += " and " + std::to_string(numbers.size() - kMaxNamed) + " more";
    return said;
}

void PutUtf8(uint32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// One line of a marked file as UTF-8 for the output, whatever the code page:
// what does not decode shows as '?', and a long line is cut.
std::string ShownLine(const std::string& bytes, size_t start, size_t end, ListEncoding encoding) {
    constexpr size_t kShownCharacters = 60;
    std::string shown;
    const bool utf8 = encoding == ListEncoding::Utf8Marked;
    const char* const cr = encoding == ListEncoding::Utf16Be ? "\0\r" : "\r\0";
    if (end - start >= (utf8 ? 1u : 2u) &&
        (utf8 ? bytes[end - 1] == '\r' : std::memcmp(bytes.data() + end - 2, cr, 2) == 0)) {
        end -= utf8 ? 1 : 2;  // the line end's CR
    }
    size_t characters = 0;
    size_t at = start;
    for (; at < end && characters < kShownCharacters; ++characters) {
        uint32_t c = '?';
        size_t length = 1;
        const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
        if (utf8) {
            const unsigned char lead = byte(at);
            const size_t need = lead < 0x80    ? 0
                                : lead >= 0xF0 ? 3
                                : lead >= 0xE0 ? 2
                                : lead >= 0xC2 ? 1
                                               : 9;
            size_t good = 0;
            while (need < 9 && good < need && at + 1 + good < end &&
                   (byte(at + 1 + good) & 0xC0) == 0x80)
                ++good;
            if (need == 0) {
                c = lead;
            } else if (need < 9 && good == need && lead < 0xF5) {
                c = lead & (0x3F >> need);
                for (size_t i = 1; i <= need; ++i) c = c << 6 | (byte(at + i) & 0x3F);
                length = need + 1;
                if (c >= 0xD800 && c < 0xE000) c = '?';
            }
        } else {
            if (at + 1 >= end) break;  // an odd last byte
            const bool big = encoding == ListEncoding::Utf16Be;
            const auto unitAt = [&](size_t i) {
                return static_cast<char16_t>(big ? byte(i) << 8 | byte(i + 1)
                                                 : byte(i + 1) << 8 | byte(i));
            };
            const char16_t unit = unitAt(at);
            length = 2;
            if (IsHighSurrogate(unit) && at + 3 < end && IsLowSurrogate(unitAt(at + 2))) {
                c = 0x10000 + ((unit - 0xD800u) << 10) + (unitAt(at + 2) - 0xDC00u);
                length = 4;
            } else if (!IsHighSurrogate(unit) && !IsLowSurrogate(unit)) {
                c = unit;
            }
        }
        PutUtf8(c, shown);
        at += length;
    }
    return ShowEntry(shown) + (at < end && characters == kShownCharacters ? "..." : "");
}

struct LostLine {
    size_t number;
    std::string shown;
};

// The lines of a marked file that do not convert to the code page: each line
// read again on its own, after the file's mark, by the plug-in's reader.
std::vector<LostLine> UnconvertibleLines(const std::string& bytes, ListEncoding encoding) {
    if (encoding == ListEncoding::Bytes) return {};  // nothing is converted
    const size_t mark = encoding == ListEncoding::Utf8Marked ? 3 : 2;
    const size_t unit = encoding == ListEncoding::Utf8Marked ? 1 : 2;
    const char lineFeed[2] = {encoding == ListEncoding::Utf16Be ? '\0' : '\n',
                              encoding == ListEncoding::Utf16Be ? '\n' : '\0'};
    std::vector<LostLine> lines;
    size_t number = 1;
    for (size_t start = mark; start < bytes.size(); ++number) {
        size_t end = start;
        while (end + unit <= bytes.size() && std::memcmp(bytes.data() + end, lineFeed, unit) != 0) {
            end += unit;
        }
        if (end + unit > bytes.size()) end = bytes.size();  // the last line, an odd byte and all
        ListFileReader reader([](void*, const char*) {}, nullptr);
        reader.Feed(bytes.data(), mark);
        reader.Feed(bytes.data() + start, end - start);
        reader.Finish();
        if (reader.losses() & kLostUnconvertible) {
            lines.push_back({number, ShownLine(bytes, start, end, encoding)});
        }
        start = end + unit;
    }
    return lines;
}

}  // namespace

std::vector<std::string> WhatASaveDrops(const std::string& bytes) {
    Gathered read;
    ListFileReader reader([](void*, const char*) {}, nullptr);
    reader.TapText(GatherText, &read);
    reader.Feed(bytes.data(), bytes.size());
    reader.Finish();
    Check(read);
    std::vector<std::string> drops;
    const unsigned losses = reader.losses();
    if (losses == 0) return drops;
    // The text the line rules read, once more, to see where its lines go wrong.
    Gathered parsed;
    ListFileParser parser(GatherEntry, &parsed);
    parser.TapPieces(GatherPiece, &parsed);
    parser.Feed(read.text.data(), read.text.size());
    parser.Finish();
    Check(parsed);
    if (losses & kLostAfterCtrlZ) {
        // All that follows the Ctrl-Z, further ones read as line ends.
        std::string rest = read.text.substr(parser.ctrlZAt() + 1);
        std::replace(rest.begin(), rest.end(), '\x1A', '\n');
        Gathered after;
        ListFileParser tail(GatherEntry, &after);
        tail.Feed(rest.data(), rest.size());
        tail.Finish();
        Check(after);
        const std::string where = "the Ctrl-Z in line " + std::to_string(parser.line());
        if (after.entries.empty()) {
            drops.push_back(where + (rest.empty() ? "" : " and the blank lines after it"));
        } else {
            std::string named = after.entries.size() == 1
                                    ? "the entry after " + where + ", "
                                    : "the " + std::to_string(after.entries.size()) +
                                          " entries after " + where + ": ";
            for (size_t i = 0; i < after.entries.size() && i < kMaxNamed; ++i) {
                named += (i > 0 ? ", " : "") + ShowEntry(after.entries[i]);
            }
            if (after.entries.size() > kMaxNamed) {
                named += " and " + std::to_string(after.entries.size() - kMaxNamed) + " more";
            }
            drops.push_back(named);
        }
    }
    if (losses & kLostUnconvertible) {
        const std::vector<LostLine> lines = UnconvertibleLines(bytes, reader.encoding());
        std::vector<size_t> numbers;
        std::string shown;
        for (const LostLine& line : lines) {
            numbers.push_back(line.number);
            if (numbers.size() <= kMaxNamed) shown += (shown.empty() ? " (" : ", ") + line.shown;
        }
        if (!shown.empty()) shown += ")";
        drops.push_back((lines.empty() ? std::string("the end of the file") : Lines(numbers)) +
                        shown +
                        ", with letters your system's code page has no form for, or broken text");
    }
    std::vector<size_t> zeroes, long_;
    for (size_t i = 0; i < parsed.pieces.size(); ++i) {
        const ListFileParser::Piece& piece = parsed.pieces[i];
        if (std::memchr(read.text.data() + piece.start, '\0', piece.length) &&
            (zeroes.empty() || zeroes.back() != piece.line)) {
            zeroes.push_back(piece.line);
        }
        if (i > 0 && parsed.pieces[i - 1].line == piece.line &&
            (long_.empty() || long_.back() != piece.line)) {
            long_.push_back(piece.line);
        }
    }
    if (!zeroes.empty()) drops.push_back("what follows a zero byte in " + Lines(zeroes));
    if (!long_.empty()) {
        drops.push_back(Lines(long_) + " as written: longer than " + std::to_string(kMaxPiece) +
                        " characters, saved as the pieces the plug-in reads");
    }
    return drops;
}

std::vector<std::string> WhatASaveDropsOf(const std::string& path) {
    Gathered file;
    const ReadResult read = ReadFileChunks(CodePagePath(path).c_str(), GatherBytes, &file, true);
    Check(file);
    return read == ReadResult::Whole ? WhatASaveDrops(file.text) : std::vector<std::string>();
}
