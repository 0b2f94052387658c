#include "tools/host/judge.h"

namespace {

bool EqualsAsciiNoCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + ('a' - 'A'));
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + ('a' - 'A'));
        if (x != y) return false;
    }
    return i == a.size() && !b[i];
}

bool IsSpam(CheckMailFn check, const std::vector<const Header*>& headers) {
    const HeaderChain chain(headers);
    double result = 0.0;
    return check(0, chain.record(), &result) == kSpam;
}

// The whole mail, its chain on the stack when it is short enough: this runs
// once for every mail read.
bool IsSpam(CheckMailFn check, const std::vector<Header>& headers) {
    constexpr size_t kOnStack = 64;
    HeaderField onStack[kOnStack];
    std::vector<HeaderField> large;
    HeaderField* fields = onStack;
    if (headers.size() > kOnStack) {
        large.resize(headers.size());
        fields = large.data();
    }
    for (size_t i = 0; i < headers.size(); ++i) {
        fields[i] = {headers[i].name.c_str(), headers[i].value.c_str(), 0,
                     i + 1 < headers.size() ? &fields[i + 1] : nullptr};
    }
    const MailRecord record{headers.empty() ? nullptr : fields};
    double result = 0.0;
    return check(0, &record, &result) == kSpam;
}

}  // namespace

HeaderChain::HeaderChain(const std::vector<const Header*>& headers) : fields_(headers.size()) {
    for (size_t i = 0; i < headers.size(); ++i) {
        fields_[i] = {headers[i]->name.c_str(), headers[i]->value.c_str(), 0,
                      i + 1 < headers.size() ? &fields_[i + 1] : nullptr};
    }
    record_.headers = fields_.empty() ? nullptr : fields_.data();
}

Judgement JudgeMail(const std::vector<Header>& headers, CheckMailFn check, bool explain) {
    Judgement judgement;
    judgement.spam = IsSpam(check, headers);
    if (!explain) return judgement;
    for (const Header& header : headers) {
        if (!IsAddressHeader(header.name)) continue;
        if (judgement.spam) {
            judgement.reasons.push_back(&header);
        } else if (!IsSpam(check, {&header})) {
            judgement.reasons.push_back(&header);
            break;
        }
    }
    return judgement;
}

bool ListIsEmpty(CheckMailFn check) {
    const Header emptyTo{"To", ""};
    return !IsSpam(check, {&emptyTo});
}

bool IsAddressHeader(const std::string& name) {
    // Most headers are told apart by their first letter.
    const char first = name.empty() ? '\0' : static_cast<char>(name[0] | 0x20);
    if (first != 't' && first != 'c' && first != 'e' && first != 'r') return false;
    for (const char* known : {"To", "Cc", "Envelope-To", "Received"}) {
        if (EqualsAsciiNoCase(name, known)) return true;
    }
    return false;
}

std::string OneLine(const std::string& text, size_t width) {
    std::string line;
    for (const char c : text) {
        const bool blank = static_cast<unsigned char>(c) < 0x20 || c == ' ' || c == 0x7F;
        if (!blank) {
            line += c;
        } else if (!line.empty() && line.back() != ' ') {
            line += ' ';
        }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (line.size() > width && width >= 3) line = line.substr(0, width - 3) + "...";
    return line;
}
