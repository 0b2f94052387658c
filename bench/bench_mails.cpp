#include "bench/bench_mails.h"

#include <iterator>
#include <random>
#include <set>

#include "addresses/address_list.h"
#include "addresses/ascii_case.h"

BenchMail& BenchMail::operator=(const BenchMail& other) {
    headers_ = other.headers_;
    Relink();
    return *this;
}

void BenchMail::Add(std::string name, std::string value) {
    headers_.emplace_back(std::move(name), std::move(value));
    Relink();
}

void BenchMail::Relink() {
    fields_.clear();
    for (const auto& [name, value] : headers_) {
        fields_.push_back({name.c_str(), value.c_str(), 0, nullptr});
        if (fields_.size() > 1) fields_[fields_.size() - 2].next = &fields_.back();
    }
    record_.headers = fields_.empty() ? nullptr : &fields_.front();
}

namespace {

// A realistic mail whose recipient headers name `to` (and others not listed).
BenchMail MakeMail(const std::string& toName, const std::string& to) {
    BenchMail mail;
    mail.Add("Return-Path", "<bounce-4711-carol.jones=provider.example@mailer.shop-deals.example>");
    mail.Add("Received",
             "from mx-in-3.provider.example (mx-in-3.provider.example [198.51.100.23]) by "
             "imap.provider.example (Postfix) with ESMTPS id 4F1A2B3C4D for "
             "<carol.jones@provider.example>; Tue, 12 Mar 2024 09:14:07 +0100 (CET)");
    mail.Add("Received",
             "from mail.shop-deals.example (mail.shop-deals.example [203.0.113.45]) by "
             "mx-in-3.provider.example (Postfix) with ESMTPS id 9E8D7C6B5A for "
             "<carol.jones@provider.example>; Tue, 12 Mar 2024 09:14:05 +0100 (CET)");
    mail.Add("Received",
             "from localhost (localhost [127.0.0.1]) by mail.shop-deals.example (Postfix) with "
             "ESMTP id 1234ABCD for <newsletter-list@shop-deals.example>; Tue, 12 Mar 2024 "
             "08:14:03 +0000");
    mail.Add("Received",
             "by 2002:a05:6402:1234:b0:56c:1234:5678 with SMTP id x12csp123456ejb; Tue, 12 Mar "
             "2024 01:14:02 -0700 (PDT)");
    mail.Add("Received",
             "from [10.20.30.40] (helo=sender.shop-deals.example) by relay.shop-deals.example "
             "with esmtpa (Exim 4.96) (envelope-from <offers@shop-deals.example>) id "
             "1rk2Xy-000Abc-Qr; Tue, 12 Mar 2024 08:14:01 +0000");
    mail.Add("From", "\"Shop Deals\" <offers@shop-deals.example>");
    mail.Add("Reply-To", "\"Shop Deals Service\" <service@shop-deals.example>");
    mail.Add("To", "\"" + toName + "\" <" + to + ">");
    mail.Add("Cc",
             "\"Offers Team\" <team@shop-deals.example>, \"Partner Desk\" "
             "<partners@deals-network.example>, undisclosed-recipients:;");
    mail.Add("Envelope-To", "carol.jones@provider.example");
    mail.Add("Subject", "Only today: 70% off everything in our spring sale");
    mail.Add("Date", "Tue, 12 Mar 2024 08:14:00 +0000");
    mail.Add("Message-ID", "<20240312081400.1rk2Xy-000Abc-Qr@relay.shop-deals.example>");
    mail.Add("MIME-Version", "1.0");
    mail.Add("Content-Type", "multipart/alternative; boundary=\"=_b1a2c3d4e5f6\"");
    mail.Add("List-Unsubscribe",
             "<mailto:unsubscribe-4711@mailer.shop-deals.example>, "
             "<https://shop-deals.example/u/4711>");
    mail.Add("X-Mailer", "DealCaster 5.2 (build 20240301)");
    mail.Add("DKIM-Signature",
             "v=1; a=rsa-sha256; c=relaxed/relaxed; d=shop-deals.example; s=s1; "
             "h=from:to:subject:date; bh=47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=");
    mail.Add("X-Spam-Score", "3.2");
    return mail;
}

const char* const kFirst[] = {
    "ann",   "bob",   "carla", "david", "emma",   "frank", "grace",  "henry", "iris",  "jack",
    "karen", "liam",  "maria", "noah",  "olivia", "peter", "quinn",  "rosa",  "sam",   "tina",
    "uwe",   "vera",  "will",  "xenia", "yusuf",  "zoe",   "alex",   "bea",   "chris", "dana",
    "elif",  "femi",  "gita",  "hugo",  "ines",   "jonas", "kemal",  "lena",  "marco", "nina",
    "oscar", "paula", "ravi",  "sofia", "theo",   "ugo",   "vikram", "wanda", "yara",  "zeno"};
const char* const kLast[] = {
    "lee",    "marsh",  "novak",   "okafor", "patel",  "quist",  "rossi",  "schmidt",  "tanaka",
    "ueda",   "varga",  "weber",   "xu",     "young",  "zhang",  "adams",  "baker",    "costa",
    "dubois", "evans",  "fischer", "garcia", "hansen", "ito",    "jensen", "kowalski", "larsen",
    "moreau", "nagy",   "olsen",   "perez",  "quinto", "reyes",  "silva",  "torres",   "ulrich",
    "vogel",  "wagner", "yilmaz",  "zimmer", "brown",  "clarke", "davies", "ellis",    "foster",
    "gray",   "hughes", "irwin",   "jones",  "khan"};
const char* const kDomains[] = {"example.com",         "example.org",      "provider.example",
                                "mail.example.net",    "work.example",     "uni-north.example.edu",
                                "family.example",      "club.example.org", "shop-deals.example",
                                "research.example.com"};

}  // namespace

