#include "tools/host/mail/mail_addresses.h"

#include <algorithm>
#include <cstring>

#include "addresses/ascii_case.h"
#include "check/mail_check.h"
#include "tools/host/mail/byte_scans.h"

namespace {

// No real address is longer, and a list line holds little more.
constexpr size_t kMaxAddress = 254;

// How far after its "for" a Received clause's address may end: a bound that
// keeps a long value's reading linear, and no address is longer.
constexpr size_t kClauseReach = kMaxAddress + 2;

// 8-bit bytes are letters of the system's code page (j\xF6rg@example.de): an
// address is taken with them or not at all, never cut at one.
bool IsAddressLetter(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c >= 0x80;
}

// Which bytes may stand in an address's local part and in its domain, looked
// up in a table: every byte of every value that names people is asked.
struct AddressBytes {
    bool local[256] = {};
    bool domain[256] = {};
    AddressBytes() {
        for (int c = 0; c < 256; ++c) {
            const bool letter = IsAddressLetter(static_cast<unsigned char>(c));
            local[c] = letter || (c != 0 && std::strchr("!#$%&'*+-/=?^_`{|}~.", c) != nullptr);
            domain[c] = letter || c == '-' || c == '.';
        }
    }
};
const AddressBytes kAddressBytes;

bool IsLocalChar(char c) {
    return kAddressBytes.local[static_cast<unsigned char>(c)];
}

bool IsDomainChar(char c) {
    return kAddressBytes.domain[static_cast<unsigned char>(c)];
}

// Headers whose "@" names a message, not a person.
bool NamesMessages(const std::string& name) {
    // Asked of every header: most are told apart by their first letter.
    const char first = static_cast<char>(name.empty() ? 0 : name[0] | 0x20);
    if (first != 'm' && first != 'i' && first != 'r' && first != 'c') return false;
    for (const char* id :
         {"Message-ID", "In-Reply-To", "References", "Content-ID", "Resent-Message-ID"}) {
        if (EqualsNoCase(name.c_str(), id)) return true;
    }
    return false;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The whole addresses around each "@" in text[from, to); the bytes just
// outside the range are never address bytes. Dots before an address and dots
// or hyphens after it are the sentence's, not the address's.
void AddressesIn(const std::string& text, size_t from, size_t to, FoundAddresses& found) {
    const char* const data = text.data();
    for (size_t at = from; at < to; ++at) {
        const char* sign = FindByte(data + at, to - at, '@');
        if (!sign) break;
        at = static_cast<size_t>(sign - data);
        size_t begin = at;
        while (begin > from && IsLocalChar(text[begin - 1])) --begin;
        while (begin < at && text[begin] == '.') ++begin;
        size_t end = at + 1;
        while (end < to && IsDomainChar(text[end])) ++end;
        while (end > at + 1 && (text[end - 1] == '.' || text[end - 1] == '-')) --end;
        if (begin == at || end == at + 1 || end - begin > kMaxAddress) continue;
        found.Add(text, begin, end);
    }
}

// Where "for", in any case of letters, stands in text from from on.
size_t FindFor(const std::string& text, size_t from) {
    for (size_t at = from; at + 3 <= text.size(); ++at) {
        if ((text[at] | 0x20) == 'f' && (text[at + 1] | 0x20) == 'o' &&
            (text[at + 2] | 0x20) == 'r') {
            return at;
        }
    }
    return std::string::npos;
}

// The address after each blank-delimited "for" in a Received value: the
// recipient the receiving server delivered this copy to. Read in the value as
// it is: only "for" depends on the case of letters, and addresses are folded
// as they are taken.
void ForClauses(const std::string& value, FoundAddresses& found) {
    const size_t size = value.size();
    for (size_t at = FindFor(value, 0); at != std::string::npos; at = FindFor(value, at + 3)) {
        if (at == 0 || !IsBlank(value[at - 1]) || at + 3 >= size || !IsBlank(value[at + 3])) {
            continue;
        }
        size_t start = at + 3;
        while (start < size && IsBlank(value[start])) ++start;
        if (start < size && value[start] == '<') ++start;
        const size_t reach = std::min(size, start + kClauseReach);
        size_t end = start;
        while (end < reach && !IsBlank(value[end]) && value[end] != '>' && value[end] != ';' &&
               value[end] != ',') {
            ++end;
        }
        // No end in reach: longer than any address, and not to be cut.
        if (end == reach && reach < size) continue;
        AddressesIn(value, start, end, found);
    }
}

// The found addresses sorted, each once.
void SortUnique(FoundAddresses& found) {
    std::vector<std::string>& texts = found.texts;
    std::sort(texts.begin(), texts.begin() + static_cast<std::ptrdiff_t>(found.count));
    // By swaps, not moves, so that no string gives up its memory.
    size_t kept = 0;
    for (size_t i = 0; i < found.count; ++i) {
        if (kept > 0 && texts[i] == texts[kept - 1]) continue;
        if (i != kept) texts[kept].swap(texts[i]);
        ++kept;
    }
    found.count = kept;
}

void AddressesOfPeople(const std::vector<Header>& headers, FoundAddresses& found,
                       bool recipientsToo) {
    found.count = 0;
    for (const Header& header : headers) {
        if (NamesMessages(header.name) || (!recipientsToo && NamesAddresses(header.name))) continue;
        AddressesIn(header.value, 0, header.value.size(), found);
    }
}

}  // namespace

void FoundAddresses::Add(const std::string& text, size_t begin, size_t end) {
    if (count == texts.size()) texts.emplace_back();
    std::string& address = texts[count++];
    address.assign(text, begin, end - begin);
    for (char& c : address) c = static_cast<char>(FoldAscii(static_cast<unsigned char>(c)));
}

bool NamesAddresses(const std::string& name) {
    return IsAddressHeader(name.c_str()) && !EqualsNoCase(name.c_str(), "Received");
}

void CollectAddresses(const std::vector<Header>& headers, FoundAddresses& found) {
    found.count = 0;
    for (const Header& header : headers) {
        if (NamesAddresses(header.name)) {
            AddressesIn(header.value, 0, header.value.size(), found);
        } else if (EqualsNoCase(header.name.c_str(), "Received")) {
            ForClauses(header.value, found);
        }
    }
    SortUnique(found);
}

void AllAddresses(const std::vector<Header>& headers, FoundAddresses& found) {
    AddressesOfPeople(headers, found, true);
}

void AddressesBesideRecipients(const std::vector<Header>& headers, FoundAddresses& found) {
    AddressesOfPeople(headers, found, false);
}

void AddressValues(const std::vector<Header>& headers, std::vector<const std::string*>& values) {
    values.clear();
    for (const Header& header : headers) {
        if (IsAddressHeader(header.name.c_str())) values.push_back(&header.value);
    }
}

bool HasAddressHeader(const std::vector<Header>& headers) {
    return std::any_of(headers.begin(), headers.end(),
                       [](const Header& header) { return IsAddressHeader(header.name.c_str()); });
}

std::vector<std::string> AddressesOf(const std::vector<Header>& headers) {
    FoundAddresses found;
    CollectAddresses(headers, found);
    found.texts.resize(found.count);
    return std::move(found.texts);
}
