// The plug-in's verdict on one parsed mail, and why, asked through its CheckMail.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "check/mail_check.h"
#include "tools/host/mail/mail_parser.h"

using CheckMailFn = int32_t (*)(uint32_t reserved, const MailRecord* mail, double* result);

// The headers as the chain of HeaderField records the plug-in walks; the
// headers must outlive it.
class HeaderChain {
  public:
    explicit HeaderChain(const std::vector<const Header*>& headers);
    const MailRecord* record() const { return &record_; }

  private:
    std::vector<HeaderField> fields_;
    MailRecord record_{};
};

struct Judgement {
    bool spam = false;
    // A pass: the header that let the mail through, if the plug-in looked at
    // any. Spam: every header it looked at.
    std::vector<const Header*> reasons;
};

// The verdict is always the plug-in's answer for the whole mail. The reasons
// come from asking it again about each address header on its own: a header that
// passes alone is one that contains an allowed address.
Judgement JudgeMail(const std::vector<Header>& headers, CheckMailFn check, bool explain);

// Whether the plug-in passes everything because its list is empty: a mail whose
// only header is an empty To contains no address, so any other list blocks it.
bool ListIsEmpty(CheckMailFn check);

// A header value fit for one line of a terminal: control bytes and runs of
// blanks become one blank, and a value longer than width ends in "...".
std::string OneLine(const std::string& text, size_t width);
