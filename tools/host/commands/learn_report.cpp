#include "tools/host/commands/learn_report.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "addresses/address_list.h"
#include "addresses/file_io.h"
#include "addresses/list_file.h"
#include "addresses/list_store.h"
#include "check/mail_check.h"
#include "tools/host/commands/list_health.h"

namespace {

// For printf's %llu, whatever uint64_t is on the platform.
unsigned long long AsULongLong(uint64_t n) {
    return static_cast<unsigned long long>(n);
}

// Lines and entries named in a sentence before "and N more".
constexpr size_t kMaxNamed = 5;

const char* Plural(uint64_t n) {
    return n == 1 ? "" : "s";
}

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

// The lines of a marked file that do not convert to the code page: each line
// read again on its own, after the file's mark, by the plug-in's reader.
std::vector<size_t> UnconvertibleLines(const std::string& bytes, ListEncoding encoding) {
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

bool LoadListFile(const std::string& listPath) {
    if (listPath.size() >= kPathSize) return false;
    std::memcpy(g_modulePath, listPath.c_str(), listPath.size() + 1);
    LoadAddressList();
    return true;
}

bool ListLetsThrough(const std::string& address) {
    {
        ListLock lock;
        if (!g_addressList.head) return false;  // an empty list passes every mail, not this one
    }
    HeaderField to{"To", address.c_str(), 0, nullptr};
    const MailRecord mail{&to};
    double result = 0;
    return CheckMail(0, &mail, &result) == kNotSpam;
}

void PrintProposal(const Proposal& proposal, bool withSpam, bool listOnly, std::FILE* out) {
    if (listOnly) {
        for (const ProposedEntry& entry : proposal.entries) {
            std::fprintf(out, "%s\n", entry.text.c_str());
        }
        return;
    }
    const bool listed = proposal.listedMails > 0;
    if (proposal.mails == 0) {
        std::fprintf(out, "No mail was read.\n");
    } else {
        std::fprintf(out, "%llu good mail%s read.\n", AsULongLong(proposal.mails),
                     Plural(proposal.mails));
    }
    if (listed) {
        std::fprintf(out, "Your list lets %llu of them through already.\n",
                     AsULongLong(proposal.listedMails));
    }
    if (proposal.entries.empty()) {
        if (listed) {
            std::fprintf(out,
                         "No entry to propose: your list lets through every one of them that an "
                         "entry can.\n");
        } else if (proposal.mails > 0) {
            std::fprintf(out, "No entry to propose: none of them names an address.\n");
        }
    } else {
        size_t width = 5;
        for (const ProposedEntry& entry : proposal.entries)
            width = std::max(width, entry.text.size() + (entry.inside > 0));
        std::fprintf(out, "Proposed list, %zu entr%s%s:\n  %-*s  %11s  %12s%s\n",
                     proposal.entries.size(), proposal.entries.size() == 1 ? "y" : "ies",
                     listed ? " beside those of your list" : "", static_cast<int>(width), "entry",
                     "lets through", "only through", withSpam ? "  spam" : "");
        for (const ProposedEntry& entry : proposal.entries) {
            const std::string shown = entry.text + (entry.inside > 0 ? "*" : "");
            std::fprintf(out, "  %-*s  %12llu  %12llu", static_cast<int>(width), shown.c_str(),
                         AsULongLong(entry.mails), AsULongLong(entry.only));
            if (withSpam) {
                std::fprintf(out, "  %4llu%s", AsULongLong(entry.spam),
                             entry.spam > 0 ? "  lets spam through" : "");
            }
            std::fprintf(out, "\n");
        }
        const bool marked = std::any_of(proposal.entries.begin(), proposal.entries.end(),
                                        [](const ProposedEntry& e) { return e.inside > 0; });
        if (marked) {
            std::fprintf(
                out,
                "* marks an entry that lies inside other addresses seen in the mails; the\n"
                "  plug-in lets mail to those through too:\n");
        }
        for (const ProposedEntry& entry : proposal.entries) {
            if (entry.inside == 0) continue;
            std::fprintf(out, "* %s also lets through %llu other address%s seen, such as %s\n",
                         entry.text.c_str(), AsULongLong(entry.inside),
                         entry.inside == 1 ? "" : "es", entry.example.c_str());
        }
    }
    if (proposal.withoutHeaders > 0) {
        const bool one = proposal.withoutHeaders == 1;
        std::fprintf(out,
                     "%llu mail%s without a To, Cc, Envelope-To or Received header: the plug-in "
                     "passes %s whatever the list.\n",
                     AsULongLong(proposal.withoutHeaders), one ? "" : "s", one ? "it" : "them");
    }
    if (proposal.unpassable > 0) {
        std::fprintf(out, "%llu mail%s that no address entry can let through:\n",
                     AsULongLong(proposal.unpassable), Plural(proposal.unpassable));
        for (const Unpassable& mail : proposal.shown) {
            std::fprintf(out, "  %s\n      %s\n", mail.label.c_str(), mail.reason.c_str());
        }
        if (proposal.unpassable > proposal.shown.size()) {
            std::fprintf(out, "  and %llu more\n",
                         AsULongLong(proposal.unpassable - proposal.shown.size()));
        }
    }
    if (withSpam) {
        std::fprintf(out, "Of %llu spam mail%s, the proposed list lets %llu through",
                     AsULongLong(proposal.spamMails), Plural(proposal.spamMails),
                     AsULongLong(proposal.spamPassed));
        if (proposal.spamWithoutHeaders > 0) {
            std::fprintf(
                out,
                "; %llu more pass%s whatever the list (no To, Cc, Envelope-To or Received header)",
                AsULongLong(proposal.spamWithoutHeaders),
                proposal.spamWithoutHeaders == 1 ? "es" : "");
        }
        std::fprintf(out, ".\n");
    }
}

bool WriteProposal(const Proposal& proposal, const std::string& listPath, std::FILE* out) {
    if (!LoadListFile(listPath)) {
        std::fprintf(out, "The path %s is too long for the plug-in; nothing was added.\n",
                     listPath.c_str());
        return false;
    }
    // A list the load read only in part may still be saved: the save reads the
    // file again, whole or not at all, and keeps every entry it finds there.
    std::vector<std::string> added;
    for (const ProposedEntry& entry : proposal.entries) {
        if (FindAddress(entry.text.c_str())) continue;
        if (!AddAddress(entry.text.c_str())) {
            std::fprintf(out, "Out of memory; nothing was added to %s.\n", listPath.c_str());
            return false;
        }
        added.push_back(entry.text);
    }
    if (added.empty()) {
        std::fprintf(out, "Nothing to add: %s already holds every proposed entry.\n",
                     listPath.c_str());
        return true;
    }
    // What the save will not give back of the file, read before it writes.
    Gathered file;
    std::vector<std::string> drops;
    const ReadResult read = ReadFileChunks(listPath.c_str(), GatherBytes, &file, true);
    Check(file);
    if (read == ReadResult::Whole) drops = WhatASaveDrops(file.text);
    if (!SaveAddressList()) {
        if (AddressListLoadIncomplete()) {
            std::fprintf(out,
                         "Could not read all of %s (another program may hold it, or it can't be "
                         "read), so nothing was added.\n",
                         listPath.c_str());
        } else {
            std::fprintf(out,
                         "Could not write %s (it may be read-only, or its disk full), so nothing "
                         "was added.\n",
                         listPath.c_str());
        }
        return false;
    }
    std::fprintf(out, "Added %zu entr%s to %s:\n", added.size(), added.size() == 1 ? "y" : "ies",
                 listPath.c_str());
    for (const std::string& text : added) std::fprintf(out, "  %s\n", text.c_str());
    if (!drops.empty()) {
        char backup[kPathSize * 2];
        if (NewestBackup(listPath.c_str(), backup, sizeof backup)) {
            std::fprintf(out,
                         "The save left out what the plug-in does not read of the file; %s keeps "
                         "it as it was:\n",
                         backup);
        } else {
            std::fprintf(out,
                         "The save left out what the plug-in does not read of the file; a backup "
                         "beside it keeps it as it was:\n");
        }
        for (const std::string& drop : drops) {
            std::fprintf(out, "%s", Wrapped(drop, 2, 4, 79).c_str());
        }
    }
    return true;
}
