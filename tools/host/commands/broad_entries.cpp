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
    static const char* const kWords[] = {"com",    "net",    "org",      "edu",  "gov",  "info",
                                         "biz",    "from",   "with",     "for",  "smtp", "esmtp",
                                         "esmtps", "esmtpa", "esmtpsa",  "lmtp", "tls",  "utc",
                                         "gmt",    "mail",   "localhost"};
    return std::any_of(std::begin(kWords), std::end(kWords),
                       [&](const char* word) { return folded == word; });
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Four numbers from 0 to 255 between dots, in brackets or not, as Received
// lines write a server's number.
bool IsIpv4(const std::string& text) {
    const bool brackets = text.size() >= 2 && text.front() == '[' && text.back() == ']';
    const size_t end = brackets ? text.size() - 1 : text.size();
    int groups = 0;
    for (size_t pos = brackets ? 1 : 0;; ++pos) {
        int value = 0;
        size_t digits = 0;
        for (; pos < end && IsDigit(text[pos]) && digits <= 3; ++pos, ++digits) {
            value = value * 10 + (text[pos] - '0');
        }
        if (digits == 0 || digits > 3 || value > 255) return false;
        if (++groups == 4 || pos == end) return groups == 4 && pos == end;
        if (text[pos] != '.') return false;
    }
}

// A character that stands in delivery lines and the names beside addresses,
// never in an address, or zero; blanks and tabs at the ends are said elsewhere.
char ForeignCharacter(const std::string& entry) {
    const size_t sign = entry.find_first_of("<>();,");
    if (sign != std::string::npos) return entry[sign];
    const size_t first = entry.find_first_not_of(" \t");
    const size_t last = entry.find_last_not_of(" \t");
    if (first == std::string::npos) return '\0';
    const size_t blank = entry.find_first_of(" \t", first);
    return blank < last ? entry[blank] : '\0';
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
    if (letters && word == 0 && IsCommonWord(bare)) {
        return "is a word that stands in nearly every mail's addresses or delivery lines, not an "
               "address: this entry lets nearly all mail through, spam included";
    }
    // Without a dot it is a word, however many domains end in it.
    if (folded.find('.') != std::string::npos && ((letters && word > 0) || IsPublicSuffix(bare))) {
        return "is a bare ending, not an address: it lets through every address that ends in ." +
               bare + ", and every mail whose delivery lines name a server there, spam included";
    }
    if (IsIpv4(folded)) {
        return "is the number of a server, not an address: it stands in the delivery lines of "
               "every mail that passes that server, so this entry lets all of them through, spam "
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

std::string NoAddress(const std::string& entry) {
    if (const char c = ForeignCharacter(entry)) {
        const std::string shown = c == ' '    ? "a blank"
                                  : c == '\t' ? "a tab"
                                              : std::string("\"") + c + "\"";
        return "holds " + shown +
               ", which no address holds: it stands only in delivery lines and in the names "
               "beside addresses, so this entry lets through mail that is not yours, spam "
               "included";
    }
    if (entry.find_first_of("@.") == std::string::npos) {
        return "has neither an \"@\" nor a dot, so it is a word, not an address: words stand in "
               "the delivery lines of much mail, or in no address at all, so this entry lets "
               "through mail that is not yours";
    }
    return {};
}
