#include "tools/host/commands/broad_entries.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "addresses/ascii_case.h"

namespace {

// The endings under which anyone may register a domain: an entry that is one
// stands in a great many addresses.
const char* const kPublicSuffixes[] = {
#include "tools/host/commands/public_suffixes.inc"
};

bool IsPublicSuffix(const std::string& folded) {
    return std::binary_search(std::begin(kPublicSuffixes), std::end(kPublicSuffixes),
                              folded.c_str(),
                              [](const char* a, const char* b) { return std::strcmp(a, b) < 0; });
}

// Words that stand in nearly every Received line, and top-level domains that
// stand in nearly every address.
bool IsCommonWord(const std::string& folded) {
    static const char* const kWords[] = {"com",  "net",   "org",    "edu",  "gov",
                                         "info", "biz",   "from",   "with", "for",
                                         "smtp", "esmtp", "esmtps", "mail", "localhost"};
    return std::any_of(std::begin(kWords), std::end(kWords),
                       [&](const char* word) { return folded == word; });
}

}  // namespace

std::string Folded(const std::string& text) {
    std::string folded = text;
    for (char& c : folded) c = static_cast<char>(FoldAscii(static_cast<unsigned char>(c)));
    return folded;
}

std::string TooBroad(const std::string& entry) {
    if (entry.find_first_not_of(" \t.") == std::string::npos) {
        return "is only blanks or dots: nearly every mail has them in its headers, so this entry "
               "lets nearly all mail through, spam included";
    }
    if (entry.size() < 3) {
        return "is shorter than three characters: it stands somewhere in nearly every mail's "
               "headers, so this entry lets nearly all mail through, spam included";
    }
    const std::string folded = Folded(entry);
    const size_t word = folded.find_first_not_of('.');
    const std::string bare = folded.substr(word);
    const bool letters = bare.find_first_not_of("abcdefghijklmnopqrstuvwxyz") == std::string::npos;
    if ((letters && (word > 0 || IsCommonWord(bare))) || IsPublicSuffix(bare)) {
        return "is a bare ending or word, not an address: it stands in nearly every mail's "
               "addresses or delivery lines, so this entry lets nearly all mail through, spam "
               "included";
    }
    const bool numbers = std::none_of(folded.begin(), folded.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || c == '@' || (c & 0x80) != 0;
    });
    if (numbers && folded.find_first_of("0123456789") != std::string::npos) {
        return "is only digits and signs, not an address: numbers like it stand in the dates, "
               "times and server numbers of nearly every mail's Received lines, so this entry "
               "lets nearly all mail through, spam included";
    }
    return {};
}
