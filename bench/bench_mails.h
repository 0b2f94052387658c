// The benchmark's material: lists of realistic, distinct addresses, the two
// timed mails, and random mails for the verdict cross-check.
#pragma once

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "check/mail_check.h"

// A mail as the host hands it over, owning its texts.
class BenchMail {
  public:
    BenchMail() = default;
    BenchMail(const BenchMail& other) { *this = other; }
    BenchMail& operator=(const BenchMail& other);

    void Add(std::string name, std::string value);
    const MailRecord* record() const { return &record_; }
    const std::vector<std::pair<std::string, std::string>>& headers() const { return headers_; }
    std::vector<std::pair<std::string, std::string>>& headers() { return headers_; }
    // Re-links the chain after headers() was changed.
    void Relink();

  private:
    std::vector<std::pair<std::string, std::string>> headers_;
    std::deque<HeaderField> fields_;
    MailRecord record_ = {nullptr};
};

// The first `count` of a fixed sequence of distinct addresses; the first is the
// one the pass mail is addressed to, and none occurs in the spam mail.
std::vector<std::string> MakeAddresses(size_t count);

// About 20 headers, 8 of them To, Cc, Envelope-To or Received, mentioning only
// addresses that are not listed: the check walks every header.
BenchMail SpamMail();
// The same shape, with the first listed address in To, after five Received
// lines, in other letter case.
BenchMail PassMail();

// Mails made by changing the two above: listed addresses in other case, near
// misses (a byte changed, dropped or cut off), addresses moved to headers that
// do not count, stray bytes (0x80 and up, the pairs that must not fold).
std::vector<BenchMail> RandomMails(const std::vector<std::string>& listed, size_t count,
                                   unsigned seed);

// Bytes of To, Cc, Envelope-To and Received values in a mail.
size_t AddressHeaderBytes(const BenchMail& mail);
