#include "tools/host/commands/list_health.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <cstdint>
#include <unordered_map>

#include "addresses/ascii_case.h"
#include "addresses/list_file.h"
#include "tools/host/commands/broad_entries.h"
#include "tools/host/commands/list_reading.h"
#include "tools/host/mail/mail_inputs.h"

namespace {

struct RawLine {
    size_t number;  // counted from 1
    size_t begin;   // offset in the data
    size_t length;  // after CR LF became LF, without the line end
};

bool IsBlankOrTab(char c) {
    return c == ' ' || c == '\t';
}

// Why blanks or tabs at the ends of the entry keep it from matching, or empty.
std::string BlankEnds(const std::string& entry) {
    if (entry.find_first_not_of(" \t.") == std::string::npos) return {};  // said already
    auto kind = [](char c) { return c == ' ' ? "a blank" : "a tab"; };
    const bool front = IsBlankOrTab(entry.front());
    const bool back = IsBlankOrTab(entry.back());
    if (!front && !back) return {};
    std::string what = front ? std::string("starts with ") + kind(entry.front()) : "";
    if (back) what += (front ? " and ends in " : "ends in ") + std::string(kind(entry.back()));
    return what +
           ", which the plug-in keeps as part of the entry: it lets through only mail whose "
           "header holds the address with " +
           (front && back ? "them" : "it") + ", and most headers don't";
}

constexpr uint64_t kHashBase = 1000003;

// prefix[k]: the hash of the first k bytes, so that any part's hash takes O(1).
std::vector<uint64_t> Hashes(const std::string& text) {
    std::vector<uint64_t> prefix(text.size() + 1, 0);
    for (size_t k = 0; k < text.size(); ++k) {
        prefix[k + 1] = prefix[k] * kHashBase + static_cast<unsigned char>(text[k]);
    }
    return prefix;
}

// The text as the plug-in's parser reads it: its entries, and its lines, each
// put together from its pieces.
struct ParsedList {
    std::vector<std::string> entries;
    std::vector<RawLine> lines;
    size_t stop = 0;      // where a Ctrl-Z ended the data, or its size when none did
    size_t stopLine = 0;  // the line that holds it
};

ParsedList ParseList(const char* data, size_t size) {
    ListPieces pieces = ParseListText(data, size);
    ParsedList list;
    list.entries = std::move(pieces.entries);
    for (const ListFileParser::Piece& piece : pieces.pieces) {
        std::vector<RawLine>& lines = list.lines;
        if (!lines.empty() && lines.back().number == piece.line) {
            lines.back().length = piece.start + piece.length - lines.back().begin;
        } else {
            lines.push_back({piece.line, piece.start, piece.length});
        }
    }
    list.stop = pieces.ctrlZAt == ListFileParser::kNoCtrlZ ? size : pieces.ctrlZAt;
    list.stopLine = pieces.line;
    return list;
}

// The entries as the plug-in loads them, in file order.
std::vector<std::string> ParseEntries(const char* data, size_t size) {
    return ParseListText(data, size).entries;
}

// False when memory ran out.
bool Examine(const std::string& bytes, std::vector<ListWarning>& warnings, std::string& whole) {
    try {
        warnings = ExamineList(bytes.data(), bytes.size());
        if (ParseEntries(bytes.data(), bytes.size()).empty())
            whole = "The list is empty, so the plug-in passes every mail.";
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// The text as the plug-in reads it, seen as entries and as lines.
struct ListText : ParsedList {
    const char* data = nullptr;
    size_t size = 0;
    std::vector<std::string> folded;  // of each entry
};

ListText ReadList(const std::string& asRead) {
    ListText list;
    static_cast<ParsedList&>(list) = ParseList(asRead.data(), asRead.size());
    list.data = asRead.data();
    list.size = asRead.size();
    list.folded.reserve(list.entries.size());
    for (const std::string& entry : list.entries) list.folded.push_back(Folded(entry));
    return list;
}

void UnconvertibleWarning(std::vector<ListWarning>& warnings) {
    warnings.push_back({"",
                        "The file is written in UTF-16 or UTF-8 and holds characters that "
                        "your system's code page has no form for, or broken text: the "
                        "plug-in takes no entry from the lines that hold them, so they "
                        "let no mail through, and a save keeps the file in a backup "
                        "before it drops them"});
}

void LongLineWarnings(const ListText& list, std::vector<ListWarning>& warnings) {
    for (const RawLine& line : list.lines) {
        if (line.length <= kMaxPiece) continue;
        const size_t pieces = (line.length + kMaxPiece - 1) / kMaxPiece;
        warnings.push_back(
            {std::string(list.data + line.begin, 40) + "...",
             "line " + std::to_string(line.number) + " is " + std::to_string(line.length) +
                 " characters long, but the plug-in reads at most " + std::to_string(kMaxPiece) +
                 " per line: it cuts this one into " + std::to_string(pieces) +
                 " entries, none of them what you wrote, and saving the list keeps them cut"});
    }
}

// The first zero byte of each line, which cuts what the plug-in reads.
void ZeroByteWarnings(const ListText& list, std::vector<ListWarning>& warnings) {
    for (const RawLine& line : list.lines) {
        const char* const begin = list.data + line.begin;
        const void* zero = std::memchr(begin, '\0', line.length);
        if (!zero) continue;
        const size_t at = static_cast<size_t>(static_cast<const char*>(zero) - begin);
        const size_t piece = at / kMaxPiece * kMaxPiece;  // where its entry starts
        const std::string number = std::to_string(line.number);
        if (at == piece) {
            warnings.push_back({"", "Line " + number +
                                        " has a zero byte where an entry starts: the plug-in "
                                        "ends the entry there and reads nothing of it"});
        } else {
            warnings.push_back({std::string(begin + piece, at - piece),
                                "is cut short by a zero byte in line " + number +
                                    ": the plug-in drops the rest of the line, so this entry is "
                                    "not what you wrote"});
        }
    }
}

// A Ctrl-Z before entries, which the plug-in never reads.
void CtrlZWarning(const ListText& list, std::vector<ListWarning>& warnings) {
    if (list.stop >= list.size) return;
    const size_t lost = ParseEntries(list.data + list.stop + 1, list.size - list.stop - 1).size();
    if (lost == 0) return;
    warnings.push_back(
        {"", "Line " + std::to_string(list.stopLine) +
                 " holds a Ctrl-Z character (an old end-of-file mark), where the plug-in stops "
                 "reading: " +
                 (lost == 1 ? std::string("the entry after it is never read and lets")
                            : "the " + std::to_string(lost) +
                                  " entries after it are never read and let") +
                 " no mail through"});
}

// Why the entry lets no mail through for a character no header holds, or empty.
std::string CarriageReturnEnd(const std::string& entry) {
    if (entry.empty() || entry.back() != '\r') return {};
    return "ends in an invisible carriage-return character, which no header holds: this entry "
           "lets no mail through";
}

// What each entry does wrong on its own, or as a repeat of one before it: in
// file order, an entry's warnings together.
void EntryWarnings(const ListText& list, std::vector<ListWarning>& warnings) {
    std::unordered_map<std::string, size_t> seen;  // folded text, index of the first
    for (size_t i = 0; i < list.entries.size(); ++i) {
        const std::string& entry = list.entries[i];
        std::string broad = TooBroad(entry);
        if (broad.empty()) broad = NoAddress(entry);
        for (const std::string& why : {broad, BlankEnds(entry), CarriageReturnEnd(entry)}) {
            if (!why.empty()) warnings.push_back({entry, why});
        }
        const auto first = seen.emplace(list.folded[i], i);
        if (!first.second) {
            warnings.push_back({entry, "is in the list twice (also as " +
                                           ShowEntry(list.entries[first.first->second]) +
                                           "): the second one changes nothing"});
        }
    }
}

// An entry that holds another as a part: every mail it would let through,
// the shorter one lets through already. Parts are looked up by a rolling
// hash, at the lengths that entries have, so a long list stays quick.
void ContainedEntryWarnings(const ListText& list, std::vector<ListWarning>& warnings) {
    const std::vector<std::string>& entries = list.entries;
    const std::vector<std::string>& folded = list.folded;
    std::unordered_map<uint64_t, size_t> byHash;  // entries that may be a part
    std::vector<size_t> lengths;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!TooBroad(entries[i]).empty()) continue;
        byHash.emplace(Hashes(folded[i]).back(), i);
        lengths.push_back(folded[i].size());
    }
    std::sort(lengths.begin(), lengths.end());
    lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
    std::vector<uint64_t> powers(1, 1);
    while (!lengths.empty() && powers.size() <= lengths.back()) {
        powers.push_back(powers.back() * kHashBase);
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!TooBroad(entries[i]).empty()) continue;
        const std::string& text = folded[i];
        const std::vector<uint64_t> prefix = Hashes(text);
        size_t other = entries.size();
        for (size_t start = 0; start < text.size() && other == entries.size(); ++start) {
            for (const size_t length : lengths) {
                if (length >= text.size() || start + length > text.size()) break;
                const uint64_t hash = prefix[start + length] - prefix[start] * powers[length];
                const auto hit = byHash.find(hash);
                if (hit != byHash.end() && text.compare(start, length, folded[hit->second]) == 0) {
                    other = hit->second;
                    break;
                }
            }
        }
        if (other == entries.size()) continue;
        warnings.push_back({entries[i], "contains the entry " + ShowEntry(entries[other]) +
                                            ", which lets through every mail this one would: "
                                            "this longer entry never decides anything"});
    }
}

}  // namespace

