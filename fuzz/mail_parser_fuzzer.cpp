// Any bytes as a mail or an mbox for the stand-in host: headers come out clean
// (a name, no line breaks or zero bytes, no blanks at either end) and written
// back as "Name: value" lines they parse to the same headers; an mbox splits
// into the same header blocks whether it comes in one piece or in small ones,
// each block a run of the data's own bytes. Every address
// learn takes from the headers lets that mail through by the plug-in's rule;
// every entry learn proposes stands whole, never as a part of a longer address,
// in each mail it counts; and the list warnings take any bytes as a list file.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "check/mail_check.h"
#include "tools/host/commands/judge.h"
#include "tools/host/commands/learn_report.h"
#include "tools/host/commands/list_health.h"
#include "tools/host/mail/byte_scans.h"
#include "tools/host/mail/mail_addresses.h"
#include "tools/host/mail/mail_parser.h"
#include "tools/host/mail/mbox_stream.h"

namespace {

void Fail(const char* what) {
    std::fprintf(stderr, "mail parser fuzzer: %s\n", what);
    std::abort();
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

void CheckClean(const std::vector<Header>& headers) {
    for (const Header& h : headers) {
        if (h.name.empty()) Fail("header without name");
        if (h.name.find(':') != std::string::npos) Fail("colon in a name");
        for (const std::string* text : {&h.name, &h.value}) {
            if (text->find('\n') != std::string::npos) Fail("line feed in a header");
            if (text->find('\0') != std::string::npos) Fail("zero byte in a header");
            if (!text->empty() && (IsBlank(text->front()) || IsBlank(text->back()))) {
                Fail("blank at an end of a header");
            }
        }
    }
}

bool IsLetter(unsigned char c) {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c >= 0x80;
}

bool InLocalPart(char c) {
    return IsLetter(static_cast<unsigned char>(c)) ||
           (c != '\0' && std::strchr("!#$%&'*+-/=?^_`{|}~.", c) != nullptr);
}

bool InDomain(char c) {
    return IsLetter(static_cast<unsigned char>(c)) || c == '-' || c == '.';
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return text;
}

// Whether the address stands in the value with no address byte joined to it:
// a sentence's dots may go before it, dots and hyphens after it.
bool StandsWhole(const std::string& value, const std::string& address) {
    const std::string folded = Lower(value);
    for (size_t at = folded.find(address); at != std::string::npos;
         at = folded.find(address, at + 1)) {
        size_t before = at;
        while (before > 0 && folded[before - 1] == '.') --before;
        size_t after = at + address.size();
        while (after < folded.size() && (folded[after] == '.' || folded[after] == '-')) ++after;
        if ((before == 0 || !InLocalPart(folded[before - 1])) &&
            (after == folded.size() || !InDomain(folded[after]))) {
            return true;
        }
    }
    return false;
}

// The header blocks the mbox stream hands over, fed pieces of at most step bytes.
std::vector<std::string> SplitStream(const char* data, size_t size, size_t step) {
    std::vector<std::string> blocks;
    const std::string path = "fuzz";
    const MailSink sink = [&](const std::string&, const char* headers, size_t n) {
        blocks.emplace_back(headers ? std::string(headers, n) : "(too large)");
    };
    MailSplitter splitter(path, true, sink);
    for (size_t at = 0; at < size; at += step) splitter.Feed(data + at, std::min(step, size - at));
    splitter.Finish();
    return blocks;
}

// Learns from the data's mails (an mbox's, or the data as one mail): each
// proposed entry other than a domain entry stands whole in some mail, and none
// lets through fewer mails than it alone lets through.
void CheckProposal(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    std::vector<std::string> mails;
    if (IsMbox(text, size)) {
        mails = SplitStream(text, size, size);
    } else {
        mails.emplace_back(text, size);
    }
    const Proposal proposal = LearnFromMails(mails, size % 2 == 1);
    for (const ProposedEntry& entry : proposal.entries) {
        if (entry.text.empty()) Fail("empty entry");
        if (entry.text[0] == '@') continue;
        uint64_t whole = 0;
        for (const std::string& mail : mails) {
            bool stands = false;
            for (const Header& h : ParseHeaders(mail.data(), mail.size())) {
                stands |= IsAddressHeader(h.name.c_str()) && StandsWhole(h.value, entry.text);
            }
            whole += stands;
        }
        if (whole == 0) Fail("a proposed entry is a part of an address");
        if (entry.only == 0 || entry.only > entry.mails) Fail("a needless entry is proposed");
    }
}

bool Same(const std::vector<Header>& a, const std::vector<Header>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].value != b[i].value) return false;
    }
    return true;
}

