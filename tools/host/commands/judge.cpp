#include "tools/host/commands/judge.h"

namespace {

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
        if (!IsAddressHeader(header.name.c_str())) continue;
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