std::string Wrapped(const std::string& text, size_t indent, size_t hanging, size_t width) {
    std::string lines;
    std::string line(indent, ' ');
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(start, end - start);
        const bool empty = line.find_first_not_of(' ') == std::string::npos;
        if (!empty && line.size() + 1 + word.size() > width) {
            lines += line + "\n";
            line.assign(hanging, ' ');
        } else if (!empty) {
            line += ' ';
        }
        line += word;
        start = end + 1;
    }
    return lines + line + "\n";
}

std::string ShowEntry(const std::string& entry) {
    std::string shown = "\"";
    for (const char c : entry) {
        if (c == '\r')
            shown += "\\r";
        else if (c == '\t')
            shown += "\\t";
        else if (static_cast<unsigned char>(c) < 0x20)
            shown += '?';
        else
            shown += c;
    }
    return shown + "\"";
}

std::vector<ListWarning> ExamineList(const char* bytes, size_t byteCount) {
    // Every later look at lines and bytes sees what the plug-in sees: the text
    // after a UTF-8 mark, or converted from UTF-16 as its load converts it.
    const ListReading reading = ReadAsThePluginDoes(bytes, byteCount);
    const std::string& asRead = reading.text;
    const bool unconvertible = (reading.losses & kLostUnconvertible) != 0;
    const ListText list = ReadList(asRead);
    std::vector<ListWarning> warnings;
    if (unconvertible) UnconvertibleWarning(warnings);
    LongLineWarnings(list, warnings);
    ZeroByteWarnings(list, warnings);
    CtrlZWarning(list, warnings);
    EntryWarnings(list, warnings);
    ContainedEntryWarnings(list, warnings);
    return warnings;
}