// Parses from a heap block of exactly the data's size, so a read past it is caught.
template <typename Result, typename Parse>
Result OnExactBlock(const uint8_t* data, size_t size, Parse parse) {
    char* block = static_cast<char*>(std::malloc(size ? size : 1));
    if (!block) Fail("out of memory");
    if (size) std::memcpy(block, data, size);
    Result result = parse(block, size);
    std::free(block);
    return result;
}

// The line NextPossibleSeparator should stop at, found one byte at a time.
const char* PlainNextPossibleSeparator(const char* data, const char* end) {
    const char* line = data;
    while (end - line >= 5 && std::memcmp(line, "From ", 5) != 0) {
        const void* lf = std::memchr(line, '\n', static_cast<size_t>(end - line));
        if (!lf) break;
        line = static_cast<const char*>(lf) + 1;
    }
    return line;
}

// Kept from one input to the next, as a reader of many mails keeps it.
std::vector<Header> g_reused;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto headers = OnExactBlock<std::vector<Header>>(
        data, size, [](const char* block, size_t n) { return ParseHeaders(block, n); });
    CheckClean(headers);
    OnExactBlock<bool>(data, size, [](const char* block, size_t n) {
        ParseHeaders(block, n, g_reused);
        for (const bool wide : {false, true}) {
            UseWideScans(wide);
            if (FindByte(block, n, '\n') != std::memchr(block, '\n', n)) {
                Fail("FindByte is not memchr");
            }
            if (NextPossibleSeparator(block, block + n) !=
                PlainNextPossibleSeparator(block, block + n)) {
                Fail("NextPossibleSeparator passes a line that may be a separator");
            }
        }
        return true;
    });
    if (!Same(g_reused, headers)) Fail("a reused header vector parses differently");

    std::string rewritten;
    for (const Header& h : headers) rewritten += h.name + ": " + h.value + "\r\n";
    rewritten += "\r\nbody\r\n";
    if (!Same(ParseHeaders(rewritten.data(), rewritten.size()), headers)) {
        Fail("headers written back parse differently");
    }

    OnExactBlock<bool>(data, size, [size](const char* block, size_t n) {
        const std::vector<std::string> whole = SplitStream(block, n, n ? n : 1);
        if (SplitStream(block, n, 1 + size % 7) != whole)
            Fail("the mbox stream splits by its pieces");
        for (const std::string& mail : whole) {
            if (!mail.empty() && std::string(block, n).find(mail) == std::string::npos) {
                Fail("a header block is not a run of the data");
            }
        }
        return true;
    });
    for (const std::string& address : AddressesOf(headers)) {
        if (address.empty() || address.find('@') == std::string::npos) Fail("not an address");
        bool lets = false;
        for (const Header& h : headers) {
            lets |=
                IsAddressHeader(h.name.c_str()) && ContainsNoCase(h.value.c_str(), address.c_str());
        }
        if (!lets) Fail("a learned address does not let its own mail through");
    }
    CheckProposal(data, size);
    OnExactBlock<std::vector<ListWarning>>(data, size, ExamineList);
    OnExactBlock<bool>(data, size, IsMbox);
    OnExactBlock<bool>(data, size, LooksLikeMail);
    return 0;
}