std::vector<std::string> MakeAddresses(size_t count) {
    std::vector<std::string> addresses = {"ann.lee@example.com"};
    std::set<std::string> seen(addresses.begin(), addresses.end());
    const BenchMail spam = SpamMail();
    std::mt19937 random(1234);
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    while (addresses.size() < count) {
        const std::string first = kFirst[pick(std::size(kFirst))];
        const std::string last = kLast[pick(std::size(kLast))];
        std::string local;
        switch (pick(6)) {
            case 0:
                local = first + "." + last;
                break;
            case 1:
                local = first.substr(0, 1) + last;
                break;
            case 2:
                local = first + "_" + last;
                break;
            case 3:
                local = first + "." + last + std::to_string(pick(100));
                break;
            case 4:
                local = first + std::to_string(1950 + pick(60));
                break;
            default:
                local = first + "." + last.substr(0, 1) + std::to_string(pick(1000));
                break;
        }
        const std::string address = local + "@" + kDomains[pick(std::size(kDomains))];
        // Distinct, and not part of anything the spam mail's recipient headers say.
        bool inSpam = false;
        for (const auto& [name, value] : spam.headers()) {
            if (IsAddressHeader(name.c_str()) && ContainsNoCase(value.c_str(), address.c_str())) {
                inSpam = true;
            }
        }
        if (!inSpam && seen.insert(address).second) addresses.push_back(address);
    }
    addresses.resize(count);
    return addresses;
}

BenchMail SpamMail() {
    return MakeMail("Carol Jones", "carol.jones@provider.example");
}

BenchMail PassMail() {
    return MakeMail("Ann Lee", "Ann.Lee@Example.COM");
}

std::vector<BenchMail> RandomMails(const std::vector<std::string>& listed, size_t count,
                                   unsigned seed) {
    std::mt19937 random(seed);
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    auto mangle = [&](std::string text) {
        switch (pick(5)) {
            case 0:  // other letter case: still a match
                for (char& c : text) {
                    if (pick(2) && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) c ^= 0x20;
                }
                break;
            case 1:
                text.erase(pick(text.size()), 1);
                break;
            case 2:
                text[pick(text.size())] ^= static_cast<char>(0x20);
                break;  // '@' -> '`', ...
            case 3:
                text.resize(text.size() - 1 - pick(3));
                break;
            default:
                text[pick(text.size())] = static_cast<char>(0x80 + pick(128));
                break;
        }
        return text;
    };
    static const char* const kNames[] = {"To",   "Cc",           "Envelope-To", "Received",
                                         "From", "Delivered-To", "tO",          "RECEIVED"};
    std::vector<BenchMail> mails;
    for (size_t i = 0; i < count; ++i) {
        BenchMail mail = pick(2) ? SpamMail() : PassMail();
        auto& headers = mail.headers();
        for (size_t changes = 1 + pick(4); changes > 0; --changes) {
            auto& [name, value] = headers[pick(headers.size())];
            const std::string& address = listed[pick(listed.size())];
            switch (pick(4)) {
                case 0:
                    value = "<" + mangle(address) + ">";
                    break;
                case 1:
                    value.insert(pick(value.size() + 1), mangle(address));
                    break;
                case 2:
                    name = kNames[pick(std::size(kNames))];
                    break;
                default:
                    value.insert(pick(value.size() + 1),
                                 std::string(1, "\xc0\xe0@`[{\xff "[pick(8)]));
                    break;
            }
        }
        mail.Relink();
        mails.push_back(std::move(mail));
    }
    return mails;
}

size_t AddressHeaderBytes(const BenchMail& mail) {
    size_t bytes = 0;
    for (const auto& [name, value] : mail.headers()) {
        if (IsAddressHeader(name.c_str())) bytes += value.size();
    }
    return bytes;
}
