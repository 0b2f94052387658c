#include "tools/host/commands/save_drops.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "addresses/list_file.h"
#include "tools/host/commands/list_health.h"
#include "tools/host/commands/list_reading.h"

namespace {

// Lines and entries named in a sentence before "and N more".
constexpr size_t kMaxNamed = 5;

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
    const ListReading read = ReadAsThePluginDoes(bytes.data(), bytes.size());
    std::vector<std::string> drops;
    const unsigned losses = read.losses;
    if (losses == 0) return drops;
    // The text the line rules read, once more, to see where its lines go wrong.
    const ListPieces parsed = ParseListText(read.text.data(), read.text.size());
    if (losses & kLostAfterCtrlZ) {
        // All that follows the Ctrl-Z, further ones read as line ends.
        std::string rest = read.text.substr(parsed.ctrlZAt + 1);
        std::replace(rest.begin(), rest.end(), '\x1A', '\n');
        const ListPieces after = ParseListText(rest.data(), rest.size());
        const std::string where = "the Ctrl-Z in line " + std::to_string(parsed.line);
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
        const std::vector<size_t> lines = UnconvertibleLines(bytes, read.encoding);
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
    std::string bytes;
    if (ReadListBytes(path, bytes) != ListBytes::kWhole) return {};
    return WhatASaveDrops(bytes);
}