int PrintListWarnings(const std::string& path, bool sayWhenEmpty, std::FILE* out) {
    std::string bytes;
    std::vector<ListWarning> warnings;
    std::string whole;  // a warning about the list as a whole
    ListBytes read = ListBytes::kUnreadable;
    if (KindOfPath(path) == PathKind::kMissing) {
        whole = "There is no list file " + path + ", so the plug-in passes every mail.";
    } else if ((read = ReadListBytes(path, bytes)) == ListBytes::kUnreadable) {
        whole = "The list file " + path +
                " can't be read, so the plug-in starts with no list and passes every mail.";
    } else if (read == ListBytes::kTooLarge || !Examine(bytes, warnings, whole)) {
        warnings.clear();
        whole = "The list file " + path + " is too large to look through.";
        sayWhenEmpty = true;
    }
    if (!sayWhenEmpty) whole.clear();
    if (warnings.empty() && whole.empty()) return 0;
    std::fprintf(out, "Warnings about your list %s:\n", path.c_str());
    if (!whole.empty()) std::fprintf(out, "  %s\n", whole.c_str());
    for (const ListWarning& warning : warnings) {
        // A warning about the file rather than an entry names no entry.
        const std::string text =
            (warning.entry.empty() ? "" : ShowEntry(warning.entry) + " ") + warning.message + ".";
        std::fprintf(out, "%s", Wrapped(text, 2, 4, 79).c_str());
    }
    std::fprintf(out, "\n");
    return static_cast<int>(warnings.size()) + (whole.empty() ? 0 : 1);
}
