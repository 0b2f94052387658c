#include "tools/host/commands/save_drops.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

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

// The numbers of the lines of a marked file that do not convert to the code
// page: each line read again on its own, after the file's mark, by the
// plug-in's reader. Only numbers: showing their text would take a second
// decoder of the list file's encodings.
std::vector<size_t> UnconvertibleLines(const std::string& bytes, ListEncoding encoding) {
    if (encoding == ListEncoding::Bytes) return {};  // nothing is converted
    const size_t mark = encoding == ListEncoding::Utf8Marked ? 3 : 2;
    const size_t unit = encoding == ListEncoding::Utf8Marked ? 1 : 2;
    const char lineFeed[2] = {encoding == ListEncoding::Utf16Be ? '\0' : '\n',
                              encoding == ListEncoding::Utf16Be ? '\n' : '\0'};
    std::vector<size_t> lines;
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
        if (reader.losses() & kLostUnconvertible) lines.push_back(number);
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
        const std::vector<size_t> lines = UnconvertibleLines(bytes, reader.encoding());
        drops.push_back((lines.empty() ? std::string("the end of the file") : Lines(lines)) +
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
